// Ten thousand send / wait / get-bytes / delete round trips over TCP leave
// the process's handle count and private bytes where they were. The figures
// are printed.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "host_session.h"
#include "sim/server/sim_server.h"
#include "support/handle_count.h"

namespace {

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// A 200-byte command: a leaked reply or array per round would be plain to see.
std::wstring LongCommand() {
    std::wstring text = L"BE";
    for (int i = 1; i < 200; ++i) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02x", i & 0xFF);
        text += digits;
    }
    return text;
}

// One round; false (with the reason reported) when any step misbehaves.
bool RoundTripOnce(vxsim::SimServer& sim, ROBOT_HANDLE robot, const std::wstring& text, long frameSize) {
    sim.ClearReceived();  // the simulator's own record of the wire is not ours to measure
    const long id = Api().SendCommand(robot, text.c_str());
    SAFEARRAY* waited = nullptr;
    SAFEARRAY* fetched = nullptr;
    const long waitedSize = Api().WaitReplyBytes(robot, id, 5000, &waited);
    const long fetchedSize = Api().GetReplyBytes(robot, id, &fetched);
    const bool deleted = Api().DeleteReply(robot, id);
    const bool bounds = LowerBoundsAreZero(waited) && LowerBoundsAreZero(fetched);
    const HRESULT freedWaited = waited ? SafeArrayDestroy(waited) : E_POINTER;
    const HRESULT freedFetched = fetched ? SafeArrayDestroy(fetched) : E_POINTER;
    const bool good = waitedSize == frameSize && fetchedSize == frameSize && deleted && bounds &&
                      freedWaited == S_OK && freedFetched == S_OK;
    EXPECT_TRUE(good) << "command " << id << ": waited " << waitedSize << ", fetched " << fetchedSize << ", deleted "
                      << deleted << ", bounds " << bounds;
    return good;
}

} // namespace

TEST(HostSoak, TenThousandRoundTripsOverTcpLeaveHandlesAndMemoryFlat) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, port), nullptr);
    session.StartPolling();

    const std::wstring text = LongCommand();
    const long frameSize = static_cast<long>(text.size() / 2 + 8);
    // The simulator keeps the last 4096 commands: fill that history first so
    // that only the library's memory can move.
    const int warmUp = 4200;
    for (int i = 0; i < warmUp; ++i) ASSERT_TRUE(RoundTripOnce(sim, session.robot(), text, frameSize));

    const unsigned long handlesBefore = CountProcessHandles();
    const SIZE_T bytesBefore = PrivateBytes();
    const DWORD start = GetTickCount();
    const int rounds = 10000;
    for (int i = 0; i < rounds; ++i) ASSERT_TRUE(RoundTripOnce(sim, session.robot(), text, frameSize)) << "round " << i;
    const DWORD elapsed = GetTickCount() - start;
    const SIZE_T bytesAfter = PrivateBytes();
    const unsigned long handlesAfter = CountProcessHandles();

    const long long growth = static_cast<long long>(bytesAfter) - static_cast<long long>(bytesBefore);
    std::printf("[ host soak ] %d round trips of %ld-byte frames in %lu ms (%.2f ms each)\n", rounds, frameSize,
                static_cast<unsigned long>(elapsed), static_cast<double>(elapsed) / rounds);
    std::printf("[ host soak ] handles before %lu, after %lu\n", handlesBefore, handlesAfter);
    std::printf("[ host soak ] private bytes before %llu, after %llu, growth %lld\n",
                static_cast<unsigned long long>(bytesBefore), static_cast<unsigned long long>(bytesAfter), growth);
    EXPECT_EQ(sim.CommandCount(), static_cast<size_t>(rounds + warmUp));
    // A handle per round would add 10,000; a leaked reply or array per round
    // (over 200 bytes each) would add more than 2 MB.
    EXPECT_LE(handlesAfter, handlesBefore + 4);
    EXPECT_LT(growth, 512 * 1024);
}
