#include "framework/socket_notifier.h"

#include <map>

#include "framework/async_socket.h"
#include "framework/module_state.h"

namespace {

const wchar_t kWindowClass[] = L"VornexSocketNotify";
// Message numbers come from a private range of WM_APP, one per registration.
constexpr UINT kFirstMessage = WM_APP + 0x100;
constexpr UINT kMessageCount = 0x3E00;

struct Route {
    CAsyncSocket* object;
    UINT message;
};

struct Routing {
    // Held while a handler runs, so that Unregister on another thread waits
    // for it; re-entrant, so a handler may close or re-create its socket.
    CRITICAL_SECTION lock;
    std::map<SOCKET, Route> routes;
    std::map<DWORD, HWND> windows;  // by owning thread
    UINT nextMessage = 0;
    bool classRegistered = false;
};

// When the library is unloaded, windows of threads that live on must no
// longer call into its code: they fall back to the system's window procedure
// and close themselves when their thread next pumps.
class RetargetWindowsAtUnload {
public:
    explicit RetargetWindowsAtUnload(Routing* routing) : m_routing(routing) {}
    ~RetargetWindowsAtUnload() {
        EnterCriticalSection(&m_routing->lock);
        for (const auto& entry : m_routing->windows) {
            if (!IsWindow(entry.second)) continue;
            SetWindowLongPtrW(entry.second, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
            PostMessageW(entry.second, WM_CLOSE, 0, 0);
        }
        m_routing->windows.clear();
        m_routing->routes.clear();
        LeaveCriticalSection(&m_routing->lock);
    }

private:
    Routing* m_routing;
};

Routing& TheRouting() {
    // Never freed: sockets may still be closed while static objects go away.
    static Routing* routing = [] {
        Routing* r = new Routing;
        InitializeCriticalSection(&r->lock);
        return r;
    }();
    static RetargetWindowsAtUnload retarget(routing);
    return *routing;
}

class RoutingHold {
public:
    RoutingHold() : m_routing(TheRouting()) { EnterCriticalSection(&m_routing.lock); }
    ~RoutingHold() { LeaveCriticalSection(&m_routing.lock); }
    Routing* operator->() { return &m_routing; }
    RoutingHold(const RoutingHold&) = delete;
    RoutingHold& operator=(const RoutingHold&) = delete;

private:
    Routing& m_routing;
};

} // namespace

HWND CSocketNotifier::WindowOfThisThread() {
    const DWORD thread = GetCurrentThreadId();
    RoutingHold routing;
    auto found = routing->windows.find(thread);
    // A thread id can be reused after its thread ended (and its window died).
    if (found != routing->windows.end() && IsWindow(found->second) &&
        GetWindowThreadProcessId(found->second, nullptr) == thread)
        return found->second;

    HINSTANCE instance = LibraryModuleState()->instance;
    if (!routing->classRegistered) {
        // The class itself uses the system's procedure; each window is then
        // pointed at ours. A class left behind by an earlier load of the
        // library is thus harmless to reuse.
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &DefWindowProcW;
        wc.hInstance = instance;
        wc.lpszClassName = kWindowClass;
        if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) routing->classRegistered = true;
    }
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window) return nullptr;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSocketNotifier::WindowProc));
    routing->windows[thread] = window;
    return window;
}

UINT CSocketNotifier::Register(SOCKET socket, CAsyncSocket* object) {
    if (socket == INVALID_SOCKET || !object) return 0;
    RoutingHold routing;
    const UINT message = kFirstMessage + routing->nextMessage;
    routing->nextMessage = (routing->nextMessage + 1) % kMessageCount;
    routing->routes[socket] = Route{object, message};
    return message;
}

void CSocketNotifier::Unregister(SOCKET socket) {
    RoutingHold routing;
    routing->routes.erase(socket);
}

LRESULT CALLBACK CSocketNotifier::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message < kFirstMessage || message >= kFirstMessage + kMessageCount)
        return DefWindowProcW(window, message, wParam, lParam);
    RoutingHold routing;
    auto found = routing->routes.find(static_cast<SOCKET>(wParam));
    if (found != routing->routes.end() && found->second.message == message)
        found->second.object->Dispatch(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    return 0;
}
