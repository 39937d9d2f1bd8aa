#include "engine/robot_link.h"

#include <cstring>
#include <vector>

#include "engine/log_text.h"
#include "protocol/command_frame.h"

CRobotLink::CRobotLink()
    : m_rxBuffer(new unsigned char[kRxBufferSize]()),
      m_rxCount(0),
      m_baudChanged(false),
      m_keepAlive(false),
      m_keepAliveCountdown(kKeepAlivePeriodMs) {}

CRobotLink::~CRobotLink() {
    StopPolling();
    delete[] m_rxBuffer;
    m_rxBuffer = nullptr;
}

bool CRobotLink::IsBusy() { return m_currentCommand != eNone || !m_pending.empty() || !m_inFlight.empty(); }

bool CRobotLink::Receive() { return false; }

void CRobotLink::Transmit(int elapsed) {
    if (m_awaitingReply) m_remaining -= elapsed;
    if (m_awaitingReply && m_remaining <= 0) {
        if (m_log) {
            CString text;
            bool any = false;
            {
                CLockHold hold(*this);
                if (!m_inFlight.empty()) {
                    text = m_inFlight.front().GetString();
                    any = true;
                }
            }
            if (any) WriteLog("****Abandoning \"" + NarrowLogText(text) + "\"");
        }
        OnTimeout();
    }

    HandOver();

    HeadCommand head{};
    bool haveHead = false;
    {
        CLockHold hold(*this);
        if (!m_inFlight.empty()) {
            const CRobotCommand& front = m_inFlight.front();
            head = HeadCommand{front.GetString(), front.GetCommand(), front.GetID(), front.IsAddressed(),
                               front.IsPreFramed()};
            haveHead = true;
        }
    }
    if (!haveHead) {
        RunKeepAlive(elapsed);
    } else if (ReadyToSend()) {
        SendHead(head);
    }

    bool bothEmpty;
    {
        CLockHold hold(*this);
        bothEmpty = m_pending.empty() && m_inFlight.empty();
    }
    if (bothEmpty) ResetEvent(m_workEvent);
}

bool CRobotLink::ReadyToSend() {
    if (m_awaitingReply || m_currentCommand != eNone) return false;
    return PortAcceptsSending();
}

void CRobotLink::RunKeepAlive(int elapsed) {
    if (!m_keepAlive || !ReadyToSend()) return;
    if (m_keepAliveCountdown > 0) m_keepAliveCountdown -= elapsed;
    if (m_keepAliveCountdown <= 0) {
        IssueLocal(CString(L"be71"), eNoReply);
        m_keepAliveCountdown = kKeepAlivePeriodMs;
    }
}

void CRobotLink::SendHead(const HeadCommand& head) {
    m_currentCommand = head.kind;
    {
        CLockHold hold(*this);
        if (m_inFlight.size() == 1 && m_pending.empty()) ResetEvent(m_workEvent);
    }
    m_awaitingReply = true;
    m_remaining = head.kind == eNoReply ? 0 : static_cast<int64_t>(m_timeout);

    std::vector<unsigned char> bytes =
        EncodeCommand(head.text.GetString(), static_cast<size_t>(head.text.GetLength()), head.addressed, head.preFramed);
    auto byteAt = [&bytes](size_t i) -> unsigned char { return i < bytes.size() ? bytes[i] : 0; };
    if (byteAt(4) == 0xBE && byteAt(5) == 0x09) m_currentCommand = eToolInfo;

    WriteCommandBytes(head, bytes);
}

void CRobotLink::MakeLinkIdle() {
    MakeIdle();
    m_keepAliveCountdown = kKeepAlivePeriodMs;
}

void CRobotLink::DiscardReceived() {
    CLockHold hold(*this);
    m_rxCount = 0;
    std::memset(m_rxBuffer, 0, kRxBufferSize);
}

void CRobotLink::AbandonHead(bool replace) {
    CLockHold hold(*this);
    if (m_inFlight.empty()) return;
    CRobotCommand& head = m_inFlight.front();
    head.SetAbandoned();
    auto found = m_finished.find(head.GetID());
    if (found == m_finished.end()) {
        m_finished.emplace(head.GetID(), head);
    } else if (replace) {
        found->second.FreeReplies();
        found->second = head;
    } else {
        found->second.SetAbandoned();
    }
    m_inFlight.pop_front();
}

void CRobotLink::OnTimeout() {
    DiscardPortInput();
    AbandonHead(true);
    RateFallbackLink();
    MakeLinkIdle();
    DiscardReceived();
}

bool CRobotLink::WriteToPort(char* bytes, int count) {
    if (bytes == nullptr || count < 0) return false;
    return WriteRawToPort(bytes, count);
}
