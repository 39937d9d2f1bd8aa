// Controls and queries for tests and host authors: faults, presence, pacing
// and the state of a device, by text so that any language can call them.
// A command or query may begin with "dev:N" to name device N (configuration
// order, from 0); without it, device 0.
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim/ftd2xx/d2xx_api.h"
#include "sim/ftd2xx/device_registry.h"

using ftdisim::Registry;
using ftdisim::SimDevice;

namespace {

constexpr int kDone = 0;
constexpr int kBadCommand = -1;
constexpr int kNoDevice = -2;

bool ParseCount(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

// Splits off "dev:N" and the verb; rest is what follows the verb, text
// everything after "dev:N".
bool Split(const char* input, size_t& device, std::string& verb, std::string& rest, std::string* text = nullptr) {
    device = 0;
    std::istringstream in(input ? input : "");
    std::string word;
    if (!(in >> word)) return false;
    if (word.compare(0, 4, "dev:") == 0) {
        uint64_t n = 0;
        if (!ParseCount(word.substr(4), n)) return false;
        device = static_cast<size_t>(n);
        if (!(in >> word)) return false;
    }
    verb = word;
    std::getline(in, rest);
    if (text) *text = verb + rest;
    const size_t first = rest.find_first_not_of(" \t");
    rest = first == std::string::npos ? std::string() : rest.substr(first);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
    return true;
}

// Actions first; anything else is settings in the text form (tool_config.h).
int Apply(Registry& r, SimDevice& d, const std::string& verb, const std::string& rest, const std::string& text,
          int64_t now) {
    vxsim::ToolModel& tool = d.line->Tool();
    uint64_t n = 0;
    if (verb == "nofaults" && rest.empty()) {
        d.config.faults.clear();
        d.config.random = false;
        d.line->Configure(d.config);
        return kDone;
    }
    if (verb == "toolrate") {
        if (!ParseCount(rest, n) || n < 300 || n > 3000000) return kBadCommand;
        tool.SetRate(static_cast<uint32_t>(n));
        return kDone;
    }
    if (verb == "vanish") {
        if (!rest.empty() && (!ParseCount(rest, n) || n > 3600000)) return kBadCommand;
        r.Vanish(d, static_cast<uint32_t>(n), now);
        return kDone;
    }
    if (verb == "return" && rest.empty()) {
        r.Return(d);
        return kDone;
    }
    if (verb == "clearwritten" && rest.empty()) {
        d.line->ClearWrittenBytes();
        tool.ClearCommands();
        return kDone;
    }
    if (!vxsim::ParseToolConfig(text, d.config)) return kBadCommand;
    d.line->Configure(d.config);
    r.WakeNotifier();
    return kDone;
}

long long Value(Registry& r, SimDevice& d, const std::string& name) {
    const vxsim::LineCounters& line = d.line->Counters();
    const vxsim::ToolCounters tool = d.line->Tool().Counters();
    if (name == "open") return d.handle != 0 ? 1 : 0;
    if (name == "devicerate") return d.line->BaudRate();
    if (name == "toolrate") return d.line->Tool().Rate();
    if (name == "garbledtohost") return static_cast<long long>(line.garbledToHost);
    if (name == "garbledtotool") return static_cast<long long>(line.garbledToTool);
    if (name == "framesdelivered") return static_cast<long long>(line.framesDelivered);
    if (name == "commands") return static_cast<long long>(tool.commands);
    if (name == "pages") return static_cast<long long>(tool.pagesQueued);
    if (name == "faultsfired") return static_cast<long long>(d.line->Tool().Faults().Fired());
    if (name == "resets") return static_cast<long long>(d.resets);
    if (name == "purges") return static_cast<long long>(d.purges);
    if (name == "cycles") return static_cast<long long>(d.cycles);
    if (name == "readtimeout") return d.readTimeoutMs;
    if (name == "writetimeout") return d.writeTimeoutMs;
    if (name == "latency") return d.latencyMs;
    if (name == "usbin") return d.usbIn;
    if (name == "usbout") return d.usbOut;
    if (name == "format8n1") return d.line->Is8N1() ? 1 : 0;
    (void)r;
    return -1;
}

} // namespace

extern "C" {

int __stdcall SIM_Control(const char* command) {
    Registry& r = Registry::Get();
    std::unique_lock<std::mutex> lock(r.Lock());
    r.EnsureLoaded();
    size_t index = 0;
    std::string verb, rest, text;
    if (!Split(command, index, verb, rest, &text)) return kBadCommand;
    if (verb == "reload" && rest.empty()) {
        r.Reload();
        return kDone;
    }
    if (verb == "devices") {
        // Inline configuration: lines separated by '|' or line breaks.
        std::string text = rest;
        for (char& c : text)
            if (c == '|') c = '\n';
        r.Reload(&text);
        return r.ConfigErrorLine() == 0 ? kDone : kBadCommand;
    }
    SimDevice* d = r.Device(index);
    if (d == nullptr) return kNoDevice;
    const int64_t now = Registry::NowUs();
    r.Advance(*d, now);
    return Apply(r, *d, verb, rest, text, now);
}

long long __stdcall SIM_Query(const char* name) {
    Registry& r = Registry::Get();
    std::unique_lock<std::mutex> lock(r.Lock());
    r.EnsureLoaded();
    size_t index = 0;
    std::string verb, rest;
    if (!Split(name, index, verb, rest) || !rest.empty()) return -1;
    if (verb == "devices") return static_cast<long long>(r.DeviceCount());
    if (verb == "configerror") return r.ConfigErrorLine();
    if (verb == "ftreloads") return static_cast<long long>(r.reloadCalls);
    SimDevice* d = r.Device(index);
    if (d == nullptr) return -1;
    r.Advance(*d, Registry::NowUs());
    return Value(r, *d, verb);
}

unsigned long __stdcall SIM_GetWritten(int device, unsigned char* buffer, unsigned long size) {
    Registry& r = Registry::Get();
    std::unique_lock<std::mutex> lock(r.Lock());
    r.EnsureLoaded();
    SimDevice* d = device >= 0 ? r.Device(static_cast<size_t>(device)) : nullptr;
    if (d == nullptr) return 0;
    const std::vector<uint8_t>& written = d->line->WrittenBytes();
    if (buffer != nullptr) {
        const size_t n = written.size() < size ? written.size() : size;
        if (n) std::memcpy(buffer, written.data(), n);
    }
    return static_cast<unsigned long>(written.size());
}

} // extern "C"
