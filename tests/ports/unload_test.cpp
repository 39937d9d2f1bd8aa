// vornex.dll loaded, used for a TCP connection and unloaded by a host that
// keeps running and pumping messages: the socket notification window of the
// host's thread outlives the library and must not call into unloaded code.
// This program does not link vornex.dll, so FreeLibrary really unloads it.
#include <gtest/gtest.h>

#include "tests/ports/loopback_peer.h"
#include "tests/ports/message_pump.h"

namespace {

typedef void*(__stdcall* CreateFn)();
typedef bool(__stdcall* DestroyFn)(void*);
typedef void*(__stdcall* AttachTcpFn)(void*, const wchar_t*, unsigned int, unsigned int);
typedef bool(__stdcall* ReleaseTcpFn)(void*);
typedef int(__stdcall* PortCountFn)();

class Library {
public:
    Library() : m_module(LoadLibraryW(L"vornex.dll")) {}
    ~Library() { Unload(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }
    void Unload() {
        if (m_module) FreeLibrary(m_module);
        m_module = nullptr;
    }

private:
    HMODULE m_module;
};

// One connection through the library's exports. connectMs 0 returns at once
// with the attempt under way; otherwise the export pumps until connected.
struct TcpSession {
    explicit TcpSession(Library& library)
        : create(library.Get<CreateFn>("ROBOT_Create")),
          destroy(library.Get<DestroyFn>("ROBOT_Destroy")),
          attach(library.Get<AttachTcpFn>("ROBOT_AttachTcpPort")),
          release(library.Get<ReleaseTcpFn>("TCP_ReleasePort")) {}
    bool Complete() const { return create && destroy && attach && release; }

    CreateFn create;
    DestroyFn destroy;
    AttachTcpFn attach;
    ReleaseTcpFn release;
};

} // namespace

TEST(LibraryUnload, NotificationsLeftQueuedAfterUnloadAreHarmlessAndAReloadWorks) {
    WinsockSession sockets;
    PeerListener listener;
    ASSERT_TRUE(listener.Valid());
    {
        Library library;
        ASSERT_TRUE(library.Loaded());
        TcpSession session(library);
        ASSERT_TRUE(session.Complete());
        ASSERT_NE(library.Get<PortCountFn>("GetPortCount"), nullptr);
        library.Get<PortCountFn>("GetPortCount")();
        void* robot = session.create();
        void* port = session.attach(robot, L"127.0.0.1", listener.Port(), 0);
        ASSERT_NE(port, nullptr);
        PeerSocket peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(peer.SendAll("queued"));
        Sleep(100);  // connect, write and read notifications wait, undispatched
        session.release(port);
        session.destroy(robot);
        library.Unload();
        EXPECT_EQ(GetModuleHandleW(L"vornex.dll"), nullptr) << "the library stayed loaded";
    }
    PumpFor(200);  // whatever was queued goes to the system's window procedure

    Library again;
    ASSERT_TRUE(again.Loaded());
    TcpSession session(again);
    ASSERT_TRUE(session.Complete());
    void* robot = session.create();
    void* port = session.attach(robot, L"127.0.0.1", listener.Port(), 5000);
    EXPECT_NE(port, nullptr) << "no connection after the reload";
    PeerSocket peer = listener.Accept();
    EXPECT_TRUE(peer.Valid());
    if (port) session.release(port);
    session.destroy(robot);
    again.Unload();
    PumpFor(100);
}
