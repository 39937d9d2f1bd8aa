// vornex-sim.exe as a user runs it: its command line, and a session over an
// outgoing connection that ends when the host closes its end.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim_test_util.h"
#include "tcp_client.h"

using namespace simtest;

namespace {

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

std::string ReadText(const std::wstring& path) {
    std::ifstream in(path.c_str());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts vornex-sim.exe with its output in a file.
class SimProcess {
public:
    SimProcess(const std::wstring& args, const std::wstring& output) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        m_output = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        si.hStdOutput = m_output;
        si.hStdError = m_output;
        std::wstring command = L"\"" + BinDir() + L"vornex-sim.exe\" " + args;
        m_started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &m_info) != 0;
    }
    ~SimProcess() {
        if (m_started) {
            if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
            CloseHandle(m_info.hProcess);
            CloseHandle(m_info.hThread);
        }
        if (m_output != INVALID_HANDLE_VALUE) CloseHandle(m_output);
    }
    bool Started() const { return m_started; }
    // The exit code, or -1 if it is still running after timeoutMs.
    int Wait(unsigned timeoutMs) {
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    HANDLE m_output = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION m_info = {};
    bool m_started = false;
};

} // namespace

TEST(SimProgram, BadCommandLinesGetTheUsageAndExitCodeTwo) {
    const std::wstring out = TempFile(L"vornex-sim-usage.txt");
    const wchar_t* const bad[] = {
        L"",
        L"--tcp",
        L"--tcp 70000",
        L"--tcp 0 --com 3",
        L"--com 0",
        L"--connect nohostport",
        L"--tcp 0 --fault be4d:nonsense",
        L"--tcp 0 --chance noreply=0.5",
        L"--tcp 0 --tool-info 123",
        L"--com 3 --once",
        L"--tcp 0 --frobnicate",
    };
    for (const wchar_t* args : bad) {
        {
            SimProcess p(args, out);
            ASSERT_TRUE(p.Started());
            EXPECT_EQ(2, p.Wait(10000)) << "args: " << std::string(args, args + wcslen(args));
        }
        const std::string text = ReadText(out);
        EXPECT_NE(std::string::npos, text.find("vornex-sim: ")) << text;
        EXPECT_NE(std::string::npos, text.find("usage: vornex-sim")) << text;
    }
    {
        SimProcess help(L"--help", out);
        EXPECT_EQ(0, help.Wait(10000));
    }
    EXPECT_NE(std::string::npos, ReadText(out).find("--record FILE"));
    DeleteFileW(out.c_str());
}

TEST(SimProgram, ConnectModeAnswersAndEndsWhenTheHostCloses) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(listener, 1));
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len));
    const int port = ntohs(addr.sin_port);

    const std::wstring out = TempFile(L"vornex-sim-session.txt");
    const std::wstring record = TempFile(L"vornex-sim-session-record.txt");
    SimProcess p(L"--connect 127.0.0.1:" + std::to_wstring(port) + L" --record \"" + record + L"\" --fault be71:delay=1",
                 out);
    ASSERT_TRUE(p.Started());
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval tv = {20, 0};
    ASSERT_EQ(1, select(0, &readable, nullptr, nullptr, &tv));
    {
        TcpClient host(accept(listener, nullptr, nullptr));
        Bytes request = Preamble();
        const Bytes f = Frame(L"BE09");
        request.insert(request.end(), f.begin(), f.end());
        ASSERT_TRUE(host.Send(request));
        const Bytes reply = host.Read(10, 5000);
        EXPECT_EQ(std::string("9.1.V1.0.0"), std::string(reply.begin(), reply.end()));
    }
    EXPECT_EQ(0, p.Wait(10000));
    closesocket(listener);
    WSACleanup();

    const std::string text = ReadText(out);
    EXPECT_NE(std::string::npos, text.find("connected to 127.0.0.1:")) << text;
    EXPECT_NE(std::string::npos, text.find("1 commands, 1 frames answered")) << text;
    // The hex of every received block, joined: TCP may have cut the request anywhere.
    std::istringstream lines(ReadText(record));
    std::string line, hex;
    while (std::getline(lines, line))
        if (!line.empty() && line.find('#') == std::string::npos) hex += line.substr(line.find(' ') + 1);
    EXPECT_NE(std::string::npos, hex.find("a500a55a0003be094156faaf")) << hex;
    DeleteFileW(out.c_str());
    DeleteFileW(record.c_str());
}
