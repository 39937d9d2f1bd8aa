#include "scripted_tool.h"

ScriptedTool::ScriptedTool(Script script) : m_script(std::move(script)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_listener, 1) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

ScriptedTool::~ScriptedTool() {
    m_stop = true;
    closesocket(m_listener);
    if (m_thread.joinable()) m_thread.join();
    WSACleanup();
}

void ScriptedTool::Serve() {
    // Waits in short slices so that the destructor's stop is seen.
    SOCKET peer = INVALID_SOCKET;
    while (!m_stop && peer == INVALID_SOCKET) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener, &readable);
        timeval slice = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &slice) > 0) peer = accept(m_listener, nullptr, nullptr);
    }
    std::vector<uint8_t> held;
    while (!m_stop && peer != INVALID_SOCKET) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(peer, &readable);
        timeval slice = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &slice) <= 0) continue;
        char buffer[1024];
        const int got = recv(peer, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        held.insert(held.end(), buffer, buffer + got);
        for (;;) {
            size_t start = 0;
            while (start + 1 < held.size() && !(held[start] == 0xA5 && held[start + 1] == 0x5A)) ++start;
            held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(start));
            if (held.size() < 4) break;
            const size_t words = (static_cast<size_t>(held[2] >> 4) << 8) | held[3];
            const size_t length = 2 * words + 4;
            if (words < 2 || held.size() < length) break;
            const std::vector<uint8_t> payload(held.begin() + 4, held.begin() + static_cast<std::ptrdiff_t>(2 * words));
            held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(length));
            const std::vector<uint8_t> reply = m_script(++m_commands, payload);
            if (!reply.empty()) send(peer, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()), 0);
        }
    }
    if (peer != INVALID_SOCKET) closesocket(peer);
}
