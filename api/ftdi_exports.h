#pragma once
// Finding, opening, configuring and listing FTDI devices through a CFTDIPort.
// The open functions leave a device ready for the link: reset, purged,
// 100 ms time-outs, 8 data bits, 1 stop bit, no parity, 38400 baud.
#include <oaidl.h>

#include "engine/vx_api.h"
#include "ports/ftdi_port.h"

VX_API bool FindFTDIDevice(CFTDIPort& port, const wchar_t* name);
VX_API BOOL OpenFTDIDevice(CFTDIPort& port, const wchar_t* description);
VX_API bool OpenFTDIDeviceByLoc(CFTDIPort& port, unsigned long location);
VX_API bool OpenFTDIDeviceByIndex(CFTDIPort& port, unsigned long index);
VX_API bool CloseFTDIDevice(CFTDIPort& port);

typedef void* FtdiPortHandle;

VX_API long __stdcall FTDI_GetLocID(FtdiPortHandle port);
VX_API long __stdcall FTDI_ResetDevice(FtdiPortHandle port);
VX_API long __stdcall FTDI_CyclePort(FtdiPortHandle port);
VX_API unsigned long __stdcall SetFTDIBaud(FtdiPortHandle port, unsigned long rate);
VX_API unsigned long __stdcall SetFTDILatency(FtdiPortHandle port, unsigned long ms);
VX_API unsigned long __stdcall SetFTDIUSBParameters(FtdiPortHandle port, unsigned long inSize, unsigned long outSize);
VX_API long __stdcall FTDI_GetDeviceStrings(SAFEARRAY** descriptions);
VX_API long __stdcall FTDI_Enumerate(SAFEARRAY** descriptions, SAFEARRAY** comPorts, SAFEARRAY** indexes,
                                     SAFEARRAY** locations, SAFEARRAY** serials);
VX_API long __stdcall FTDI_GetLibraryVersion();
VX_API long __stdcall FTDI_GetDriverStatus();
