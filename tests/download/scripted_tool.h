#pragma once
// A tool on loopback TCP that answers the n-th command frame it receives with
// whatever bytes the test's script returns: for replies the simulator never
// sends, such as page frames too short to carry a page.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

class ScriptedTool {
public:
    // reply(n, payload): the bytes to send for command n (from 1).
    typedef std::function<std::vector<uint8_t>(int, const std::vector<uint8_t>&)> Script;

    explicit ScriptedTool(Script script);
    ~ScriptedTool();
    ScriptedTool(const ScriptedTool&) = delete;
    ScriptedTool& operator=(const ScriptedTool&) = delete;

    int Port() const { return m_port; }
    int Commands() const { return m_commands; }

private:
    void Serve();

    Script m_script;
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_commands{0};
    std::thread m_thread;
};
