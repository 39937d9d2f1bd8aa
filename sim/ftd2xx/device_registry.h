#pragma once
// Every device the simulated library offers, the handles open on them, and
// the one lock that guards both. A background thread (running while any
// handle is open) lets time pass on the open lines, so that bytes arrive and
// event handles are signalled without the host calling in.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/tool_config.h"
#include "sim/ftd2xx/d2xx_api.h"
#include "sim/ftdi_line.h"

namespace ftdisim {

struct SimDevice {
    vxsim::ToolConfig config;
    std::unique_ptr<vxsim::FtdiLine> line;
    bool present = true;
    int64_t returnAtUs = 0;      // when a vanished device comes back; 0: when told
    uintptr_t handle = 0;        // 0: not open
    HANDLE event = nullptr;
    DWORD eventMask = 0;
    ULONG readTimeoutMs = 300;
    ULONG writeTimeoutMs = 300;
    UCHAR latencyMs = 16;
    ULONG usbIn = 4096;
    ULONG usbOut = 4096;
    uint64_t resets = 0;
    uint64_t purges = 0;
    uint64_t cycles = 0;
};

class Registry {
public:
    static Registry& Get();
    // Frees the registry when the host unloads the library (FreeLibrary):
    // its locks and waits hold handles, and a library loaded and unloaded
    // again and again must not leak them. No thread of ours runs then: the
    // notifier keeps the module loaded while it runs.
    static void DestroyAtUnload();

    std::mutex& Lock() { return m_lock; }
    // Everything below expects the lock to be held.
    void EnsureLoaded();
    // Reads the device list again (from VORNEX_FTDISIM_CONFIG, or the text
    // given); every open handle becomes invalid.
    void Reload(const std::string* inlineConfig = nullptr);

    SimDevice* Find(void* handle);
    SimDevice* Device(size_t index) { return index < m_devices.size() ? m_devices[index].get() : nullptr; }
    size_t DeviceCount() const { return m_devices.size(); }
    // Devices plugged in now, in configuration order.
    std::vector<SimDevice*> Present(int64_t nowUs);

    void* OpenHandle(SimDevice& device);
    void CloseHandle(SimDevice& device);

    static int64_t NowUs();
    // Lets time pass on one device: bytes move, events are signalled,
    // a vanish fault takes effect.
    void Advance(SimDevice& device, int64_t nowUs);
    // Acts on what a line step reported: signals the device's event when bytes
    // arrived, takes the device away when the tool asked for it.
    void HandleEvents(SimDevice& device, const vxsim::LineEvents& ev, int64_t nowUs);
    void Vanish(SimDevice& device, uint32_t ms, int64_t nowUs);
    void Return(SimDevice& device);
    void UpdatePresence(SimDevice& device, int64_t nowUs);

    // Waits (lock held through lk) until rx data may have arrived or deadline.
    void WaitForData(std::unique_lock<std::mutex>& lk, int64_t untilUs);
    void WakeNotifier() { m_wake.notify_all(); }

    int ConfigErrorLine() const { return m_configErrorLine; }
    uint64_t reloadCalls = 0;

private:
    Registry() = default;
    void StartNotifier();
    static DWORD WINAPI NotifierMain(void* self);
    void NotifierLoop();

    std::mutex m_lock;
    std::condition_variable m_data;
    std::condition_variable m_wake;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    std::map<uintptr_t, SimDevice*> m_handles;
    uintptr_t m_nextHandle = 0x5100;
    bool m_loaded = false;
    bool m_notifierRunning = false;
    std::string m_configError;
    int m_configErrorLine = 0;
};

} // namespace ftdisim
