#include "sim/device_config.h"

#include <cstdlib>

#include "sim/fault_plan.h"
#include "sim/tool_model.h"

namespace vxsim {

namespace {

bool SplitTokens(const std::string& line, std::vector<std::string>& tokens, std::string& error) {
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') quoted = false;
            else cur.push_back(c);
            continue;
        }
        if (c == '#') break;
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (any) tokens.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur.push_back(c);
            any = true;
        }
    }
    if (quoted) {
        error = "unterminated quote";
        return false;
    }
    if (any) tokens.push_back(cur);
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || text[0] == '-' || v > limit) return false;
    value = v;
    return true;
}

bool ParseSwitch(const std::string& text, bool& value) {
    if (text == "on" || text == "1" || text == "yes" || text == "true") value = true;
    else if (text == "off" || text == "0" || text == "no" || text == "false") value = false;
    else return false;
    return true;
}

} // namespace

bool SetDeviceKey(DeviceConfig& d, const std::string& key, const std::string& value, std::string& error) {
    uint64_t n = 0;
    bool ok = true;
    if (key == "description") {
        ok = value.size() < 64;
        if (ok) d.description = value;
    } else if (key == "serial") {
        ok = value.size() < 16;
        if (ok) d.serial = value;
    } else if (key == "location") {
        ok = ParseUnsigned(value, 0xFFFFFFFFull, n);
        if (ok) d.location = static_cast<uint32_t>(n);
    } else if (key == "com") {
        if (value == "none") d.comPort = -1;
        else {
            ok = ParseUnsigned(value, 255, n) && n >= 1;
            if (ok) d.comPort = static_cast<int32_t>(n);
        }
    } else if (key == "faults") {
        FaultPlan probe;
        ok = probe.AddRules(value, &error);
        if (!ok) return false;
        d.faults = value;
    } else if (key == "random") {
        ok = ParseUnsigned(value, UINT64_MAX, n);
        if (ok) {
            d.random = true;
            d.randomSeed = n;
        }
    } else if (key == "chances") {
        FaultPlan probe;
        if (!probe.SetRandom(1, value, &error)) return false;
        d.chances = value;
    } else if (key == "pacing") {
        ok = ParseSwitch(value, d.pacing);
    } else if (key == "triple") {
        ok = ParseSwitch(value, d.triple);
    } else if (key == "present") {
        ok = ParseSwitch(value, d.present);
    } else if (key == "settle") {
        ok = ParseUnsigned(value, 60000, n);
        if (ok) d.settleMs = static_cast<uint32_t>(n);
    } else if (key == "toolinfo") {
        ToolModel probe;
        ok = probe.SetToolInfo(value);
        if (ok) d.toolInfo = value;
    } else if (key == "seed") {
        ok = ParseUnsigned(value, UINT64_MAX, d.seed);
    } else {
        error = "unknown key '" + key + "'";
        return false;
    }
    if (!ok) error = "bad value for " + key + ": '" + value + "'";
    return ok;
}

bool ParseDeviceConfig(const std::string& text, std::vector<DeviceConfig>& out, std::string& error, int& errorLine) {
    errorLine = 0;
    int lineNo = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        std::vector<std::string> tokens;
        if (!SplitTokens(line, tokens, error)) {
            errorLine = lineNo;
            return false;
        }
        if (tokens.empty()) continue;
        if (tokens[0] != "device") {
            error = "a line must begin with 'device'";
            errorLine = lineNo;
            return false;
        }
        DeviceConfig d;
        // Defaults that keep several unconfigured devices apart.
        const uint32_t n = static_cast<uint32_t>(out.size());
        d.serial = "VXS0000" + std::to_string(1 + n % 9);
        d.location = 0x1011 + n;
        d.seed = 1 + n;
        for (size_t i = 1; i < tokens.size(); ++i) {
            const size_t eq = tokens[i].find('=');
            if (eq == std::string::npos) {
                error = "expected key=value, got '" + tokens[i] + "'";
                errorLine = lineNo;
                return false;
            }
            if (!SetDeviceKey(d, tokens[i].substr(0, eq), tokens[i].substr(eq + 1), error)) {
                errorLine = lineNo;
                return false;
            }
        }
        out.push_back(d);
    }
    return true;
}

} // namespace vxsim
