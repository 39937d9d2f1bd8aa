#pragma once
// The D2XX interface the simulated Ftd2xx.dll offers: the 22 functions the
// library binds, with their published signatures (all __stdcall, C linkage),
// and the few status codes and flags they use. Plus the simulator's own
// control functions for tests.
#include <windows.h>

typedef void* FT_HANDLE;
typedef ULONG FT_STATUS;

enum : FT_STATUS {
    kFtOk = 0,
    kFtInvalidHandle = 1,
    kFtDeviceNotFound = 2,
    kFtDeviceNotOpened = 3,
    kFtIoError = 4,
    kFtInsufficientResources = 5,
    kFtInvalidParameter = 6,
    kFtInvalidBaudRate = 7,
};

enum : DWORD {
    kFtListNumberOnly = 0x80000000,
    kFtListByIndex = 0x40000000,
    kFtListAll = 0x20000000,
    kFtOpenBySerialNumber = 1,
    kFtOpenByDescription = 2,
    kFtOpenByLocation = 4,
    kFtEventRxChar = 1,
    kFtPurgeRx = 1,
    kFtPurgeTx = 2,
};

extern "C" {
FT_STATUS __stdcall FT_Open(int deviceIndex, FT_HANDLE* handle);
FT_STATUS __stdcall FT_OpenEx(void* argument, DWORD flags, FT_HANDLE* handle);
FT_STATUS __stdcall FT_ListDevices(void* arg1, void* arg2, DWORD flags);
FT_STATUS __stdcall FT_Close(FT_HANDLE handle);
FT_STATUS __stdcall FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* returned);
FT_STATUS __stdcall FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written);
FT_STATUS __stdcall FT_ResetDevice(FT_HANDLE handle);
FT_STATUS __stdcall FT_Purge(FT_HANDLE handle, ULONG mask);
FT_STATUS __stdcall FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
FT_STATUS __stdcall FT_SetBaudRate(FT_HANDLE handle, ULONG rate);
FT_STATUS __stdcall FT_GetQueueStatus(FT_HANDLE handle, DWORD* received);
FT_STATUS __stdcall FT_GetStatus(FT_HANDLE handle, DWORD* received, DWORD* queued, DWORD* events);
FT_STATUS __stdcall FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
FT_STATUS __stdcall FT_CyclePort(FT_HANDLE handle);
FT_STATUS __stdcall FT_SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
FT_STATUS __stdcall FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms);
FT_STATUS __stdcall FT_Rescan();
FT_STATUS __stdcall FT_Reload(WORD vendorId, WORD productId);
FT_STATUS __stdcall FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* parameter);
FT_STATUS __stdcall FT_GetLibraryVersion(DWORD* version);
FT_STATUS __stdcall FT_GetComPortNumber(FT_HANDLE handle, LONG* portNumber);
FT_STATUS __stdcall FT_GetDeviceInfo(FT_HANDLE handle, ULONG* deviceType, DWORD* deviceId, char* serialNumber,
                                     char* description, void* reserved);

// Simulator controls (see sim/README.md). SIM_Control returns 0 when done,
// -1 for an unknown command or bad argument, -2 for a device that does not
// exist. SIM_Query returns the value, or -1 for an unknown name or device.
int __stdcall SIM_Control(const char* command);
long long __stdcall SIM_Query(const char* name);
unsigned long __stdcall SIM_GetWritten(int device, unsigned char* buffer, unsigned long size);
}
