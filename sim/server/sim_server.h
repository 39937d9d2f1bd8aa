#pragma once
// The simulated tool behind a real link, in a background thread: listening
// on loopback TCP, connecting out to a TCP port (a pty bridge standing for a
// COM port), or on a COM port. Every member is safe to call from any thread.
//
//   vxsim::SimServer sim;
//   int port = sim.ListenTcp();          // ephemeral port on 127.0.0.1
//   sim.AddFaults("be4d:droppage=1#1");
//   ... host talks to 127.0.0.1:port ...
//   sim.WaitForCommands(1, 2000);
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/tool_model.h"
#include "sim/wire_schedule.h"

namespace vxsim {

class SimLink;

class SimServer {
public:
    SimServer();
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Starting: one of the three, once. ListenTcp returns the port (port 0
    // picks a free one) or -1. ConnectTcp returns once connected, false after
    // timeoutMs. OpenCom opens \\.\COMn at 38400 8N1.
    int ListenTcp(int port = 0);
    bool ConnectTcp(const std::string& host, int port, unsigned timeoutMs = 5000);
    bool OpenCom(int number);
    // Ends the thread and the link; also done by the destructor.
    void Stop();

    // The tool and its faults (tool_config.h). Configure(text) reads the
    // settings of text on top of the current ones: Configure("fault
    // be4d:droppage=1#1"), Configure("pacing=on triple=on").
    bool Configure(const ToolConfig& config);
    bool Configure(const std::string& text, std::string* error = nullptr);
    ToolConfig Config() const;
    bool AddFaults(const std::string& rules, std::string* error = nullptr) { return Configure("fault " + rules, error); }
    void SetFixedLineRate(uint32_t rate) { Configure("rate=" + std::to_string(rate)); }
    // Whether a TCP link is made again after it was lost (default on); when
    // off, the server ends once the host closes its end.
    void SetReconnect(bool on);
    // Appends a timestamped hex line per block received; false if the file
    // cannot be opened.
    bool SetRecordFile(const std::string& path);

    // Drops the connection (a new one is accepted or made again).
    void CloseConnection();

    // What happened.
    std::vector<uint8_t> Received() const;
    void ClearReceived();
    std::vector<std::vector<uint8_t>> Commands() const;
    size_t CommandCount() const;
    size_t FramesAnswered() const;
    uint32_t ToolRate() const;
    ToolCounters Counters() const;
    // Faults applied so far (rules and random mode together).
    uint64_t FaultsFired() const;
    bool IsConnected() const;
    size_t Connections() const;
    std::string LastError() const;
    // True once the server has ended, false after timeoutMs.
    bool WaitFinished(unsigned timeoutMs) const;

private:
    enum class Mode { kNone, kListen, kConnect, kCom };
    void Start();
    void Run();
    bool EnsureLink();
    void Serve();
    void DropLink(const char* why);
    SOCKET TryConnect();
    int64_t NowUs() const;
    void Record(const char* text);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_wsa = false;

    // Set before the thread starts.
    Mode m_mode = Mode::kNone;
    SOCKET m_listener = INVALID_SOCKET;
    std::string m_host;
    int m_port = -1;
    int m_comNumber = 0;

    // Thread side; shared fields under m_lock.
    std::unique_ptr<SimLink> m_link;
    ToolModel m_tool;
    WireSchedule m_schedule;
    std::vector<uint8_t> m_received;
    size_t m_framesAnswered = 0;
    size_t m_connections = 0;
    bool m_connected = false;
    bool m_finished = false;
    bool m_reconnect = true;
    bool m_closeRequested = false;
    int64_t m_nextAttemptUs = 0;
    FILE* m_recordFile = nullptr;
    std::string m_lastError;
    int64_t m_startUs = 0;
};

} // namespace vxsim
