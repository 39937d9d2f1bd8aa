// The simulator behind a COM port: COM5 is a pty whose other end is loopback
// TCP port 47005 (the test fixture's bridge). Both ways round: the
// in-process server connects to the bridge and the test opens COM5 as the
// library would; and the server plays the tool on COM5 itself (the
// vornex-sim --com frontend) while the test talks TCP.
#include <gtest/gtest.h>

#include "sim/server/sim_server.h"
#include "sim_test_util.h"
#include "tcp_client.h"

using namespace simtest;
using vxsim::SimServer;

namespace {

constexpr int kComPort = 5;
constexpr int kBridgePort = 47005;
constexpr unsigned kWaitMs = 5000;

class ComPort {
public:
    ComPort() {
        m_handle = CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) return;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_handle, &dcb);
        dcb.BaudRate = 38400;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        m_ok = SetCommState(m_handle, &dcb) != 0;
        COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, 2000};
        m_ok = m_ok && SetCommTimeouts(m_handle, &t);
        PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~ComPort() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    bool Ok() const { return m_ok; }
    bool Write(const Bytes& b) {
        DWORD n = 0;
        return WriteFile(m_handle, b.data(), static_cast<DWORD>(b.size()), &n, nullptr) && n == b.size();
    }
    Bytes Read(size_t count, unsigned timeoutMs) {
        Bytes out;
        const DWORD start = GetTickCount();
        while (out.size() < count && GetTickCount() - start < timeoutMs) {
            uint8_t buf[1024];
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(count - out.size() < sizeof buf ? count - out.size() : sizeof buf);
            if (!ReadFile(m_handle, buf, want, &n, nullptr)) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    bool m_ok = false;
};

Bytes With(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(SimCom, ExampleFramesAndAPageReadThroughTheComPort) {
    SimServer sim;
    ASSERT_TRUE(sim.ConnectTcp("127.0.0.1", kBridgePort, kWaitMs)) << sim.LastError();
    ComPort com;
    ASSERT_TRUE(com.Ok());

    for (bool addressed : {false, true}) {
        ASSERT_TRUE(com.Write(With(Preamble(), Frame(L"BE09", addressed))));
        const Bytes reply = com.Read(10, kWaitMs);
        EXPECT_EQ(std::string("9.1.V1.0.0"), std::string(reply.begin(), reply.end()));
    }
    // Keep-alive and rate reset: nothing comes before the echo that follows.
    const Bytes echo = Frame(L"5a5a0102");
    sim.SetToolRate(76800);
    ASSERT_TRUE(com.Write(With(With(Frame(L"be71"), Frame(L"be2b0100")), echo)));
    EXPECT_EQ(echo, com.Read(echo.size(), kWaitMs));
    EXPECT_EQ(38400u, sim.ToolRate());

    ASSERT_TRUE(com.Write(Frame(L"BE4D0001000003" L"80")));
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(com.Read(3 * vxsim::kPageFrameSize, kWaitMs), frames));
    ASSERT_EQ(3u, frames.size());
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0x100u + i, PageNumber(frames[i].data()));
        EXPECT_TRUE(SumGood(frames[i].data(), frames[i].size()));
        EXPECT_TRUE(PageDataGood(frames[i].data()));
    }
    EXPECT_EQ(6u, sim.CommandCount());
}

TEST(SimCom, ToolPlayedOnTheComPortItself) {
    SimServer sim;
    ASSERT_TRUE(sim.OpenCom(kComPort)) << sim.LastError();
    // The bridge may still be letting go of the previous test's connection.
    std::unique_ptr<TcpClient> host;
    Bytes reply;
    for (int attempt = 0; attempt < 50 && reply.size() < 10; ++attempt) {
        host.reset(new TcpClient(kBridgePort));
        if (!host->Connected()) {
            Sleep(100);
            continue;
        }
        ASSERT_TRUE(host->Send(With(Preamble(), Frame(L"BE09"))));
        reply = host->Read(10, 1000);
    }
    EXPECT_EQ(std::string("9.1.V1.0.0"), std::string(reply.begin(), reply.end()));
    ASSERT_TRUE(host->Send(Frame(L"BE4D0000000001" L"00")));
    const Bytes page = host->Read(vxsim::kPageFrameSize, kWaitMs);
    ASSERT_EQ(vxsim::kPageFrameSize, page.size());
    EXPECT_TRUE(CrcGood(page.data(), page.size()));
}
