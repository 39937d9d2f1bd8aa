#include "engine/robot_tool.h"

#include <cstring>
#include <set>
#include <string>

#include "protocol/page_request.h"
#include "protocol/rate_codes.h"

CRobotTool::CRobotTool() : m_pagesReceived(0) {}

CRobotTool::~CRobotTool() {
    // The worker calls into this class; it must be gone before the members.
    StopPolling();
    CLockHold hold(*this);
    m_expectedPages.clear();
}

bool CRobotTool::ExpectsPages() {
    CLockHold hold(*this);
    return !m_expectedPages.empty();
}

void CRobotTool::HandleReply(char* bytes, int length) {
    const eCommand current = m_currentCommand;
    if (current == eNone || current == eNoReply) return;

    CLockHold hold(*this);
    if (m_inFlight.empty()) {
        MakeLinkIdle();
        return;
    }
    CRobotCommand& head = m_inFlight.front();
    if (head.IsAbandoned()) return;
    auto found = m_finished.find(head.GetID());
    if (found == m_finished.end()) found = m_finished.emplace(head.GetID(), head).first;
    CRobotCommand& entry = found->second;
    if (entry.IsAbandoned()) return;

    char* copy = new char[length > 0 ? length : 1];
    if (length > 0) std::memcpy(copy, bytes, static_cast<size_t>(length));
    int key = 0;
    bool complete = true;
    if (head.GetCommand() == ePageRead) {
        key = length > 10 ? static_cast<int>(static_cast<signed char>(bytes[10])) : 0;
        m_expectedPages.erase(key);
        ++m_pagesReceived;
        if (!m_expectedPages.empty()) {
            m_remaining = m_timeout;
            complete = false;
        } else {
            RestoreRateAfterPages();
        }
    }
    if (complete) {
        const int id = head.GetID();
        m_inFlight.pop_front();
        entry.SetReplyComplete();
        MakeLinkIdle();
        entry.StoreReply(key, length, copy);
        SignalWaiter(id);
        return;
    }
    entry.StoreReply(key, length, copy);
    SignalWaiter(head.GetID());
}

void CRobotTool::OnTimeout() {
    const eCommand kind = m_currentCommand;
    if (m_transport) m_transport->DiscardInput();
    {
        // One step for a host that looks in between: an abandoned page read
        // expects no more pages, so the next request is not refused.
        CLockHold hold(*this);
        AbandonHead(false);
        if (kind == ePageRead) m_expectedPages.clear();
    }
    RateFallbackTool(kind);
    MakeLinkIdle();
    DiscardReceived();
}

void CRobotTool::RateFallbackTool(eCommand kind) {
    const std::string base = std::to_string(kBaseRate);
    if (kind == eBaud38400) {
        SetLinkRate(76800, "****6 Changing baud rate to76800");
    } else if (kind == eBaud76800) {
        SetLinkRate(kBaseRate, "****5 Changing baud rate to" + base);
    } else if (kind == ePageRead) {
        // The expected pages were emptied with the abandonment: emptying them
        // here again could take those of a request the host issued since.
        if (m_baudChanged) {
            m_baudChanged = false;
            SetLinkRate(kBaseRate, "****5 Changing baud rate to" + base);
        }
    }
}

void CRobotTool::RestoreRateAfterPages() {
    if (LinkChangesRate() && m_baudChanged) {
        SetLinkRate(kBaseRate, "**** Changing baud rate to" + std::to_string(kBaseRate));
        m_baudChanged = false;
    }
}

int CRobotTool::ReadFlashPages(int firstPage, int pageCount, int baudRate, bool flag, const wchar_t* address) {
    if (ExpectsPages()) return 0;
    // Only an FTDI link changes rate; elsewhere the tool is asked to stay at
    // the base rate.
    const uint32_t rate = m_ftdiPort ? static_cast<uint32_t>(baudRate) : kBaseRate;
    const unsigned char rateByte = PageReadRateByte(rate, !flag);
    const uint32_t count = CapPageCount(pageCount);
    const std::wstring text = BuildPageReadText(firstPage, count, rateByte, address);
    try {
        // Built aside and swapped in: running out of memory part-way must not
        // leave a partial set behind, which would refuse every later read.
        std::set<int32_t> expected;
        for (uint32_t i = 0; i < count; ++i) expected.insert(static_cast<int32_t>(i));
        {
            CLockHold hold(*this);
            m_expectedPages.swap(expected);
        }
        return Issue(CString(text), ePageRead, address != nullptr, false);
    } catch (...) {
        // Not issued: no page read expects pages.
        CLockHold hold(*this);
        m_expectedPages.clear();
        throw;
    }
}
