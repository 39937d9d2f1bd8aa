#pragma once
// An FTDI USB serial device through the vendor's D2XX library, loaded from
// "Ftd2xx.dll" when the object is made. One thin wrapper per D2XX function;
// a function the library lacks is reported once by a message box at
// construction, and each later use of it shows a box and yields status 1.
#include <windows.h>

#include <cstdint>

#include "ports/d2xx.h"

class CFTDIPort {
public:
    static constexpr ULONG kDefaultBaudRate = 38400;
    static constexpr int kFunctionCount = 22;

    CFTDIPort();
    ~CFTDIPort();
    CFTDIPort(const CFTDIPort&) = delete;
    CFTDIPort& operator=(const CFTDIPort&) = delete;

    // The D2XX calls, each with this object's device handle where it takes one.
    FT_STATUS SetBaudRate(ULONG rate);  // records rate when it succeeds
    FT_STATUS Open(int index);
    FT_STATUS OpenEx(PVOID argument, DWORD flags);
    FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags);
    FT_STATUS Close();  // the handle and location ID are 0 afterwards, whatever the status
    FT_STATUS Read(LPVOID buffer, DWORD count, LPDWORD returned);
    FT_STATUS Write(LPVOID buffer, DWORD count, LPDWORD written);
    FT_STATUS ResetDevice();
    FT_STATUS Purge(ULONG mask);
    FT_STATUS SetTimeouts(ULONG readMs, ULONG writeMs);
    FT_STATUS GetQueueStatus(DWORD* received);
    FT_STATUS GetStatus(DWORD* received, DWORD* queued, DWORD* events);
    FT_STATUS SetDataCharacteristics(UCHAR bits, UCHAR stop, UCHAR parity);
    FT_STATUS CyclePort();
    FT_STATUS SetLatencyTimer(UCHAR ms);
    FT_STATUS SetUSBParameters(ULONG inSize, ULONG outSize);
    FT_STATUS Rescan();
    FT_STATUS Reload(WORD vendorId, WORD productId);
    FT_STATUS SetEventNotification(DWORD mask, PVOID parameter);
    FT_STATUS GetLibraryVersion(LPDWORD version);
    FT_STATUS GetComPortNumber(LPLONG port);
    FT_STATUS GetDeviceInfo(ULONG* type, LPDWORD id, char* serial, char* description, LPVOID reserved);

    // A device is open (its handle is not 0).
    bool IsOpen() const { return m_device != nullptr; }
    // Fills the version bytes from the product version of the loaded
    // library file; false when the file or its version block cannot be read.
    bool ReadFileVersion();

    ULONG GetBaudRate() const { return m_baudRate; }
    uint32_t GetLocationId() const { return m_locationId; }
    void SetLocationId(uint32_t locationId) { m_locationId = locationId; }
    int32_t GetComPort() const { return m_comPort; }
    void SetComPort(int32_t port) { m_comPort = port; }
    unsigned char GetVersionMajor() const { return m_versionMajor; }
    unsigned char GetVersionMinor() const { return m_versionMinor; }
    unsigned char GetVersionBuild() const { return m_versionBuild; }
    bool IsLibraryLoaded() const { return m_library != nullptr; }
    // How many of the 22 functions the library supplied.
    int BoundFunctionCount() const;

private:
    // The function slots, in the order the library's table keeps them.
    struct Functions {
        d2xx::SetBaudRateFn setBaudRate;
        d2xx::OpenFn open;
        d2xx::OpenExFn openEx;
        d2xx::ListDevicesFn listDevices;
        d2xx::CloseFn close;
        d2xx::ReadFn read;
        d2xx::WriteFn write;
        d2xx::ResetDeviceFn resetDevice;
        d2xx::PurgeFn purge;
        d2xx::SetTimeoutsFn setTimeouts;
        d2xx::GetQueueStatusFn getQueueStatus;
        d2xx::GetStatusFn getStatus;
        d2xx::SetDataCharacteristicsFn setDataCharacteristics;
        d2xx::CyclePortFn cyclePort;
        d2xx::SetUSBParametersFn setUSBParameters;
        d2xx::SetLatencyTimerFn setLatencyTimer;
        d2xx::RescanFn rescan;
        d2xx::ReloadFn reload;
        d2xx::SetEventNotificationFn setEventNotification;
        d2xx::GetLibraryVersionFn getLibraryVersion;
        d2xx::GetComPortNumberFn getComPortNumber;
        d2xx::GetDeviceInfoFn getDeviceInfo;
    };

    void BindFunctions();

    uint32_t m_locationId;
    int32_t m_comPort;
    unsigned char m_versionMajor;
    unsigned char m_versionMinor;
    unsigned char m_versionBuild;
    FT_HANDLE m_device;
    HMODULE m_library;
    volatile ULONG m_baudRate;
    Functions m_fn;
};
