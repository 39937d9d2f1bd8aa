#include "sim/tool_config.h"

#include <cstdlib>

#include "sim/fault_plan.h"

namespace vxsim {

const char* const kToolConfigHelp =
    "  fault=RULES           [PREFIX:]KIND[=A[/B]][#COUNT] ..., repeatable; KIND is noreply,\n"
    "                        droppage=K, badcrc[=K], garbage[=N], split[=N[/MS]], delay=MS,\n"
    "                        ioerror (FTDI)\n"
    "  random=\"SEED CHANCES\" random faults, CHANCES as KIND=P[/MAX] ...\n"
    "  toolinfo=TEXT         the 10-character tool-info reply (default 9.1.V1.0.0)\n"
    "  triple=on|off         answer page reads with triple frames\n"
    "  delay=MS              pause before every answer\n"
    "  pacing=on|off         send no faster than the line rate (rate/10 bytes a second)\n"
    "  rate=R                TCP or COM: pace every answer at R baud, whatever the request asks\n";

namespace {

bool Words(const std::string& text, std::vector<std::string>& words, std::string& error) {
    std::string cur;
    bool quoted = false, any = false;
    for (char c : text) {
        if (quoted) {
            if (c == '"') quoted = false;
            else cur.push_back(c);
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (any) words.push_back(cur);
            cur.clear();
            any = false;
        } else if (c == '#' && !any) {
            break;
        } else {
            cur.push_back(c);
            any = true;
        }
    }
    if (quoted) {
        error = "unterminated quote";
        return false;
    }
    if (any) words.push_back(cur);
    return true;
}

bool Unsigned(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || v > limit) return false;
    value = v;
    return true;
}

bool Switch(const std::string& text, bool& value) {
    if (text == "on" || text == "1") value = true;
    else if (text == "off" || text == "0") value = false;
    else return false;
    return true;
}

template <typename T>
bool Number(const std::string& text, uint64_t low, uint64_t high, T& value) {
    uint64_t n = 0;
    if (!Unsigned(text, high, n) || n < low) return false;
    value = static_cast<T>(n);
    return true;
}

bool Set(ToolConfig& c, const std::string& key, const std::string& value, std::string& error) {
    bool ok = false;
    if (key == "fault") {
        FaultPlan probe;
        if (value.empty() || !probe.AddRules(value, &error)) {
            if (error.empty()) error = "fault needs rules";
            return false;
        }
        c.faults.push_back(value);
        return true;
    } else if (key == "random") {
        const size_t gap = value.find_first_of(" \t");
        const std::string seed = value.substr(0, gap);
        const std::string chances = gap == std::string::npos ? std::string() : value.substr(gap + 1);
        FaultPlan probe;
        if (!Number(seed, 0, UINT64_MAX, c.randomSeed)) {
            error = "random needs a seed, then chances";
            return false;
        }
        if (!probe.SetRandom(1, chances, &error)) return false;
        c.random = true;
        c.chances = chances;
        return true;
    } else if (key == "toolinfo") {
        ok = value.size() == 10 && value[0] == '9' && value[4] == 'V' && value[6] == '.';
        if (ok) c.toolInfo = value;
        else error = "toolinfo needs 10 characters with '9' first, 'V' fifth and '.' seventh";
        if (!ok) return false;
    } else if (key == "triple") {
        ok = Switch(value, c.triple);
    } else if (key == "delay") {
        ok = Number(value, 0, 600000, c.replyDelayMs);
    } else if (key == "pacing") {
        ok = Switch(value, c.pacing);
    } else if (key == "rate") {
        ok = Number(value, 300, 3000000, c.lineRate);
    } else if (key == "txstuck") {
        ok = Switch(value, c.txStuck);
    } else if (key == "description") {
        ok = value.size() < 64;
        if (ok) c.description = value;
    } else if (key == "serial") {
        ok = value.size() < 16;
        if (ok) c.serial = value;
    } else if (key == "location") {
        ok = Number(value, 0, 0xFFFFFFFFull, c.location);
    } else if (key == "com") {
        ok = value == "none" ? (c.comPort = -1, true) : Number(value, 1, 255, c.comPort);
    } else {
        error = "unknown setting '" + key + "'";
        return false;
    }
    if (!ok) error = "bad value for " + key + ": '" + value + "'";
    return ok;
}

} // namespace

bool ParseToolConfig(const std::string& text, ToolConfig& config, std::string* error) {
    std::string why;
    std::vector<std::string> words;
    ToolConfig c = config;
    bool ok = Words(text, words, why);
    if (ok && !words.empty() && words[0].find('=') == std::string::npos) {
        // "key value": everything after the first word is the value.
        const size_t start = text.find_first_not_of(" \t");
        const size_t gap = text.find_first_of(" \t", start);
        size_t from = gap == std::string::npos ? text.size() : text.find_first_not_of(" \t", gap);
        size_t to = text.find_last_not_of(" \t\r\n");
        const std::string value = from == std::string::npos || to < from ? std::string() : text.substr(from, to - from + 1);
        ok = Set(c, words[0], value, why);
    } else {
        for (size_t i = 0; ok && i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            ok = eq != std::string::npos && Set(c, words[i].substr(0, eq), words[i].substr(eq + 1), why);
            if (eq == std::string::npos) why = "expected key=value, got '" + words[i] + "'";
        }
    }
    if (!ok) {
        if (error) *error = why;
        return false;
    }
    config = c;
    return true;
}

bool ParseDeviceList(const std::string& text, std::vector<ToolConfig>& out, std::string& error, int& errorLine) {
    errorLine = 0;
    int lineNo = 0;
    for (size_t pos = 0; pos <= text.size();) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        std::vector<std::string> words;
        if (!Words(line, words, error)) {
            errorLine = lineNo;
            return false;
        }
        if (words.empty()) continue;
        const size_t n = out.size();
        ToolConfig d;
        d.serial = "VXS0000" + std::to_string(1 + n % 9);
        d.location = static_cast<uint32_t>(0x1011 + n);
        d.seed = 1 + n;
        const size_t at = line.find("device");
        if (words[0] != "device" || !ParseToolConfig(words.size() > 1 ? line.substr(at + 6) : std::string(), d, &error)) {
            if (words[0] != "device") error = "a line must begin with 'device'";
            errorLine = lineNo;
            return false;
        }
        out.push_back(d);
    }
    return true;
}

} // namespace vxsim
