#pragma once
// A robot object whose cycle and state the engine tests drive by hand.
#include <vector>

#include "engine/robot_tool.h"
#include "fake_transport.h"
#include "protocol/command_frame.h"

class TestRobot : public CRobotTool {
public:
    using CRobotTool::Poll;

    void Transmit(int elapsed) override {
        elapsedSeen.push_back(elapsed);
        CRobotTool::Transmit(elapsed);
    }

    bool Awaiting() const { return m_awaitingReply; }
    eCommand Current() const { return m_currentCommand; }
    long long Remaining() const { return m_remaining; }
    size_t PendingCount() { CLockHold h(*this); return m_pending.size(); }
    size_t InFlightCount() { CLockHold h(*this); return m_inFlight.size(); }
    size_t FinishedCount() { CLockHold h(*this); return m_finished.size(); }
    size_t WaiterCount() { CLockHold h(*this); return m_waiters.size(); }
    bool WorkEventSet() const { return WaitForSingleObject(m_workEvent, 0) == WAIT_OBJECT_0; }
    void ExpectPages(int count) {
        CLockHold h(*this);
        m_expectedPages.clear();
        for (int i = 0; i < count; ++i) m_expectedPages.insert(i);
    }

    // Attaches a fake port; the robot owns the adapter, the test keeps a pointer.
    FakeTransport* AttachFake() {
        FakeTransport* fake = new FakeTransport();
        m_transport.reset(fake);
        return fake;
    }
    // Receives until the buffer holds nothing more to take, as Poll does.
    int ReceiveAll() {
        int calls = 1;
        while (Receive()) ++calls;
        return calls;
    }
    int RxCount() const { return m_rxCount; }
    bool BaudChanged() const { return m_baudChanged; }

    // Hands the robot a reply frame for payload text, as Receive would.
    void Reply(const wchar_t* payload) {
        std::vector<unsigned char> frame = EncodeCommand(payload, wcslen(payload), false, false);
        HandleReply(reinterpret_cast<char*>(frame.data()), static_cast<int>(frame.size()));
    }

    std::vector<int> elapsedSeen;
};
