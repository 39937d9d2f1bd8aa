#pragma once
// One robot object linked to the tool simulator over a real port: TCP
// loopback, COM7 (a pty whose far end is the simulator), or the simulated
// FTDI device. The test thread made the TCP port, so every wait here keeps
// its messages flowing.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/robot_tool.h"
#include "sim/server/sim_server.h"

class CSerialPort;
class CTCPPort;
class CFTDIPort;

enum class LinkKind { Tcp, Com, Ftdi };
const char* LinkKindName(LinkKind kind);

class LinkRig {
public:
    explicit LinkRig(LinkKind kind);
    ~LinkRig();

    LinkKind Kind() const { return m_kind; }
    CRobotTool& Robot() { return *m_robot; }
    bool Attached() const { return m_attached; }

    // The simulator's side.
    std::vector<uint8_t> ToolReceived();
    void ClearToolReceived();
    bool AddFaults(const std::string& rules);
    vxsim::SimServer* Sim() { return m_sim.get(); }  // TCP and COM
    int SimControl(const std::string& command);  // FTDI only
    long long SimQuery(const std::string& name);  // FTDI only

    // Waits up to ms for cond, dispatching this thread's messages meanwhile.
    bool WaitFor(const std::function<bool()>& cond, DWORD ms);
    // The finished record of id once complete or abandoned, or null.
    CRobotCommand* WaitFinished(int id, DWORD ms);

    // The robot's log as written so far.
    std::string Log();

private:
    LinkKind m_kind;
    std::string m_logPath;
    std::unique_ptr<CRobotTool> m_robot;
    std::unique_ptr<vxsim::SimServer> m_sim;
    CSerialPort* m_serial = nullptr;
    CTCPPort* m_tcp = nullptr;
    CFTDIPort* m_ftdi = nullptr;
    HMODULE m_simDll = nullptr;
    bool m_attached = false;
};

// The bytes the library writes for a command text.
std::vector<uint8_t> FrameOf(const wchar_t* text, bool addressed = false);
std::vector<uint8_t> ToolInfoPreambleBytes();
// True when needle occurs in haystack.
bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle);
