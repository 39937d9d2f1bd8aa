#include "sim/tool_model.h"

#include <algorithm>

#include "protocol/crc16.h"
#include "sim/reply_frames.h"

namespace vxsim {

namespace {

enum class Action { kToolInfo, kPageRead, kKeepAlive, kRateReset, kRateChange, kEcho, kIgnore };

struct PageRequest {
    uint32_t first = 0;
    uint32_t count = 0;
    uint8_t rateByte = 0;
    bool addressed = false;
};

bool ParsePageRequest(const CommandFrame& frame, PageRequest& req) {
    const std::vector<uint8_t>& p = frame.payload;
    // The addressed form puts five address bytes and a 00 before the page
    // number; its rate byte is the last one.
    req.addressed = frame.addressed || p.size() >= 14;
    const size_t at = req.addressed ? 8 : 2;
    if (p.size() < at + 6) return false;
    req.first = static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
                (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
    req.count = p[at + 4];
    req.rateByte = p[at + 5];
    return true;
}

// Garbage never holds a start byte, a letter or a digit, so it can neither
// begin a frame nor pass for part of a tool-info reply.
bool UsableAsGarbage(uint8_t b) {
    if (b == 0xA5) return false;
    if (b >= '0' && b <= '9') return false;
    if (b >= 'A' && b <= 'Z') return false;
    if (b >= 'a' && b <= 'z') return false;
    return true;
}

} // namespace

uint32_t RateOfCode(uint32_t code) {
    static const uint32_t kRates[] = {0, 38400, 76800, 115200, 153600, 230400};
    return code >= 1 && code <= 5 ? kRates[code] : 0;
}

ToolModel::ToolModel(uint64_t seed) : m_faults(seed) {}

void ToolModel::Configure(const ToolConfig& c) {
    const std::vector<std::string>& had = m_config.faults;
    const bool adds = c.faults.size() >= had.size() && std::equal(had.begin(), had.end(), c.faults.begin());
    if (!adds) m_faults.ClearRules();
    for (size_t i = adds ? had.size() : 0; i < c.faults.size(); ++i) m_faults.AddRules(c.faults[i]);
    if (c.random != m_config.random || c.randomSeed != m_config.randomSeed || c.chances != m_config.chances) {
        if (c.random) m_faults.SetRandom(c.randomSeed, c.chances);
        else m_faults.ClearRandom();
    }
    m_config = c;
}

ToolCounters ToolModel::Counters() const {
    ToolCounters c = m_counters;
    c.badCrcFrames = m_scanner.BadCrcFrames();
    return c;
}

void ToolModel::Receive(const uint8_t* data, size_t count, int64_t nowMs, ChunkList& out) {
    if (data == nullptr) count = 0;
    m_counters.bytesReceived += count;
    std::vector<CommandFrame> frames;
    m_scanner.Feed(data, count, nowMs, frames);
    for (const CommandFrame& f : frames) {
        // A tool answers the command in front of it: one that arrives while
        // an earlier answer has not gone yet replaces that answer, which the
        // host has given up on and would take for the new command's.
        out.clear();
        Handle(f, out);
    }
}

void ToolModel::Handle(const CommandFrame& frame, ChunkList& out) {
    const std::vector<uint8_t>& p = frame.payload;
    ++m_counters.commands;
    m_commands.push_back(p);
    while (m_commands.size() > kCommandHistory) m_commands.pop_front();

    Action action = Action::kEcho;
    PageRequest req;
    uint32_t newRate = 0;
    if (p.size() >= 2 && p[0] == 0xBE) {
        switch (p[1]) {
        case 0x09: action = Action::kToolInfo; break;
        case 0x4D: action = ParsePageRequest(frame, req) ? Action::kPageRead : Action::kIgnore; break;
        case 0x71: action = Action::kKeepAlive; break;
        case 0x2B: action = Action::kRateReset; break;
        case 0x2C:
            newRate = p.size() >= 3 ? RateOfCode(p[2]) : 0;
            action = newRate ? Action::kRateChange : Action::kEcho;
            break;
        default: break;
        }
    }
    uint32_t replyFrames = 0;
    switch (action) {
    case Action::kToolInfo:
    case Action::kRateChange:
    case Action::kEcho: replyFrames = 1; break;
    case Action::kPageRead: replyFrames = req.count; break;
    default: break;
    }

    const AppliedFaults faults = m_faults.ForCommand(p, replyFrames);
    if (faults.noReply) return;

    std::vector<Reply> replies;
    uint32_t rate = m_rate;
    switch (action) {
    case Action::kToolInfo: {
        Reply r;
        r.bytes.assign(m_config.toolInfo.begin(), m_config.toolInfo.end());
        r.framed = false;
        replies.push_back(r);
        break;
    }
    case Action::kPageRead: {
        const bool sum = (req.rateByte & 0x80) != 0;
        // Only an unaddressed request carries a rate code where the tool looks.
        const uint32_t streamRate = req.addressed ? 0 : RateOfCode(req.rateByte & 0x07);
        if (streamRate) rate = streamRate;
        for (uint32_t i = 0; i < req.count; ++i) {
            Reply r;
            r.bytes = m_config.triple ? BuildTriplePageFrame(req.first + i, static_cast<uint8_t>(i), sum)
                               : BuildPageFrame(req.first + i, static_cast<uint8_t>(i), sum);
            replies.push_back(r);
        }
        m_counters.pagesQueued += req.count;
        // After the last page the tool listens at the base rate again.
        if (streamRate) m_rate = kBaseRate;
        break;
    }
    case Action::kRateReset: m_rate = kBaseRate; break;
    case Action::kRateChange: {
        m_rate = newRate;
        rate = newRate;
        Reply r;
        r.bytes = BuildReplyFrame(p.data(), p.size());
        replies.push_back(r);
        break;
    }
    case Action::kEcho: {
        Reply r;
        r.bytes = BuildReplyFrame(p.data(), p.size());
        replies.push_back(r);
        break;
    }
    case Action::kKeepAlive:
    case Action::kIgnore: break;
    }
    Emit(replies, rate, faults, out);
}

void ToolModel::Emit(std::vector<Reply>& replies, uint32_t rate, const AppliedFaults& faults, ChunkList& out) {
    bool first = true;
    for (uint32_t i = 0; i < replies.size(); ++i) {
        if (faults.Drops(i)) continue;
        Reply& reply = replies[i];
        if (faults.Corrupts(i)) Corrupt(reply);

        std::vector<uint8_t> bytes = Garbage(faults.garbage);
        const size_t frameStart = bytes.size();
        bytes.insert(bytes.end(), reply.bytes.begin(), reply.bytes.end());

        size_t pos = 0;
        while (pos < bytes.size()) {
            size_t end = faults.splitSize ? pos + faults.splitSize : bytes.size();
            if (end > bytes.size()) end = bytes.size();
            // Never cut between a frame's two start bytes: after garbage, the
            // receiver throws a lone trailing 0xA5 away with the garbage.
            if (end == frameStart + 1 && end < bytes.size()) ++end;
            OutputChunk chunk;
            chunk.rate = m_config.lineRate ? m_config.lineRate : rate;
            chunk.delayMs = first ? faults.delayMs + m_config.replyDelayMs : faults.splitPauseMs;
            chunk.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                               bytes.begin() + static_cast<std::ptrdiff_t>(end));
            chunk.framesEnded = end == bytes.size() ? 1 : 0;
            out.push_back(std::move(chunk));
            first = false;
            pos = end;
        }
        ++m_counters.framesQueued;
    }
}

void ToolModel::Corrupt(Reply& reply) {
    std::vector<uint8_t>& b = reply.bytes;
    if (!reply.framed) {
        // The tool-info text has no check field: spoil the marker letter.
        if (b.size() > 4) b[4] = static_cast<uint8_t>('W');
        return;
    }
    if (b.size() < 8) return;
    const size_t covered = b.size() - 4;
    const uint16_t crc = CCrc16::Of(b.data(), covered);
    const uint16_t sum = ByteSum16(b.data(), covered);
    const uint16_t old = static_cast<uint16_t>((b[covered] << 8) | b[covered + 1]);
    // Neither zero (accepted unchecked) nor either valid value.
    static const uint16_t kFlips[] = {0x5A5A, 0x1234, 0x0F0F, 0x8001};
    for (uint16_t flip : kFlips) {
        const uint16_t v = static_cast<uint16_t>(old ^ flip);
        if (v != 0 && v != crc && v != sum) {
            b[covered] = static_cast<uint8_t>(v >> 8);
            b[covered + 1] = static_cast<uint8_t>(v & 0xFF);
            return;
        }
    }
}

std::vector<uint8_t> ToolModel::Garbage(uint32_t count) {
    std::vector<uint8_t> g;
    g.reserve(count);
    while (g.size() < count) {
        const uint8_t b = static_cast<uint8_t>(m_faults.Random().Next() & 0xFF);
        if (UsableAsGarbage(b)) g.push_back(b);
    }
    return g;
}

} // namespace vxsim
