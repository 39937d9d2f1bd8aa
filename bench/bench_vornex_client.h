#pragma once
// vornex as a client of the round-trip benchmark: a robot on one port kind,
// polling, each round trip a command sent and its reply bytes waited for.
#include <windows.h>
#include <oleauto.h>

#include <set>
#include <string>
#include <vector>

#include "bench/bench_client.h"
#include "bench/bench_cpu.h"
#include "vornex.h"

namespace bench {

class VornexClient : public Client {
public:
    enum class Kind { kTcp, kCom, kFtdi };
    // port: the TCP port or the COM number; unused for FTDI (device 0 of the
    // D2XX library found in d2xxFolder).
    VornexClient(Kind kind, int port, const std::wstring& d2xxFolder, size_t replySize)
        : m_kind(kind), m_port(port), m_folder(d2xxFolder), m_replySize(replySize) {}

    bool Open() override {
        const std::set<DWORD> before = ThreadsOfThisProcess();
        m_robot = ROBOT_Create();
        if (m_kind == Kind::kTcp) {
            m_link = ROBOT_AttachTcpPort(m_robot, L"127.0.0.1", static_cast<unsigned>(m_port), 5000);
        } else if (m_kind == Kind::kCom) {
            m_link = ROBOT_AttachSerialPort(m_robot, m_port);
        } else {
            SetDllDirectoryW(m_folder.c_str());
            m_link = ROBOT_AttachFTDIDeviceByIndex(m_robot, 0);
            SetDllDirectoryW(nullptr);
        }
        if (!m_link) {
            ROBOT_Destroy(m_robot);
            m_robot = nullptr;
            return false;
        }
        ROBOT_StartPolling(m_robot);
        m_threads.clear();
        for (DWORD id : ThreadsOfThisProcess())
            if (!before.count(id)) m_threads.push_back(id);
        return true;
    }

    bool RoundTrip() override {
        const long id = ROBOT_SendCommand(m_robot, kCommandText);
        SAFEARRAY* reply = nullptr;
        const bool ok = ROBOT_WaitReplyBytes(m_robot, id, 5000, &reply) == static_cast<long>(m_replySize);
        if (reply) SafeArrayDestroy(reply);
        ROBOT_DeleteReply(m_robot, id);
        return ok;
    }

    void Close() override {
        if (!m_robot) return;
        ROBOT_StopPolling(m_robot);
        ROBOT_Destroy(m_robot);
        if (m_kind == Kind::kTcp) ReleaseTcpPort(m_link);
        else if (m_kind == Kind::kCom) ReleaseSerialPort(m_link);
        else ReleaseFTDIDevice(m_link);
        m_robot = nullptr;
        m_link = nullptr;
    }

    // The threads that appeared while the robot was attached and started
    // (the library's, and on FTDI the simulated driver's).
    const std::vector<DWORD>& NewThreads() const { return m_threads; }

private:
    Kind m_kind;
    int m_port;
    std::wstring m_folder;
    size_t m_replySize;
    ROBOT_HANDLE m_robot = nullptr;
    PORT_HANDLE m_link = nullptr;
    std::vector<DWORD> m_threads;
};

} // namespace bench
