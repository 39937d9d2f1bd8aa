#pragma once
// Faults the simulated tool and link can show, chosen per run: rules that
// fire when a command's payload starts with given bytes, and a random mode
// (seeded, with one probability per fault) for long soak runs.
//
// Rule text: [PREFIX:]KIND[=A[/B]][#COUNT]
//   PREFIX  hex digits the command payload starts with, or * (any command)
//   KIND    noreply | droppage=K | badcrc[=K] | garbage[=N] | split[=N[/MS]]
//           | delay=MS | ioerror
//   COUNT   how many times the rule fires (default: every time)
// Several rules are separated by ';' or blanks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vxsim {

enum class FaultKind { kNoReply, kDropPage, kBadCrc, kGarbage, kSplit, kDelay, kIoError, kCount };

const char* FaultKindName(FaultKind kind);

// Small, fast, and the same sequence on every compiler for a given seed.
class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed = 1) : m_state(seed) {}
    void Seed(uint64_t seed) { m_state = seed; }
    uint64_t Next();
    uint32_t Below(uint32_t bound);  // 0 .. bound-1; 0 when bound is 0
    double Unit();                   // [0, 1)

private:
    uint64_t m_state;
};

struct FaultRule {
    bool anyCommand = true;
    std::vector<uint8_t> prefix;
    FaultKind kind = FaultKind::kNoReply;
    int32_t arg1 = -1;  // -1: the kind's default
    int32_t arg2 = -1;
    int32_t remaining = -1;  // -1: fires every time
};

bool ParseFaultRule(const std::string& text, FaultRule& rule, std::string& error);

// What happens to the reply of one command.
struct AppliedFaults {
    bool noReply = false;          // the command is lost: no reply, no effect
    std::vector<uint32_t> dropFrames;
    bool badCrcAll = false;
    std::vector<uint32_t> badCrcFrames;
    uint32_t garbage = 0;          // garbage bytes before each frame
    uint32_t splitSize = 0;        // 0: frames go whole
    uint32_t splitPauseMs = 0;
    uint32_t delayMs = 0;

    bool Drops(uint32_t frame) const;
    bool Corrupts(uint32_t frame) const;
};

class FaultPlan {
public:
    explicit FaultPlan(uint64_t seed = 1);

    // Adds the rules of text; on a parse error adds none and says why.
    bool AddRules(const std::string& text, std::string* error = nullptr);
    void ClearRules() { m_rules.clear(); }

    // Random mode: "KIND=P[/MAX] ..." with P a probability per command (per
    // write for ioerror) and MAX the largest random argument; a delay may
    // take "/MIN-MAX", so that its replies come surely after a host's time
    // limit rather than on its edge.
    bool SetRandom(uint64_t seed, const std::string& chances, std::string* error = nullptr);
    void ClearRandom();

    // The faults for one command whose reply has replyFrames frames.
    AppliedFaults ForCommand(const std::vector<uint8_t>& payload, uint32_t replyFrames);
    // Whether one FTDI write of these bytes fails with an I/O error.
    bool TakeWriteFault(const uint8_t* data, size_t count);

    SplitMix64& Random() { return m_random; }
    uint64_t Fired() const { return m_fired; }

private:
    struct Chance {
        double probability = 0;
        int32_t min = 0;  // delay only: the shortest random delay
        int32_t max = -1;
    };
    void Apply(FaultKind kind, int32_t a, int32_t b, uint32_t replyFrames, AppliedFaults& out);

    std::vector<FaultRule> m_rules;
    Chance m_chances[static_cast<int>(FaultKind::kCount)];
    SplitMix64 m_random;
    uint64_t m_fired = 0;
};

} // namespace vxsim
