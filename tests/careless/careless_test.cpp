// A host's window procedure runs while a library call dispatches this thread's messages: the TCP reply wait, the TCP
// attach and the download. Whatever that procedure does to the robot object (destroys it, releases its port, attaches
// another), the call ends with its "nothing found" result and nothing is used after it was freed. Where the old fault
// was a wait that never ended, the wait has no limit of its own: the program's time limit fails a hang.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "support/vornex_test.h"

using namespace vxt;

namespace {

// Runs an action from the next message this thread dispatches, as a host's window procedure would.
class MessageAction {
public:
    explicit MessageAction(std::function<void()> action) : m_action(std::move(action)) {
        WNDCLASSW type = {};
        type.lpfnWndProc = &MessageAction::Procedure;
        type.lpszClassName = L"vx-careless-host";
        RegisterClassW(&type);  // once per process; a second time fails harmlessly
        m_window = CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        PostMessageW(m_window, WM_APP, 0, 0);
    }
    ~MessageAction() { DestroyWindow(m_window); }
    bool ran = false;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<MessageAction*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_APP || !self) return DefWindowProcW(window, message, w, l);
        self->ran = true;
        self->m_action();
        return 0;
    }
    std::function<void()> m_action;
    HWND m_window = nullptr;
};

enum class HostDoes { Destroy, ReleasePort, AttachAnother };
const char* const kDoes[] = {"Destroy", "ReleasePort", "AttachAnother"};

class ReplyWaitOnTcp : public ::testing::TestWithParam<HostDoes> {};

// The tool never answers this command, and the wait has no limit: only the robot object's change can end it.
TEST_P(ReplyWaitOnTcp, EndsWithNothingWhenAMessageItDispatchesChangesTheRobot) {
    PORT_HANDLE other = nullptr;
    {
        Rig rig(PortKind::Tcp);
        ASSERT_TRUE(rig.Attached());
        ASSERT_TRUE(rig.AddFaults("0a01:noreply"));
        const long id = rig.Send(L"0a01");
        MessageAction action([&] {
            if (GetParam() == HostDoes::Destroy) {
                EXPECT_EQ(ROBOT_Destroy(rig.robot()), 1);
                rig.ForgetRobot();
            } else if (GetParam() == HostDoes::ReleasePort) {
                EXPECT_EQ(ReleaseTcpPort(rig.port()), 1);
                rig.ForgetPort();
            } else {
                ASSERT_TRUE(ftdi::Reset());
                EXPECT_NE(other = ROBOT_AttachFTDIDeviceByIndex(rig.robot(), 0), nullptr);
            }
        });
        Array reply;
        EXPECT_EQ(ROBOT_WaitReplyBytes(rig.robot(), id, INFINITE, reply.out()), 0);
        EXPECT_TRUE(action.ran);
        EXPECT_EQ(reply.get(), nullptr);
        if (rig.robot()) {
            EXPECT_EQ(ROBOT_GetReply(rig.robot(), id), nullptr);  // the records went with the port
        }
    }
    if (other) {
        EXPECT_EQ(ReleaseFTDIDevice(other), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(CarelessHost, ReplyWaitOnTcp,
                         ::testing::Values(HostDoes::Destroy, HostDoes::ReleasePort, HostDoes::AttachAnother),
                         [](const ::testing::TestParamInfo<HostDoes>& info) { return kDoes[int(info.param)]; });

// Nothing listens on the port, so the attach would try until its (very long)
// time ran out: only the robot object's change can end it, with no port.
TEST(CarelessHost, TcpAttachFailsWhenAMessageItDispatchesDestroysOrReattachesTheRobot) {
    const int closed = ClosedTcpPort();
    for (bool destroy : {true, false}) {
        ROBOT_HANDLE robot = ROBOT_Create();
        PORT_HANDLE other = nullptr;
        MessageAction action([&] {
            if (destroy) {
                EXPECT_EQ(ROBOT_Destroy(robot), 1);
                robot = nullptr;
                return;
            }
            ASSERT_TRUE(ftdi::Reset());
            EXPECT_NE(other = ROBOT_AttachFTDIDeviceByIndex(robot, 0), nullptr);
        });
        EXPECT_EQ(ROBOT_AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned>(closed), 0x7FFFFFFF), nullptr)
            << (destroy ? "destroy" : "attach another");
        EXPECT_TRUE(action.ran);
        if (robot) {
            EXPECT_EQ(ROBOT_Destroy(robot), 1);
        }
        if (other) {
            EXPECT_EQ(ReleaseFTDIDevice(other), 1);
        }
    }
}

// A window procedure that runs past the attach's deadline while the connection completes: the connection was reported
// (its message is queued) before the time ran out, so it counts.
TEST(CarelessHost, TcpAttachCountsAConnectionReportedAsItsTimeRunsOut) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ROBOT_HANDLE robot = ROBOT_Create();
    const DWORD connectMs = 300;
    const DWORD start = GetTickCount();
    MessageAction action([&] {
        auto reported = [&] { return sim.Connections() == 1 && HIWORD(GetQueueStatus(QS_POSTMESSAGE)); };
        while (!reported() && GetTickCount() - start < 10000) Sleep(5);  // without dispatching
        EXPECT_TRUE(reported());
        while (GetTickCount() - start <= connectMs) Sleep(10);  // past the deadline, the report still queued
    });
    PORT_HANDLE attached = ROBOT_AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned>(port), connectMs);
    EXPECT_TRUE(action.ran);
    EXPECT_NE(attached, nullptr);
    EXPECT_EQ(ROBOT_Destroy(robot), 1);
    if (attached) {
        EXPECT_EQ(ReleaseTcpPort(attached), 1);
    }
}

class DownloadOn : public ::testing::TestWithParam<std::tuple<PortKind, HostDoes>> {};

TEST_P(DownloadOn, FailsWhenAMessageItDispatchesDestroysTheRobotOrReleasesItsPort) {
    const PortKind kind = std::get<0>(GetParam());
    Rig rig(kind);
    ASSERT_TRUE(rig.Attached());
    Array pages(Matrix(VT_I4, 1, 2, {0, 100})), out;
    MessageAction action([&] {
        if (std::get<1>(GetParam()) == HostDoes::Destroy) {
            EXPECT_EQ(ROBOT_Destroy(rig.robot()), 1);
            rig.ForgetRobot();
        } else {
            EXPECT_TRUE(Release(kind, rig.port()));
            rig.ForgetPort();
        }
    });
    EXPECT_EQ(ROBOT_ReadToolMemorySA(rig.robot(), pages.out(), 38400, 2000, 1, out.out()), 0);
    EXPECT_TRUE(action.ran);
    EXPECT_EQ(out.get(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(CarelessHost, DownloadOn,
                         ::testing::Combine(::testing::ValuesIn(kEveryPort),
                                            ::testing::Values(HostDoes::Destroy, HostDoes::ReleasePort)),
                         [](const ::testing::TestParamInfo<std::tuple<PortKind, HostDoes>>& info) {
                             return Name(std::get<0>(info.param)) + std::string(kDoes[int(std::get<1>(info.param))]);
                         });

}  // namespace
