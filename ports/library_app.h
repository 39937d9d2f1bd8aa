#pragma once
// The library's one application object: it starts the socket layer and keeps
// the list of COM ports present, sorted by number, with their descriptions.
// It is made on first use (GetLibraryApp), never while the library loads.
#include <windows.h>

#include "framework/vx_arrays.h"
#include "framework/vx_string.h"
#include "framework/win_app.h"

class CLibraryApp : public CWinApp {
public:
    CLibraryApp();
    ~CLibraryApp() override;

    // Starts the socket layer, then lists the setup devices' ports.
    bool InitInstance() override;

    // Both scans, then the sort into the list; returns the new port count.
    int RescanPorts();
    int GetPortCount() const { return m_portNumbers.GetSize(); }
    // Entry at a 0-based position; 0 and an empty text outside the list.
    unsigned int GetPortNumberAt(int position) const;
    CString GetPortDescriptionAt(int position) const;
    bool SocketsStarted() const { return m_socketsStarted; }

    // Fills the working arrays (emptied first) with the COM ports of the setup
    // class "Ports", in the order the platform lists them. False when the
    // scan could not run.
    bool ScanSetupPorts(CUIntArray& numbers, CStringArray& descriptions);
    // Appends SERIALCOMM ports whose numbers are not yet in the working
    // arrays, each described by its value name.
    void ScanRegistryPorts(CUIntArray& numbers, CStringArray& descriptions);
    // One SERIALCOMM value by index: its data (a port name) into data, and
    // the short form of its name. False past the last value and for a value
    // that is not a plain string.
    static constexpr int kSerialCommDataChars = 1024;  // 2048 bytes
    bool ReadSerialCommValue(DWORD index, wchar_t (&data)[kSerialCommDataChars + 1], CString& name);
    // Replaces the list with the working entries ordered by number 0 to 255,
    // the first of each number only.
    void SortPortList(const CUIntArray& numbers, const CStringArray& descriptions);
    static bool IsDigitString(const wchar_t* text, bool allowColon);

    CUIntArray m_portNumbers;
    CStringArray m_portDescriptions;

private:
    bool m_socketsStarted;
};

// The application object, created and started on the first call from any
// thread; the same object afterwards.
CLibraryApp& GetLibraryApp();
