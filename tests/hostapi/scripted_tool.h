#pragma once
// A tool that answers from a script, for replies the simulator never gives
// (page frames of different sizes in one reply): it listens on loopback,
// takes one connection, and answers the n-th command frame it receives with
// the n-th scripted block of bytes (nothing once the script is used up).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class ScriptedTool {
public:
    ScriptedTool();
    ~ScriptedTool();
    ScriptedTool(const ScriptedTool&) = delete;
    ScriptedTool& operator=(const ScriptedTool&) = delete;

    // The loopback port it listens on, or -1.
    int Port() const { return m_port; }
    void Answer(const std::vector<uint8_t>& bytes);
    size_t CommandsReceived() const;

private:
    void Run();

    SOCKET m_listener;
    int m_port;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_script;
    size_t m_commands = 0;
    std::thread m_thread;
};
