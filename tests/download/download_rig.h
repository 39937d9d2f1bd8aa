#pragma once
// vornex.dll as a host drives a download: the exports found by name, one
// robot object linked to the tool simulator over TCP loopback, COM9 (a pty
// whose far end is loopback TCP 47009) or the simulated FTDI device, and the
// host arrays going in and out.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/server/sim_server.h"
#include "support/vornex_host.h"

typedef std::vector<std::pair<int, char*>> PageList;
typedef void* Robot;
typedef void* Port;

// The exports a download uses, beyond what VornexHost binds.
struct DownloadExports {
    DownloadExports();

    Port(__stdcall* AttachTcpPort)(Robot, const wchar_t*, unsigned int, unsigned int);
    bool(__stdcall* ReleaseTcpPort)(Port);
    Port(__stdcall* AttachSerialPort)(Robot, int);
    bool(__stdcall* ReleaseSerialPort)(Port);
    Port(__stdcall* AttachFTDIDeviceByIndex)(Robot, unsigned long);
    bool(__stdcall* ReleaseFTDIDevice)(Port);
    long(__stdcall* SendCommandBytes)(Robot, SAFEARRAY**, long);
    long(__stdcall* ReadToolMemorySA)(Robot, SAFEARRAY**, long, long, long, SAFEARRAY**);
    long(__stdcall* ReadToolMemoryAddressed)(Robot, SAFEARRAY**, long, long, long, SAFEARRAY**, const wchar_t*);
    long(__stdcall* ResetToolRate)(Port);
    // Decorated names only: a host sharing the library's runtime links these.
    long(__stdcall* ReadFlashPages)(Robot, long, long, long, long, const wchar_t*);
    PageList*(__stdcall* ReadToolMemoryList)(Robot, SAFEARRAY**, long, long, long, long*);
    PageList*(__stdcall* ReadToolMemoryListAddressed)(Robot, SAFEARRAY**, long, long, long, long*, const wchar_t*);
};

VornexHost& Host();
const DownloadExports& Exports();

// The simulated Ftd2xx.dll, loaded once, and its control functions.
namespace ftdisim {
int Control(const std::string& command);
long long Query(const std::string& name);
std::vector<uint8_t> Written();
} // namespace ftdisim

enum class LinkKind { Tcp, Com, Ftdi };

class ToolLink {
public:
    // Attaches the link, opens a log and starts polling.
    explicit ToolLink(LinkKind kind, bool startPolling = true);
    ~ToolLink();
    ToolLink(const ToolLink&) = delete;
    ToolLink& operator=(const ToolLink&) = delete;

    bool Ready() const { return m_robot && m_port; }
    Robot robot() const { return m_robot; }
    Port port() const { return m_port; }
    vxsim::SimServer* Sim() { return m_sim.get(); }  // TCP and COM

    // Page-read payloads the tool has taken, oldest first.
    std::vector<std::vector<uint8_t>> PageReads();
    bool AddFaults(const std::string& rules);
    void SetTripleFrames(bool on);
    // The log so far (logging stops and the file is read back), with plain
    // line breaks.
    std::string StopAndReadLog();

private:
    void WarmUpLine();

    LinkKind m_kind;
    Robot m_robot = nullptr;
    Port m_port = nullptr;
    std::unique_ptr<vxsim::SimServer> m_sim;
    std::string m_logPath;
};

// A host page list: rows of (first page, page count), VT_I4, two dimensions.
class PageListArray {
public:
    explicit PageListArray(const std::vector<std::pair<long, long>>& rows);
    ~PageListArray();
    SAFEARRAY** get() { return &m_array; }

private:
    SAFEARRAY* m_array;
};

// A matrix the library handed over, read back row by row.
struct PageMatrix {
    long rows = 0;
    long width = 0;
    VARTYPE type = VT_EMPTY;
    std::vector<std::vector<uint8_t>> data;
};
// False when the array is not two-dimensional with lower bounds 0.
bool ReadPageMatrix(SAFEARRAY* array, PageMatrix& matrix);

// The 272-byte frame the simulator sends for page at index of its request.
std::vector<uint8_t> ExpectedPageFrame(uint32_t page, uint8_t index, bool sumCheck);
// CRC of bytes 0..267 stored big-end first at 268, and FA AF at the end.
bool PageFrameSealed(const std::vector<uint8_t>& frame);

// A page-read payload: BE 4D, page (LE), count, rate byte.
std::vector<uint8_t> PageReadPayload(uint32_t first, uint8_t count, uint8_t rateByte);

// The log as the host reads it, line ends made plain "\n".
std::string ReadLogFile(const std::string& path);

// Polls for the finished record of id (complete or abandoned), dispatching
// this thread's messages meanwhile: a TCP port created on this thread only
// receives while its notifications are dispatched.
CRobotCommand* WaitFinished(Robot robot, long id, DWORD ms);

bool Contains(const std::string& text, const std::string& part);
size_t CountOf(const std::string& text, const std::string& part);
