#pragma once
// The FTDI D2XX interface as this library uses it: handle and status types,
// the codes and flags it gives meaning to, and the signatures of the 22
// functions it binds at run time (all __stdcall, exported undecorated).
#include <windows.h>

// Opaque device handle: a pointer on both architectures.
typedef void* FT_HANDLE;
// 32-bit status code, 0 = success.
typedef ULONG FT_STATUS;

namespace d2xx {

constexpr FT_STATUS kOk = 0;
constexpr FT_STATUS kInvalidHandle = 1;     // also what a missing function yields
constexpr FT_STATUS kDeviceNotOpened = 3;   // accepted when listing all descriptions
constexpr FT_STATUS kIoError = 4;           // starts the link's recovery
constexpr FT_STATUS kInvalidParameter = 6;  // null port handle given to a setter

// FT_ListDevices flags.
constexpr DWORD kListNumberOnly = 0x80000000;
constexpr DWORD kListByIndex = 0x40000000;
constexpr DWORD kListAll = 0x20000000;
// FT_ListDevices / FT_OpenEx: what is listed or opened by.
constexpr DWORD kByDescription = 2;
constexpr DWORD kByLocation = 4;

constexpr ULONG kPurgeRx = 1;
constexpr ULONG kPurgeTx = 2;
constexpr DWORD kEventRxChar = 1;
constexpr UCHAR kBits8 = 8;
constexpr UCHAR kStopBits1 = 0;
constexpr UCHAR kParityNone = 0;
constexpr WORD kFtdiVendorId = 0x0403;
constexpr WORD kFtdiProductId = 0x6001;

typedef FT_STATUS(WINAPI* SetBaudRateFn)(FT_HANDLE, ULONG);
typedef FT_STATUS(WINAPI* OpenFn)(int, FT_HANDLE*);
typedef FT_STATUS(WINAPI* OpenExFn)(PVOID, DWORD, FT_HANDLE*);
typedef FT_STATUS(WINAPI* ListDevicesFn)(PVOID, PVOID, DWORD);
typedef FT_STATUS(WINAPI* CloseFn)(FT_HANDLE);
typedef FT_STATUS(WINAPI* ReadFn)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
typedef FT_STATUS(WINAPI* WriteFn)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
typedef FT_STATUS(WINAPI* ResetDeviceFn)(FT_HANDLE);
typedef FT_STATUS(WINAPI* PurgeFn)(FT_HANDLE, ULONG);
typedef FT_STATUS(WINAPI* SetTimeoutsFn)(FT_HANDLE, ULONG, ULONG);
typedef FT_STATUS(WINAPI* GetQueueStatusFn)(FT_HANDLE, DWORD*);
typedef FT_STATUS(WINAPI* GetStatusFn)(FT_HANDLE, DWORD*, DWORD*, DWORD*);
typedef FT_STATUS(WINAPI* SetDataCharacteristicsFn)(FT_HANDLE, UCHAR, UCHAR, UCHAR);
typedef FT_STATUS(WINAPI* CyclePortFn)(FT_HANDLE);
typedef FT_STATUS(WINAPI* SetUSBParametersFn)(FT_HANDLE, ULONG, ULONG);
typedef FT_STATUS(WINAPI* SetLatencyTimerFn)(FT_HANDLE, UCHAR);
typedef FT_STATUS(WINAPI* RescanFn)();
typedef FT_STATUS(WINAPI* ReloadFn)(WORD, WORD);
typedef FT_STATUS(WINAPI* SetEventNotificationFn)(FT_HANDLE, DWORD, PVOID);
typedef FT_STATUS(WINAPI* GetLibraryVersionFn)(LPDWORD);
typedef FT_STATUS(WINAPI* GetComPortNumberFn)(FT_HANDLE, LPLONG);
typedef FT_STATUS(WINAPI* GetDeviceInfoFn)(FT_HANDLE, ULONG*, LPDWORD, char*, char*, LPVOID);

} // namespace d2xx
