// The 22 D2XX functions, played by simulated devices. Every call takes the
// registry lock, looks its handle up (an unknown handle gives status 1, a
// device that has disappeared status 4) and lets time pass on the device
// before it looks at the queues.
#include <algorithm>
#include <cstring>

#include "sim/ftd2xx/d2xx_api.h"
#include "sim/ftd2xx/device_registry.h"

using ftdisim::Registry;
using ftdisim::SimDevice;

namespace {

constexpr DWORD kLibraryVersion = 0x00020814;
constexpr ULONG kDeviceType232R = 5;
constexpr DWORD kDeviceId = 0x04036001;
constexpr size_t kDescriptionSize = 64;
constexpr size_t kSerialSize = 16;

struct Session {
    Registry& registry;
    std::unique_lock<std::mutex> lock;
    int64_t now;
    Session() : registry(Registry::Get()), lock(registry.Lock()), now(0) {
        registry.EnsureLoaded();
        now = Registry::NowUs();
    }
    // The device behind handle, with its time brought up to now.
    FT_STATUS Resolve(FT_HANDLE handle, SimDevice*& device) {
        device = registry.Find(handle);
        if (device == nullptr) return kFtInvalidHandle;
        registry.UpdatePresence(*device, now);
        if (!device->present) return kFtIoError;
        registry.Advance(*device, now);
        return kFtOk;
    }
};

void CopyText(char* out, size_t size, const std::string& text) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

DWORD IndexOf(void* arg) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(arg));
}

FT_STATUS OpenDevice(Session& s, SimDevice* device, FT_HANDLE* handle) {
    if (device == nullptr) return kFtDeviceNotFound;
    if (device->handle != 0) return kFtDeviceNotOpened;  // busy: opened already
    *handle = s.registry.OpenHandle(*device);
    return kFtOk;
}

} // namespace

extern "C" {

FT_STATUS __stdcall FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    Session s;
    const std::vector<SimDevice*> present = s.registry.Present(s.now);
    if (flags & kFtListNumberOnly) {
        if (arg1 == nullptr) return kFtInvalidParameter;
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(present.size());
        return kFtOk;
    }
    const DWORD what = flags & 0x7;
    if (flags & kFtListByIndex) {
        const DWORD index = IndexOf(arg1);
        if (arg2 == nullptr) return kFtInvalidParameter;
        if (index >= present.size()) return kFtDeviceNotFound;
        const vxsim::ToolConfig& c = present[index]->config;
        switch (what) {
        case kFtOpenByDescription: CopyText(static_cast<char*>(arg2), kDescriptionSize, c.description); return kFtOk;
        case kFtOpenBySerialNumber: CopyText(static_cast<char*>(arg2), kSerialSize, c.serial); return kFtOk;
        case kFtOpenByLocation: *static_cast<DWORD*>(arg2) = c.location; return kFtOk;
        default: return kFtInvalidParameter;
        }
    }
    if (flags & kFtListAll) {
        // Only the pointer-array forms: the array ends with a null pointer,
        // so the number of buffers is known and never exceeded. An array of
        // plain locations has no such end and is refused.
        if (what != kFtOpenByDescription && what != kFtOpenBySerialNumber) return kFtInvalidParameter;
        char** buffers = static_cast<char**>(arg1);
        if (buffers == nullptr) return kFtInvalidParameter;
        DWORD written = 0;
        for (SimDevice* d : present) {
            if (buffers[written] == nullptr) break;
            if (what == kFtOpenByDescription) CopyText(buffers[written], kDescriptionSize, d->config.description);
            else CopyText(buffers[written], kSerialSize, d->config.serial);
            ++written;
        }
        if (arg2 != nullptr) *static_cast<DWORD*>(arg2) = written;
        return kFtOk;
    }
    return kFtInvalidParameter;
}

FT_STATUS __stdcall FT_Open(int deviceIndex, FT_HANDLE* handle) {
    if (handle == nullptr) return kFtInvalidParameter;
    *handle = nullptr;
    Session s;
    const std::vector<SimDevice*> present = s.registry.Present(s.now);
    if (deviceIndex < 0 || static_cast<size_t>(deviceIndex) >= present.size()) return kFtDeviceNotFound;
    return OpenDevice(s, present[static_cast<size_t>(deviceIndex)], handle);
}

FT_STATUS __stdcall FT_OpenEx(void* argument, DWORD flags, FT_HANDLE* handle) {
    if (handle == nullptr) return kFtInvalidParameter;
    *handle = nullptr;
    if ((flags == kFtOpenByDescription || flags == kFtOpenBySerialNumber) && argument == nullptr)
        return kFtInvalidParameter;
    Session s;
    SimDevice* match = nullptr;
    SimDevice* busy = nullptr;
    for (SimDevice* d : s.registry.Present(s.now)) {
        bool same = false;
        switch (flags) {
        case kFtOpenByLocation: same = d->config.location == IndexOf(argument); break;
        case kFtOpenByDescription: same = d->config.description == static_cast<const char*>(argument); break;
        case kFtOpenBySerialNumber: same = d->config.serial == static_cast<const char*>(argument); break;
        default: return kFtInvalidParameter;
        }
        if (!same) continue;
        if (d->handle == 0) {
            match = d;
            break;
        }
        busy = d;
    }
    if (match == nullptr) return busy ? kFtDeviceNotOpened : kFtDeviceNotFound;
    return OpenDevice(s, match, handle);
}

FT_STATUS __stdcall FT_Close(FT_HANDLE handle) {
    Session s;
    SimDevice* d = s.registry.Find(handle);
    if (d == nullptr) return kFtInvalidHandle;
    s.registry.CloseHandle(*d);
    return kFtOk;
}

FT_STATUS __stdcall FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* returned) {
    if (returned == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
    *returned = 0;
    Session s;
    SimDevice* d = nullptr;
    FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    // Wait for the whole count until the read time-out, as the driver does.
    const int64_t deadline = s.now + static_cast<int64_t>(d->readTimeoutMs) * 1000;
    for (;;) {
        const int64_t now = Registry::NowUs();
        if (d->line->ReceiveCount() >= count || now >= deadline) break;
        s.registry.WaitForData(s.lock, std::min(deadline, d->line->NextEventUs()));
        s.now = Registry::NowUs();
        // The handle may have been closed or the device lost meanwhile.
        status = s.Resolve(handle, d);
        if (status != kFtOk) return status;
    }
    *returned = static_cast<DWORD>(d->line->Read(static_cast<uint8_t*>(buffer), count));
    return kFtOk;
}

FT_STATUS __stdcall FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    if (written == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
    *written = 0;
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    if (d->line->Tool().Faults().TakeWriteFault(bytes, count)) return kFtIoError;
    vxsim::LineEvents ev;
    *written = static_cast<DWORD>(d->line->Write(bytes, count, s.now, ev));
    s.registry.HandleEvents(*d, ev, s.now);
    s.registry.WakeNotifier();
    return kFtOk;
}

FT_STATUS __stdcall FT_ResetDevice(FT_HANDLE handle) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    vxsim::LineEvents ev;
    d->line->Purge(true, true, s.now, ev);
    ++d->resets;
    return kFtOk;
}

FT_STATUS __stdcall FT_Purge(FT_HANDLE handle, ULONG mask) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    if (mask & ~static_cast<ULONG>(kFtPurgeRx | kFtPurgeTx)) return kFtInvalidParameter;
    vxsim::LineEvents ev;
    d->line->Purge((mask & kFtPurgeRx) != 0, (mask & kFtPurgeTx) != 0, s.now, ev);
    ++d->purges;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    d->readTimeoutMs = readMs;
    d->writeTimeoutMs = writeMs;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetBaudRate(FT_HANDLE handle, ULONG rate) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    if (rate < 300 || rate > 3000000) return kFtInvalidBaudRate;
    vxsim::LineEvents ev;
    d->line->SetBaudRate(rate, s.now, ev);
    s.registry.HandleEvents(*d, ev, s.now);
    s.registry.WakeNotifier();
    return kFtOk;
}

FT_STATUS __stdcall FT_GetQueueStatus(FT_HANDLE handle, DWORD* received) {
    if (received == nullptr) return kFtInvalidParameter;
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    *received = static_cast<DWORD>(d->line->ReceiveCount());
    return kFtOk;
}

FT_STATUS __stdcall FT_GetStatus(FT_HANDLE handle, DWORD* received, DWORD* queued, DWORD* events) {
    if (received == nullptr || queued == nullptr || events == nullptr) return kFtInvalidParameter;
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    *received = static_cast<DWORD>(d->line->ReceiveCount());
    *queued = static_cast<DWORD>(d->line->TransmitCount());
    *events = 0;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4)
        return kFtInvalidParameter;
    vxsim::LineEvents ev;
    d->line->SetFormat(wordLength, stopBits, parity, s.now, ev);
    s.registry.HandleEvents(*d, ev, s.now);
    return kFtOk;
}

FT_STATUS __stdcall FT_CyclePort(FT_HANDLE handle) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    // The port re-enumerates: whatever was in flight is gone. The handle
    // stays usable so that a host can carry on.
    d->line->Drop();
    ++d->cycles;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    const auto valid = [](ULONG size) { return size >= 64 && size <= 65536 && size % 64 == 0; };
    if (!valid(inSize) || (outSize != 0 && !valid(outSize))) return kFtInvalidParameter;
    d->usbIn = inSize;
    d->usbOut = outSize;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    if (ms < 2) return kFtInvalidParameter;
    d->latencyMs = ms;
    return kFtOk;
}

#if VX_FTDISIM_RESCAN
FT_STATUS __stdcall FT_Rescan() {
    Session s;
    s.registry.Present(s.now);
    return kFtOk;
}
#endif

FT_STATUS __stdcall FT_Reload(WORD vendorId, WORD productId) {
    Session s;
    ++s.registry.reloadCalls;
    (void)vendorId;
    (void)productId;
    return kFtOk;
}

FT_STATUS __stdcall FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* parameter) {
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    d->eventMask = mask;
    d->event = static_cast<HANDLE>(parameter);
    // Bytes already waiting count as arrived, so a host never waits for them.
    if (d->event != nullptr && (mask & kFtEventRxChar) && d->line->ReceiveCount() > 0) SetEvent(d->event);
    s.registry.WakeNotifier();
    return kFtOk;
}

FT_STATUS __stdcall FT_GetLibraryVersion(DWORD* version) {
    if (version == nullptr) return kFtInvalidParameter;
    *version = kLibraryVersion;
    return kFtOk;
}

FT_STATUS __stdcall FT_GetComPortNumber(FT_HANDLE handle, LONG* portNumber) {
    if (portNumber == nullptr) return kFtInvalidParameter;
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    *portNumber = d->config.comPort;
    return kFtOk;
}

FT_STATUS __stdcall FT_GetDeviceInfo(FT_HANDLE handle, ULONG* deviceType, DWORD* deviceId, char* serialNumber,
                                     char* description, void* reserved) {
    (void)reserved;
    Session s;
    SimDevice* d = nullptr;
    const FT_STATUS status = s.Resolve(handle, d);
    if (status != kFtOk) return status;
    if (deviceType) *deviceType = kDeviceType232R;
    if (deviceId) *deviceId = kDeviceId;
    if (serialNumber) CopyText(serialNumber, kSerialSize, d->config.serial);
    if (description) CopyText(description, kDescriptionSize, d->config.description);
    return kFtOk;
}

} // extern "C"
