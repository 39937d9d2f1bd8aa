#include "sim/fault_plan.h"

#include <algorithm>
#include <cstdlib>

#include "protocol/hex_text.h"

namespace vxsim {

namespace {

const char* const kNames[] = {"noreply", "droppage", "badcrc", "garbage", "split", "delay", "ioerror"};

constexpr int32_t kLargestArgument = 10000000;

bool ParseNumber(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > kLargestArgument) return false;
    value = v;
    return true;
}

bool ParseProbability(const std::string& text, double& p) {
    if (text.empty()) return false;
    char* end = nullptr;
    p = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && p >= 0.0 && p <= 1.0;
}

bool KindFromName(const std::string& name, FaultKind& kind) {
    for (int i = 0; i < static_cast<int>(FaultKind::kCount); ++i)
        if (name == kNames[i]) {
            kind = static_cast<FaultKind>(i);
            return true;
        }
    return false;
}

std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == ';' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool PrefixMatches(const FaultRule& rule, const uint8_t* payload, size_t count) {
    if (rule.anyCommand) return true;
    if (count < rule.prefix.size()) return false;
    return std::equal(rule.prefix.begin(), rule.prefix.end(), payload);
}

} // namespace

const char* FaultKindName(FaultKind kind) {
    const int i = static_cast<int>(kind);
    return (i >= 0 && i < static_cast<int>(FaultKind::kCount)) ? kNames[i] : "?";
}

uint64_t SplitMix64::Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t SplitMix64::Below(uint32_t bound) {
    return bound == 0 ? 0 : static_cast<uint32_t>(Next() % bound);
}

double SplitMix64::Unit() {
    return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
}

bool ParseFaultRule(const std::string& input, FaultRule& rule, std::string& error) {
    rule = FaultRule();
    std::string text = Lower(input);
    const size_t hash = text.find('#');
    if (hash != std::string::npos) {
        if (!ParseNumber(text.substr(hash + 1), rule.remaining) || rule.remaining == 0) {
            error = "bad count in fault rule '" + input + "'";
            return false;
        }
        text.erase(hash);
    }
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const std::string prefix = text.substr(0, colon);
        text.erase(0, colon + 1);
        if (prefix != "*") {
            if (prefix.empty() || prefix.size() % 2 != 0 || prefix.size() > 64) {
                error = "command prefix must be * or an even number of hex digits in '" + input + "'";
                return false;
            }
            rule.prefix.assign(prefix.size() / 2, 0);
            if (!HexTextToBytes(rule.prefix.data(), prefix.c_str(), prefix.size())) {
                error = "command prefix is not hex in '" + input + "'";
                return false;
            }
            rule.anyCommand = false;
        }
    }
    std::string name = text, args;
    const size_t eq = text.find('=');
    if (eq != std::string::npos) {
        name = text.substr(0, eq);
        args = text.substr(eq + 1);
    }
    if (!KindFromName(name, rule.kind)) {
        error = "unknown fault '" + name + "' in '" + input + "'";
        return false;
    }
    if (eq != std::string::npos) {
        const size_t slash = args.find('/');
        const std::string a = args.substr(0, slash);
        const bool okA = ParseNumber(a, rule.arg1);
        const bool okB = slash == std::string::npos || ParseNumber(args.substr(slash + 1), rule.arg2);
        if (!okA || !okB) {
            error = "bad number in fault rule '" + input + "'";
            return false;
        }
        if (rule.kind == FaultKind::kNoReply || rule.kind == FaultKind::kIoError) {
            error = std::string(FaultKindName(rule.kind)) + " takes no argument in '" + input + "'";
            return false;
        }
        if (slash != std::string::npos && rule.kind != FaultKind::kSplit) {
            error = "only split takes two arguments in '" + input + "'";
            return false;
        }
        if (rule.kind == FaultKind::kSplit && rule.arg1 == 0) {
            error = "split size must be at least 1 in '" + input + "'";
            return false;
        }
    }
    return true;
}

bool AppliedFaults::Drops(uint32_t frame) const {
    return std::find(dropFrames.begin(), dropFrames.end(), frame) != dropFrames.end();
}

bool AppliedFaults::Corrupts(uint32_t frame) const {
    return badCrcAll || std::find(badCrcFrames.begin(), badCrcFrames.end(), frame) != badCrcFrames.end();
}

FaultPlan::FaultPlan(uint64_t seed) : m_random(seed) {}

bool FaultPlan::AddRules(const std::string& text, std::string* error) {
    std::vector<FaultRule> parsed;
    for (const std::string& token : Tokens(text)) {
        FaultRule rule;
        std::string why;
        if (!ParseFaultRule(token, rule, why)) {
            if (error) *error = why;
            return false;
        }
        parsed.push_back(rule);
    }
    m_rules.insert(m_rules.end(), parsed.begin(), parsed.end());
    return true;
}

bool FaultPlan::SetRandom(uint64_t seed, const std::string& chances, std::string* error) {
    Chance parsed[static_cast<int>(FaultKind::kCount)];
    for (const std::string& token : Tokens(Lower(chances))) {
        const size_t eq = token.find('=');
        FaultKind kind;
        if (eq == std::string::npos || !KindFromName(token.substr(0, eq), kind)) {
            if (error) *error = "chance must be KIND=P[/MAX], got '" + token + "'";
            return false;
        }
        std::string value = token.substr(eq + 1);
        Chance c;
        const size_t slash = value.find('/');
        if (slash != std::string::npos) {
            std::string range = value.substr(slash + 1);
            const size_t dash = range.find('-');
            if (kind == FaultKind::kDelay && dash != std::string::npos) {
                if (!ParseNumber(range.substr(0, dash), c.min)) {
                    if (error) *error = "bad MIN in '" + token + "'";
                    return false;
                }
                range.erase(0, dash + 1);
            }
            if (!ParseNumber(range, c.max) || c.min > c.max) {
                if (error) *error = "bad MAX in '" + token + "'";
                return false;
            }
            value.erase(slash);
        }
        if (!ParseProbability(value, c.probability)) {
            if (error) *error = "probability must lie in 0..1 in '" + token + "'";
            return false;
        }
        parsed[static_cast<int>(kind)] = c;
    }
    for (int i = 0; i < static_cast<int>(FaultKind::kCount); ++i) m_chances[i] = parsed[i];
    m_random.Seed(seed);
    return true;
}

void FaultPlan::ClearRandom() {
    for (Chance& c : m_chances) c = Chance();
}

void FaultPlan::Apply(FaultKind kind, int32_t a, int32_t b, uint32_t replyFrames, AppliedFaults& out) {
    ++m_fired;
    switch (kind) {
    case FaultKind::kNoReply: out.noReply = true; break;
    case FaultKind::kDropPage: out.dropFrames.push_back(static_cast<uint32_t>(a < 0 ? 0 : a)); break;
    case FaultKind::kBadCrc:
        if (a < 0) out.badCrcAll = true;
        else out.badCrcFrames.push_back(static_cast<uint32_t>(a));
        break;
    case FaultKind::kGarbage: out.garbage += static_cast<uint32_t>(a < 0 ? 8 : a); break;
    case FaultKind::kSplit:
        out.splitSize = static_cast<uint32_t>(a < 0 ? 7 : a);
        out.splitPauseMs = static_cast<uint32_t>(b < 0 ? 20 : b);
        break;
    case FaultKind::kDelay: out.delayMs += static_cast<uint32_t>(a < 0 ? 100 : a); break;
    case FaultKind::kIoError:
    case FaultKind::kCount: break;
    }
    (void)replyFrames;
}

AppliedFaults FaultPlan::ForCommand(const std::vector<uint8_t>& payload, uint32_t replyFrames) {
    AppliedFaults out;
    for (FaultRule& rule : m_rules) {
        if (rule.kind == FaultKind::kIoError || rule.remaining == 0) continue;
        if (!PrefixMatches(rule, payload.data(), payload.size())) continue;
        if (rule.remaining > 0) --rule.remaining;
        Apply(rule.kind, rule.arg1, rule.arg2, replyFrames, out);
    }
    for (int i = 0; i < static_cast<int>(FaultKind::kCount); ++i) {
        const Chance& c = m_chances[i];
        const FaultKind kind = static_cast<FaultKind>(i);
        if (c.probability <= 0 || kind == FaultKind::kIoError) continue;
        if (m_random.Unit() >= c.probability) continue;
        const int32_t max = c.max;
        switch (kind) {
        case FaultKind::kDropPage:
        case FaultKind::kBadCrc:
            if (replyFrames == 0) break;
            Apply(kind, static_cast<int32_t>(m_random.Below(replyFrames)), -1, replyFrames, out);
            break;
        case FaultKind::kGarbage:
            Apply(kind, 1 + static_cast<int32_t>(m_random.Below(static_cast<uint32_t>(max < 1 ? 16 : max))), -1,
                  replyFrames, out);
            break;
        case FaultKind::kSplit:
            Apply(kind, 1 + static_cast<int32_t>(m_random.Below(32)),
                  static_cast<int32_t>(m_random.Below(static_cast<uint32_t>(max < 0 ? 20 : max) + 1)), replyFrames,
                  out);
            break;
        case FaultKind::kDelay: {
            const int32_t top = max < 0 ? 500 : max;
            Apply(kind, c.min + static_cast<int32_t>(m_random.Below(static_cast<uint32_t>(top - c.min) + 1)), -1,
                  replyFrames, out);
            break;
        }
        default: Apply(kind, -1, -1, replyFrames, out); break;
        }
    }
    return out;
}

bool FaultPlan::TakeWriteFault(const uint8_t* data, size_t count) {
    if (data == nullptr) count = 0;
    for (FaultRule& rule : m_rules) {
        if (rule.kind != FaultKind::kIoError || rule.remaining == 0) continue;
        bool match = rule.anyCommand;
        for (size_t i = 0; !match && i + 1 < count; ++i)
            if (data[i] == 0xA5 && data[i + 1] == 0x5A && i + 4 <= count)
                match = PrefixMatches(rule, data + i + 4, count - i - 4);
        if (!match) continue;
        if (rule.remaining > 0) --rule.remaining;
        ++m_fired;
        return true;
    }
    const Chance& c = m_chances[static_cast<int>(FaultKind::kIoError)];
    if (c.probability > 0 && m_random.Unit() < c.probability) {
        ++m_fired;
        return true;
    }
    return false;
}

} // namespace vxsim
