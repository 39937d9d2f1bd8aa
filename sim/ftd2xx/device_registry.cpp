#include "sim/ftd2xx/device_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace ftdisim {

namespace {

constexpr int64_t kNotifierTickUs = 50000;

std::string ReadConfigText(bool& found, std::string& error) {
    found = false;
    wchar_t path[1024];
    const DWORD n = GetEnvironmentVariableW(L"VORNEX_FTDISIM_CONFIG", path, 1024);
    if (n == 0 || n >= 1024) return std::string();
    found = true;
    FILE* f = _wfopen(path, L"rb");
    if (!f) {
        error = "cannot read the file named by VORNEX_FTDISIM_CONFIG";
        return std::string();
    }
    std::string text;
    char buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20)) text.append(buf, got);
    fclose(f);
    return text;
}

} // namespace

namespace {

Registry*& Instance() {
    static Registry* registry = nullptr;
    return registry;
}

} // namespace

Registry& Registry::Get() {
    // Made on first use, under the loader-independent once-guard of a local
    // static; not destroyed at process exit, where other threads may still
    // hold the lock.
    static const bool made = (Instance() = new Registry(), true);
    (void)made;
    if (!Instance()) Instance() = new Registry();  // after an unload and a new load
    return *Instance();
}

void Registry::DestroyAtUnload() {
    delete Instance();
    Instance() = nullptr;
}

int64_t Registry::NowUs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<int64_t>(c.QuadPart / frequency * 1000000 + (c.QuadPart % frequency) * 1000000 / frequency);
}

void Registry::EnsureLoaded() {
    if (!m_loaded) Reload();
}

void Registry::Reload(const std::string* inlineConfig) {
    for (auto& entry : m_handles) {
        entry.second->handle = 0;
        entry.second->event = nullptr;
    }
    m_handles.clear();
    m_devices.clear();
    m_configError.clear();
    m_configErrorLine = 0;
    m_loaded = true;

    std::vector<vxsim::ToolConfig> configs;
    bool fromFile = false;
    std::string text = inlineConfig ? *inlineConfig : ReadConfigText(fromFile, m_configError);
    if (!m_configError.empty()) {
        m_configErrorLine = 1;  // the file itself cannot be read
    } else if (inlineConfig || fromFile) {
        vxsim::ParseDeviceList(text, configs, m_configError, m_configErrorLine);
    } else {
        configs.push_back(vxsim::ToolConfig());
    }

    const int64_t now = NowUs();
    for (const vxsim::ToolConfig& c : configs) {
        std::unique_ptr<SimDevice> d(new SimDevice());
        d->config = c;
        d->line.reset(new vxsim::FtdiLine(c.seed, now));
        d->line->Configure(c);
        m_devices.push_back(std::move(d));
    }
    m_data.notify_all();
    m_wake.notify_all();
}

SimDevice* Registry::Find(void* handle) {
    if (handle == nullptr) return nullptr;
    auto it = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == m_handles.end() ? nullptr : it->second;
}

std::vector<SimDevice*> Registry::Present(int64_t nowUs) {
    std::vector<SimDevice*> out;
    for (auto& d : m_devices) {
        UpdatePresence(*d, nowUs);
        if (d->present) out.push_back(d.get());
    }
    return out;
}

void* Registry::OpenHandle(SimDevice& device) {
    // Handles are tokens, never addresses: a stale or made-up handle is
    // looked up, not followed.
    m_nextHandle += 0x10;
    device.handle = m_nextHandle;
    device.event = nullptr;
    device.eventMask = 0;
    device.readTimeoutMs = 300;
    device.writeTimeoutMs = 300;
    m_handles[device.handle] = &device;
    StartNotifier();
    return reinterpret_cast<void*>(device.handle);
}

void Registry::CloseHandle(SimDevice& device) {
    m_handles.erase(device.handle);
    device.handle = 0;
    device.event = nullptr;
    device.eventMask = 0;
    m_data.notify_all();
    m_wake.notify_all();
}

void Registry::UpdatePresence(SimDevice& device, int64_t nowUs) {
    if (!device.present && device.returnAtUs != 0 && nowUs >= device.returnAtUs) Return(device);
}

void Registry::Vanish(SimDevice& device, uint32_t ms, int64_t nowUs) {
    device.present = false;
    device.returnAtUs = ms ? nowUs + static_cast<int64_t>(ms) * 1000 : 0;
    device.line->Drop();
    m_data.notify_all();
    m_wake.notify_all();
}

void Registry::Return(SimDevice& device) {
    device.present = true;
    device.returnAtUs = 0;
    m_wake.notify_all();
}

void Registry::Advance(SimDevice& device, int64_t nowUs) {
    UpdatePresence(device, nowUs);
    if (!device.present) return;
    vxsim::LineEvents ev;
    device.line->Advance(nowUs, ev);
    HandleEvents(device, ev, nowUs);
}

void Registry::HandleEvents(SimDevice& device, const vxsim::LineEvents& ev, int64_t nowUs) {
    if (ev.received > 0) {
        if (device.event != nullptr && (device.eventMask & kFtEventRxChar) != 0) SetEvent(device.event);
        m_data.notify_all();
    }
}

void Registry::WaitForData(std::unique_lock<std::mutex>& lk, int64_t untilUs) {
    const int64_t wait = untilUs - NowUs();
    if (wait <= 0) return;
    m_data.wait_for(lk, std::chrono::microseconds(wait));
}

void Registry::StartNotifier() {
    if (m_notifierRunning) return;
    // The thread holds a reference on this module so that the host cannot
    // unload the code under it; it drops it as it ends.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Registry::NotifierMain),
                            &self))
        return;
    HANDLE thread = CreateThread(nullptr, 0, &Registry::NotifierMain, self, 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(self);
        return;
    }
    ::CloseHandle(thread);
    m_notifierRunning = true;
}

DWORD WINAPI Registry::NotifierMain(void* module) {
    Get().NotifierLoop();
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

void Registry::NotifierLoop() {
    std::unique_lock<std::mutex> lk(m_lock);
    for (;;) {
        if (m_handles.empty()) {
            m_notifierRunning = false;
            return;
        }
        const int64_t now = NowUs();
        int64_t next = now + kNotifierTickUs;
        for (auto& d : m_devices) {
            if (d->handle == 0) continue;
            Advance(*d, now);
            next = std::min(next, d->line->NextEventUs());
            if (!d->present && d->returnAtUs != 0) next = std::min(next, d->returnAtUs);
        }
        const int64_t wait = std::max<int64_t>(next - NowUs(), 200);
        m_wake.wait_for(lk, std::chrono::microseconds(wait));
    }
}

} // namespace ftdisim
