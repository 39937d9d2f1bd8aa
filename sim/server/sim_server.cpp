#include "sim/server/sim_server.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "protocol/hex_text.h"
#include "sim/server/sim_link.h"

namespace vxsim {

namespace {

constexpr int kLongestWaitMs = 10;
constexpr int64_t kRetryUs = 50000;

void SetNonBlocking(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

SOCKET AcceptPending(SOCKET listener, int waitMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval tv;
    tv.tv_sec = 0;
    tv.tv_usec = waitMs * 1000;
    if (select(0, &readable, nullptr, nullptr, &tv) <= 0) return INVALID_SOCKET;
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
        u_long off = 0;
        ioctlsocket(s, FIONBIO, &off);
    }
    return s;
}

} // namespace

SimServer::SimServer() {
    WSADATA data;
    m_wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    m_startUs = NowUs();
}

SimServer::~SimServer() {
    Stop();
    if (m_wsa) WSACleanup();
}

int64_t SimServer::NowUs() const {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<int64_t>(c.QuadPart / f.QuadPart * 1000000 + (c.QuadPart % f.QuadPart) * 1000000 / f.QuadPart);
}

int SimServer::ListenTcp(int port) {
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_mode != Mode::kNone || !m_wsa || port < 0 || port > 65535) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    sockaddr_in addr;
    ZeroMemory(&addr, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        m_lastError = "cannot listen on 127.0.0.1:" + std::to_string(port);
        closesocket(s);
        return -1;
    }
    SetNonBlocking(s);
    m_listener = s;
    m_port = ntohs(addr.sin_port);
    m_mode = Mode::kListen;
    Start();
    return m_port;
}

SOCKET SimServer::TryConnect() {
    addrinfo hints;
    ZeroMemory(&hints, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(m_host.c_str(), std::to_string(m_port).c_str(), &hints, &found) != 0 || found == nullptr)
        return INVALID_SOCKET;
    SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    return s;
}

bool SimServer::ConnectTcp(const std::string& host, int port, unsigned timeoutMs) {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (m_mode != Mode::kNone || !m_wsa || port <= 0 || port > 65535) return false;
        m_host = host;
        m_port = port;
    }
    const int64_t deadline = NowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    for (;;) {
        SOCKET s = TryConnect();
        if (s != INVALID_SOCKET) {
            std::lock_guard<std::mutex> lk(m_lock);
            m_link.reset(new TcpLink(s));
            m_connected = true;
            ++m_connections;
            m_mode = Mode::kConnect;
            Start();
            return true;
        }
        if (NowUs() >= deadline) break;
        Sleep(50);
    }
    std::lock_guard<std::mutex> lk(m_lock);
    m_lastError = "cannot connect to " + host + ":" + std::to_string(port);
    return false;
}

bool SimServer::OpenCom(int number) {
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_mode != Mode::kNone) return false;
    ComLink* link = ComLink::Open(number);
    if (link == nullptr) {
        m_lastError = "cannot open COM" + std::to_string(number) + " at 38400 8N1";
        return false;
    }
    m_link.reset(link);
    m_comNumber = number;
    m_connected = true;
    ++m_connections;
    m_mode = Mode::kCom;
    Start();
    return true;
}

void SimServer::Start() {
    m_thread = std::thread([this] { Run(); });
}

void SimServer::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard<std::mutex> lk(m_lock);
    m_link.reset();
    m_connected = false;
    if (m_listener != INVALID_SOCKET) {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
    }
    if (m_recordFile) {
        fclose(m_recordFile);
        m_recordFile = nullptr;
    }
    m_finished = true;
    m_changed.notify_all();
}

void SimServer::Run() {
    while (!m_stop) {
        if (EnsureLink()) Serve();
    }
    std::lock_guard<std::mutex> lk(m_lock);
    m_link.reset();
    m_connected = false;
    m_finished = true;
    m_changed.notify_all();
}

bool SimServer::EnsureLink() {
    const int64_t now = NowUs();
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (m_closeRequested) {
            m_closeRequested = false;
            if (m_link && m_mode != Mode::kCom) DropLink("closed on request");
        }
    }
    SOCKET fresh = INVALID_SOCKET;
    if (m_link) {
        // A new connection replaces the current one.
        if (m_mode == Mode::kListen) fresh = AcceptPending(m_listener, 0);
        if (fresh == INVALID_SOCKET) return true;
    } else if (m_mode == Mode::kCom) {
        Sleep(kLongestWaitMs);
        return false;
    } else if (m_mode == Mode::kListen) {
        fresh = AcceptPending(m_listener, kLongestWaitMs);
    } else if (m_mode == Mode::kConnect) {
        if (now >= m_nextAttemptUs) {
            fresh = TryConnect();
            m_nextAttemptUs = now + kRetryUs;
        }
        if (fresh == INVALID_SOCKET) Sleep(kLongestWaitMs);
    }
    if (fresh == INVALID_SOCKET) return false;
    std::lock_guard<std::mutex> lk(m_lock);
    m_link.reset(new TcpLink(fresh));
    m_connected = true;
    ++m_connections;
    m_tool.ClearInput();
    m_schedule.Clear();
    Record("# connected");
    m_changed.notify_all();
    return true;
}

void SimServer::Serve() {
    int waitMs = kLongestWaitMs;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        const int64_t next = m_schedule.NextDueUs();
        if (next != WireSchedule::kNever)
            waitMs = static_cast<int>(std::min<int64_t>(kLongestWaitMs, std::max<int64_t>(0, (next - NowUs()) / 1000)));
        if (m_closeRequested) return;
    }
    uint8_t buffer[4096];
    const int n = m_link->Read(buffer, sizeof buffer, waitMs);
    if (n < 0) {
        std::lock_guard<std::mutex> lk(m_lock);
        DropLink("closed by the host");
        if (!m_reconnect) m_stop = true;
        return;
    }
    WireStep step;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        const int64_t now = NowUs();
        if (n > 0) {
            m_received.insert(m_received.end(), buffer, buffer + n);
            if (m_recordFile) Record(BytesToHexNarrow(buffer, static_cast<size_t>(n)).c_str());
            ChunkList reply;
            const size_t before = m_tool.Counters().commands;
            m_tool.Receive(buffer, static_cast<size_t>(n), now / 1000, reply);
            // A new command makes the tool drop a reply it is still holding
            // back (a delay fault): the host has given up on it, and a late
            // answer would be taken for the new command's.
            if (m_tool.Counters().commands != before) m_schedule.Clear();
            m_schedule.Push(reply, now);
            if (m_tool.Counters().commands != before) m_changed.notify_all();
        }
        m_schedule.Take(now, step);
    }
    bool ok = true;
    for (const WirePiece& piece : step.pieces) ok = ok && m_link->Write(piece.bytes.data(), piece.bytes.size());
    std::lock_guard<std::mutex> lk(m_lock);
    m_framesAnswered += step.framesEnded;
    if (!ok) {
        DropLink("write failed");
        if (!m_reconnect) m_stop = true;
    }
}

void SimServer::DropLink(const char* why) {
    // Called with m_lock held, on the server's thread (or after it ended).
    m_link.reset();
    m_connected = false;
    m_schedule.Clear();
    m_tool.ClearInput();
    std::string line = std::string("# ") + why;
    Record(line.c_str());
    m_changed.notify_all();
}

void SimServer::Record(const char* text) {
    if (!m_recordFile) return;
    const double seconds = static_cast<double>(NowUs() - m_startUs) / 1e6;
    fprintf(m_recordFile, "%.3f %s\n", seconds, text);
    fflush(m_recordFile);
}

bool SimServer::Configure(const ToolConfig& config) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_tool.Configure(config);
    m_schedule.SetPacing(config.pacing || config.lineRate != 0);
    return true;
}

bool SimServer::Configure(const std::string& text, std::string* error) {
    ToolConfig config = Config();
    return ParseToolConfig(text, config, error) && Configure(config);
}

ToolConfig SimServer::Config() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_tool.Config();
}

void SimServer::SetReconnect(bool on) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_reconnect = on;
}

bool SimServer::SetRecordFile(const std::string& path) {
    std::lock_guard<std::mutex> lk(m_lock);
    FILE* f = fopen(path.c_str(), "w");
    if (!f) {
        m_lastError = "cannot write " + path;
        return false;
    }
    if (m_recordFile) fclose(m_recordFile);
    m_recordFile = f;
    return true;
}

uint32_t SimServer::ToolRate() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_tool.Rate();
}

void SimServer::CloseConnection() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_closeRequested = true;
}

std::vector<uint8_t> SimServer::Received() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_received;
}

void SimServer::ClearReceived() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_received.clear();
}

std::vector<std::vector<uint8_t>> SimServer::Commands() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return std::vector<std::vector<uint8_t>>(m_tool.Commands().begin(), m_tool.Commands().end());
}

size_t SimServer::CommandCount() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return static_cast<size_t>(m_tool.Counters().commands);
}

size_t SimServer::FramesAnswered() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_framesAnswered;
}

uint64_t SimServer::FaultsFired() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_tool.Faults().Fired();
}

ToolCounters SimServer::Counters() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_tool.Counters();
}

bool SimServer::IsConnected() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_connected;
}

size_t SimServer::Connections() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_connections;
}

std::string SimServer::LastError() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_lastError;
}

bool SimServer::WaitFinished(unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lk(m_lock);
    return m_changed.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return m_finished; });
}

} // namespace vxsim
