#include "engine/robot_link.h"

#include <cstring>

#include "engine/log_text.h"
#include "protocol/command_frame.h"
#include "protocol/rate_codes.h"
#include "protocol/rx_buffer.h"

std::vector<unsigned char> ToolInfoPreamble() {
    std::vector<unsigned char> preamble(96, 0xA5);
    preamble.back() = 0x00;
    return preamble;
}

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

bool CRobotLink::Receive() {
    const int waiting = m_transport ? m_transport->BytesWaiting() : 0;
    CLockHold hold(*this);
    RxBuffer rx{m_rxBuffer, m_rxCount, kRxBufferSize};
    if (waiting > 0 && rx.count + waiting > rx.capacity) DiscardAll(rx);  // overflow: the held bytes go
    const int take = waiting < rx.capacity - rx.count ? waiting : rx.capacity - rx.count;
    if (take > 0) {
        const int got = m_transport->ReadInto(rx.data + rx.count, take);
        if (got > 0) rx.count += got < take ? got : take;
    }
    m_rxCount = rx.count;
    if (rx.count < 2) return false;

    const ScanOutcome outcome = m_currentCommand == eToolInfo ? ScanForToolInfo(rx) : ScanForFrame(rx);
    m_rxCount = rx.count;
    switch (outcome.step) {
    case ScanStep::WaitForMore:
        return false;
    case ScanStep::Accepted:
        HandleReply(reinterpret_cast<char*>(rx.data), outcome.length);
        DropFront(rx, outcome.length);
        m_rxCount = rx.count;
        return m_rxCount > 0;
    case ScanStep::CrcError:
        if (m_log) WriteLog("*******CRC error");
        DropFront(rx, outcome.length);
        m_rxCount = rx.count;
        return m_rxCount > 0;
    case ScanStep::BadSequence:
        if (m_log) {
            WriteLog("*******Flushing bad sequence");
            for (const std::string& line : HexDumpLines(rx.data, outcome.length)) WriteLog(line);
        }
        DestroyStartMarker(rx);
        return false;
    }
    return false;
}

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

    // Decided and reset in one hold of the lock: a host thread queues under
    // the same lock, so its command either is seen here or sets the event
    // after the reset, never before it.
    CLockHold hold(*this);
    if (m_pending.empty() && m_inFlight.empty()) ResetEvent(m_workEvent);
}

bool CRobotLink::ReadyToSend() {
    if (m_awaitingReply || m_currentCommand != eNone) return false;
    return !m_transport || m_transport->AcceptsSending();
}

void CRobotLink::RunKeepAlive(int elapsed) {
    if (!m_keepAlive || !ReadyToSend()) return;
    if (m_keepAliveCountdown > 0) m_keepAliveCountdown -= elapsed;
    if (m_keepAliveCountdown <= 0) {
        IssueLocal(CString(L"be71"), eNoReply);
        m_keepAliveCountdown = kKeepAlivePeriodMs;
    }
}

uint32_t CRobotLink::DecideRateChange(eCommand kind, const std::vector<unsigned char>& bytes) {
    m_baudChanged = false;
    uint32_t rate = 0;
    if (kind == eBaud38400) rate = kBaseRate;
    else if (kind == eBaud76800) rate = 76800;
    else if (kind == ePageRead) rate = RateForPageReadByte(bytes.size() > 11 ? bytes[11] : 0);
    m_baudChanged = rate != 0;
    return rate;
}

void CRobotLink::SendHead(const HeadCommand& head) {
    m_currentCommand = head.kind;
    {
        CLockHold hold(*this);
        if (m_inFlight.size() == 1 && m_pending.empty()) ResetEvent(m_workEvent);
    }
    m_awaitingReply = true;
    m_remaining = head.kind == eNoReply ? 0 : static_cast<int64_t>(m_timeout);

    // A text with a character that is not a hex digit is framed all the
    // same; the payload bytes from that character on stay zero.
    std::vector<unsigned char> bytes =
        EncodeCommand(head.text.GetString(), static_cast<size_t>(head.text.GetLength()), head.addressed, head.preFramed);
    auto byteAt = [&bytes](size_t i) -> unsigned char { return i < bytes.size() ? bytes[i] : 0; };
    if (byteAt(4) == 0xBE && byteAt(5) == 0x09) m_currentCommand = eToolInfo;
    const uint32_t newRate = DecideRateChange(head.kind, bytes);

    if (!m_transport) return;  // no port: nothing is written, the command times out
    const bool switchRate = newRate != 0 && m_transport->ChangesRate();
    const unsigned long status = m_transport->WriteCommand(bytes, m_currentCommand == eToolInfo, switchRate);
    if (status == kFtIoError) {
        FtdiRecovery();
        return;
    }
    if (switchRate) m_transport->SwitchRateAfterWrite(newRate);
}

void CRobotLink::FtdiRecovery() {
    m_transport->Recover(m_usbVendorId, m_usbProductId);
    // The command stays at the head and is written again next cycle.
    m_awaitingReply = false;
    m_currentCommand = eNone;
    m_baudChanged = false;
}

void CRobotLink::SetLinkRate(uint32_t rate, const std::string& line) {
    if (LinkChangesRate()) m_transport->SetRate(rate, line);
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
    const int id = head.GetID();
    m_inFlight.pop_front();
    SignalWaiter(id);
}

void CRobotLink::OnTimeout() {
    const eCommand kind = m_currentCommand;
    if (m_transport) m_transport->DiscardInput();
    AbandonHead(true);
    if (kind == eBaud38400) SetLinkRate(76800, "****4 Changing baud rate to 76800");
    else if (kind == eBaud76800) SetLinkRate(kBaseRate, "****3 Changing baud rate to" + std::to_string(kBaseRate));
    MakeLinkIdle();
    DiscardReceived();
}

bool CRobotLink::WriteToPort(char* bytes, int count) {
    if (bytes == nullptr || count < 0) return false;
    if (!m_transport) return count == 0;
    return m_transport->WriteRaw(bytes, count);
}
