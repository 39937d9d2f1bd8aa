#pragma once
// The kit every Windows test program shares (vx_test_kit: vornex.dll's import library and the in-process tool
// simulator). Every wait is bounded and keeps this thread's window messages flowing (a TCP port's notifications arrive
// as messages of the thread that attached it).
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/server/sim_server.h"
#include "support/loopback.h"
#include "vornex.h"

namespace vxt {

void Pump();  // dispatches this thread's pending window messages
// Pumps until cond holds or ms have passed: cond's last value.
bool WaitUntil(const std::function<bool()>& cond, DWORD ms);
std::string TempPath(const std::string& name);  // fresh, in the temporary folder
template <typename Path>  // a narrow or wide path; empty when there is no file
std::string ReadFile(const Path& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Owns an array the host side holds and destroys it at the end.
class Array {
public:
    explicit Array(SAFEARRAY* array = nullptr) : m_array(array) {}
    ~Array() { if (m_array) SafeArrayDestroy(m_array); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    SAFEARRAY* get() const { return m_array; }
    SAFEARRAY** out() { return &m_array; }
private:
    SAFEARRAY* m_array;
};
// A vector of an integer type (or VT_R8) from lower bound `lower`; a matrix, element (r, c) = values[r * columns + c].
SAFEARRAY* Vector(VARTYPE type, LONG lower, const std::vector<long>& values);
SAFEARRAY* Bytes(const std::vector<uint8_t>& values);  // VT_UI1 from 0
SAFEARRAY* Matrix(VARTYPE type, ULONG rows, ULONG columns, const std::vector<long>& values, LONG lower = 0);
VARTYPE TypeOf(SAFEARRAY* array);
long CountOf(SAFEARRAY* array, UINT dim);  // -1 when unreadable
// The type and each dimension's bounds: "I1[0..11]", "UI1[0..271][0..2]".
std::string Shape(SAFEARRAY* array);
std::vector<uint8_t> BytesOf(SAFEARRAY* array);  // 1-byte elements
uint8_t At(SAFEARRAY* array, long first, long second);  // 2-D, 1-byte elements
std::vector<std::wstring> StringsOf(SAFEARRAY* array);
std::vector<long> LongsOf(SAFEARRAY* array);

std::vector<uint8_t> FrameOf(const std::wstring& text, bool addressed = false);  // as the library writes it
std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& payload);  // as a tool answers
std::vector<uint8_t> RecordBytes(CRobotCommand* record);  // the part under the walk
bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle);

// A tool on loopback TCP that answers the n-th command frame with the n-th scripted block (garbage, bad frames,
// nothing at all); commands past the script get no answer. One connection at a time.
class ScriptedTool {
public:
    ScriptedTool();
    ~ScriptedTool();
    int Port() const { return m_port; }
    void Answer(const std::vector<uint8_t>& bytes);  // empty: silence for that command
    size_t Commands() const;

private:
    void Run();
    int m_port = -1;
    SOCKET m_listener;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_script;
    size_t m_commands = 0;
    std::thread m_thread;
};

// Loaded before vornex.dll needs it, so that both see the same devices.
namespace ftdi {
// The four standard devices, none open: "Vornex Sim Tool" (0x1011, COM9),
// "Twin Tool" twice (0x2022, 0x3033) and "Spare Tool" (0x4044, no COM).
bool Reset();
// SIM_Control / SIM_Query text ("dev:N " selects a device; see sim_control.cpp):
// e.g. "fault 0a01:ioerror#1", "txstuck on", "devices ..."; "devicerate", "open".
int Control(const std::string& command);
long long Query(const std::string& name);
std::vector<uint8_t> Written(int device = 0);
}  // namespace ftdi

// The COM number and bridge port of this program's pty link (the ctest fixture named by VX_COM_FIXTURE), and
// the line settings the port was last given ("38400 8N1"); false when there is none.
bool ComLink(int& com, int& bridgePort, std::string* line = nullptr);

enum class PortKind { Tcp, Com, Ftdi };
const char* Name(PortKind kind);
extern const PortKind kEveryPort[3];
bool Release(PortKind kind, PORT_HANDLE port);  // the release function of that kind

// A robot object linked to the simulated tool, set up in the host's order (create, attach, settings, start
// polling) and ended in it (stop polling, destroy, release the port). The robot logs to Log(). On COM one
// command ("0000") has made a round trip before the test starts.
class Rig {
public:
    struct Options {
        unsigned timeoutMs = 1000;    // ROBOT_SetTimeout
        bool poll = true;             // ROBOT_StartPolling
        uint32_t lineRate = 0;        // TCP/COM: pace answers at this rate (0: no pacing)
        const wchar_t* host = L"127.0.0.1";  // TCP: the name the robot connects to
    };
    explicit Rig(PortKind kind) : Rig(kind, Options()) {}
    // tcpPort: a TCP link to a tool of the test's own on this loopback port (a ScriptedTool); Sim() is null.
    Rig(PortKind kind, const Options& options, int tcpPort = 0);
    explicit Rig(int tcpPort) : Rig(PortKind::Tcp, Options(), tcpPort) {}
    ~Rig();

    bool Attached() const { return m_port != nullptr; }
    // The test destroyed the robot or released the port itself.
    void ForgetRobot() { m_robot = nullptr; }
    void ForgetPort() { m_port = nullptr; }
    ROBOT_HANDLE robot() const { return m_robot; }
    PORT_HANDLE port() const { return m_port; }
    vxsim::SimServer* Sim() { return m_sim.get(); }  // TCP and COM only

    // The same on every kind: fault rules (sim/fault_plan.h), what the tool received, the robot's log.
    bool AddFaults(const std::string& rules);
    std::vector<uint8_t> ToolReceived();
    void ClearToolReceived();
    bool WaitToolReceived(const std::vector<uint8_t>& bytes, DWORD ms = 3000);
    std::string Log();
    bool WaitLog(const std::string& text, DWORD ms = 3000);

    long Send(const std::wstring& text);
    // Waits for id to finish, then ROBOT_GetReplyBytes: the size of a one-part reply (its bytes to bytes) or
    // the largest part's, -1 abandoned; not in time, a failure of the test and 0.
    long Wait(long id, DWORD ms = 5000, std::vector<uint8_t>* bytes = nullptr);
    // Send + ROBOT_WaitReplyBytes + ROBOT_DeleteReply: the reply, empty if none.
    std::vector<uint8_t> RoundTrip(const std::wstring& text, DWORD ms = 5000);

private:
    PortKind m_kind;
    ROBOT_HANDLE m_robot = nullptr;
    PORT_HANDLE m_port = nullptr;
    std::unique_ptr<vxsim::SimServer> m_sim;
    std::string m_logPath;
};

}  // namespace vxt
