#include "api/reset_tool_rate.h"

#include <windows.h>

#include "engine/ftdi_transport.h"
#include "framework/module_state.h"
#include "ports/d2xx.h"
#include "ports/ftdi_port.h"
#include "protocol/command_frame.h"
#include "protocol/rate_codes.h"

namespace {

// The rates a tool may have been left at.
constexpr ULONG kRatesTried[] = {115200};
constexpr ULONG kTimeoutMs = 100;
constexpr DWORD kDrainPauseMs = 30;
// Twelve bytes leave in about a millisecond at 115200 baud; a device that
// has not sent them in a second has stopped draining (unplugged, stalled).
constexpr DWORD kDrainLimitMs = 1000;

} // namespace

long __stdcall FTDI_ResetToolRate(void* port) {
    VX_MANAGE_STATE();
    CFTDIPort* device = static_cast<CFTDIPort*>(port);
    if (!device) return 0;
    size_t size = 0;
    unsigned char* frame = BuildCommandFrame(L"be2b0100", &size);
    if (!frame) return 0;
    for (ULONG rate : kRatesTried) {
        device->Purge(d2xx::kPurgeRx | d2xx::kPurgeTx);
        device->SetTimeouts(kTimeoutMs, kTimeoutMs);
        device->SetDataCharacteristics(d2xx::kBits8, d2xx::kStopBits1, d2xx::kParityNone);
        device->SetBaudRate(rate);
        DWORD written = 0;
        device->Write(frame, static_cast<DWORD>(size), &written);
        FtdiTransport::WaitForTransmitDrain(device, kDrainLimitMs, kDrainPauseMs);
    }
    delete[] frame;
    device->SetBaudRate(kBaseRate);
    return 1;
}
