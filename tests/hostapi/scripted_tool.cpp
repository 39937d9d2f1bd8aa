#include "scripted_tool.h"

ScriptedTool::ScriptedTool() : m_listener(INVALID_SOCKET), m_port(-1) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (m_listener == INVALID_SOCKET || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 1) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

ScriptedTool::~ScriptedTool() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
    WSACleanup();
}

void ScriptedTool::Answer(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_script.push_back(bytes);
}

size_t ScriptedTool::CommandsReceived() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_commands;
}

namespace {

// Waits up to 50 ms for socket to become readable.
bool Readable(SOCKET socket) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait = {0, 50000};
    return select(0, &set, nullptr, nullptr, &wait) > 0;
}

} // namespace

void ScriptedTool::Run() {
    SOCKET client = INVALID_SOCKET;
    std::vector<uint8_t> pending;
    while (!m_stop) {
        if (client == INVALID_SOCKET) {
            if (Readable(m_listener)) client = accept(m_listener, nullptr, nullptr);
            continue;
        }
        if (!Readable(client)) continue;
        char buffer[4096];
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) {
            closesocket(client);
            client = INVALID_SOCKET;
            pending.clear();
            continue;
        }
        pending.insert(pending.end(), buffer, buffer + got);
        // A command frame runs from A5 5A to FA AF; the library sends each in
        // one write, so a block that ends with the end marker is a command.
        if (pending.size() < 8 || pending[0] != 0xA5 || pending[1] != 0x5A || pending[pending.size() - 2] != 0xFA ||
            pending.back() != 0xAF)
            continue;
        pending.clear();
        std::vector<uint8_t> answer;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_commands < m_script.size()) answer = m_script[m_commands];
            ++m_commands;
        }
        size_t sent = 0;
        while (sent < answer.size()) {
            const int n = send(client, reinterpret_cast<const char*>(answer.data() + sent),
                               static_cast<int>(answer.size() - sent), 0);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
    if (client != INVALID_SOCKET) closesocket(client);
}
