// CFTDIPort's binding of the D2XX library, under a display so that its
// message boxes really appear: without any Ftd2xx.dll, with the simulated
// one, and with a variant that lacks FT_Rescan.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ports/ftdi_port.h"
#include "protocol/command_frame.h"
#include "tests/ports/message_box_watcher.h"

namespace {

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Makes the Ftd2xx.dll of one folder findable for the test's lifetime;
// an empty name leaves none findable.
class LibraryFolder {
public:
    explicit LibraryFolder(const wchar_t* folder) {
        m_path = folder && *folder ? BinDirectory() + L"\\" + folder : std::wstring();
        SetDllDirectoryW(m_path.empty() ? nullptr : m_path.c_str());
    }
    ~LibraryFolder() { SetDllDirectoryW(nullptr); }
    bool HasLibrary() const { return !m_path.empty() && FileExists(m_path + L"\\Ftd2xx.dll"); }
    LibraryFolder(const LibraryFolder&) = delete;
    LibraryFolder& operator=(const LibraryFolder&) = delete;

private:
    std::wstring m_path;
};

#define SKIP_WITHOUT_LIBRARY(folder)                                                     \
    if (!(folder).HasLibrary()) GTEST_SKIP() << "the simulated Ftd2xx.dll is not built"

struct WrapperCase {
    const wchar_t* message;
    std::function<FT_STATUS(CFTDIPort&)> call;
};

std::vector<WrapperCase> EveryWrapper() {
    static DWORD a, b, c;
    static LONG number;
    static ULONG type;
    static char serial[16], description[64], bytes[8];
    return {
        {L"FT_SetBaudRate is not valid!", [](CFTDIPort& p) { return p.SetBaudRate(9600); }},
        {L"FT_Open is not valid!", [](CFTDIPort& p) { return p.Open(0); }},
        {L"FT_OpenEx is not valid!", [](CFTDIPort& p) { return p.OpenEx(nullptr, d2xx::kByLocation); }},
        {L"FT_ListDevices is not valid!", [](CFTDIPort& p) { return p.ListDevices(&a, nullptr, d2xx::kListNumberOnly); }},
        {L"FT_Close is not valid!", [](CFTDIPort& p) { return p.Close(); }},
        {L"FT_Read is not valid!", [](CFTDIPort& p) { return p.Read(bytes, 1, &a); }},
        {L"FT_Write is not valid!", [](CFTDIPort& p) { return p.Write(bytes, 1, &a); }},
        {L"FT_ResetDevice is not valid!", [](CFTDIPort& p) { return p.ResetDevice(); }},
        {L"FT_Purge is not valid!", [](CFTDIPort& p) { return p.Purge(d2xx::kPurgeRx | d2xx::kPurgeTx); }},
        {L"FT_SetTimeouts is not valid!", [](CFTDIPort& p) { return p.SetTimeouts(100, 100); }},
        {L"FT_GetQueueStatus is not valid!", [](CFTDIPort& p) { return p.GetQueueStatus(&a); }},
        {L"FT_GetStatus is not valid!", [](CFTDIPort& p) { return p.GetStatus(&a, &b, &c); }},
        {L"FT_SetDataCharacteristics is not valid!", [](CFTDIPort& p) { return p.SetDataCharacteristics(8, 0, 0); }},
        {L"FT_CyclePort", [](CFTDIPort& p) { return p.CyclePort(); }},
        {L"FT_SetLatencyTimer", [](CFTDIPort& p) { return p.SetLatencyTimer(2); }},
        {L"FT_SetUSBParameters", [](CFTDIPort& p) { return p.SetUSBParameters(4096, 4096); }},
        {L"FT_Rescan", [](CFTDIPort& p) { return p.Rescan(); }},
        {L"FT_Reload", [](CFTDIPort& p) { return p.Reload(d2xx::kFtdiVendorId, d2xx::kFtdiProductId); }},
        {L"FT_SetEventNotification", [](CFTDIPort& p) { return p.SetEventNotification(d2xx::kEventRxChar, nullptr); }},
        {L"FT_GetLibraryVersion", [](CFTDIPort& p) { return p.GetLibraryVersion(&a); }},
        {L"FT_GetComPortNumber", [](CFTDIPort& p) { return p.GetComPortNumber(&number); }},
        {L"FT_GetDeviceInfo", [](CFTDIPort& p) { return p.GetDeviceInfo(&type, &a, serial, description, nullptr); }},
    };
}

} // namespace

TEST(FtdiBinding, WithoutTheLibraryOneBoxAtConstructionAndNoneAtDestruction) {
    MessageBoxWatcher boxes;
    LibraryFolder none(nullptr);
    {
        CFTDIPort port;
        EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"Error: Can't Load ftd2xx.dll"});
        EXPECT_FALSE(port.IsLibraryLoaded());
        EXPECT_EQ(port.BoundFunctionCount(), 0);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.GetBaudRate(), 38400u);
        EXPECT_FALSE(port.ReadFileVersion());  // nothing loaded: no version, no box
        boxes.Clear();

        DWORD received = 0, queued = 0, events = 0;
        EXPECT_EQ(port.GetStatus(&received, &queued, &events), d2xx::kInvalidHandle);
        EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"FT_GetStatus is not valid!"});
        EXPECT_EQ(received, 0u);  // outputs are left as the caller set them
        boxes.Clear();
    }
    Sleep(50);
    EXPECT_TRUE(boxes.Texts().empty()) << "destruction showed a box";
}

TEST(FtdiBinding, EveryEmptySlotShowsItsOwnMessageAndGivesStatusOne) {
    MessageBoxWatcher boxes;
    LibraryFolder none(nullptr);
    CFTDIPort port;
    boxes.Clear();
    for (const WrapperCase& wrapper : EveryWrapper()) {
        EXPECT_EQ(wrapper.call(port), d2xx::kInvalidHandle) << wrapper.message;
        const std::vector<std::wstring> texts = boxes.Texts();
        ASSERT_EQ(texts.size(), 1u) << wrapper.message;
        EXPECT_EQ(texts[0], wrapper.message);
        boxes.Clear();
    }
    EXPECT_EQ(port.GetBaudRate(), 38400u);  // the failed SetBaudRate changed nothing
}

TEST(FtdiBinding, TheSimulatedLibraryBindsEverythingSilently) {
    MessageBoxWatcher boxes;
    LibraryFolder sim(L"ftdisim");
    SKIP_WITHOUT_LIBRARY(sim);
    CFTDIPort port;
    EXPECT_TRUE(port.IsLibraryLoaded());
    EXPECT_EQ(port.BoundFunctionCount(), CFTDIPort::kFunctionCount);
    ASSERT_TRUE(port.ReadFileVersion());
    EXPECT_EQ(port.GetVersionMajor(), 2);
    EXPECT_EQ(port.GetVersionMinor(), 8);
    EXPECT_EQ(port.GetVersionBuild(), 14);
    Sleep(50);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(FtdiBinding, WrappersReachTheDeviceAndTheRateIsRecordedOnlyOnSuccess) {
    MessageBoxWatcher boxes;
    LibraryFolder sim(L"ftdisim");
    SKIP_WITHOUT_LIBRARY(sim);
    CFTDIPort port;
    DWORD devices = 0;
    ASSERT_EQ(port.ListDevices(&devices, nullptr, d2xx::kListNumberOnly), d2xx::kOk);
    ASSERT_GE(devices, 1u);

    ASSERT_EQ(port.Open(0), d2xx::kOk);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.SetTimeouts(100, 100), d2xx::kOk);
    EXPECT_EQ(port.SetDataCharacteristics(d2xx::kBits8, d2xx::kStopBits1, d2xx::kParityNone), d2xx::kOk);
    EXPECT_EQ(port.Purge(d2xx::kPurgeRx | d2xx::kPurgeTx), d2xx::kOk);
    EXPECT_EQ(port.SetBaudRate(115200), d2xx::kOk);
    EXPECT_EQ(port.GetBaudRate(), 115200u);
    DWORD received = 99, queued = 99, events = 99;
    EXPECT_EQ(port.GetStatus(&received, &queued, &events), d2xx::kOk);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(port.GetQueueStatus(&received), d2xx::kOk);

    port.SetLocationId(0x1234);
    EXPECT_EQ(port.Close(), d2xx::kOk);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetLocationId(), 0u);
    // No device: the call fails and the recorded rate stays.
    EXPECT_NE(port.SetBaudRate(9600), d2xx::kOk);
    EXPECT_EQ(port.GetBaudRate(), 115200u);
    // Closing again still reaches the library, with handle 0.
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    Sleep(50);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(FtdiBinding, ALibraryWithoutRescanIsReportedOnceAndOtherwiseWorks) {
    MessageBoxWatcher boxes;
    LibraryFolder partial(L"ftdisim-norescan");
    SKIP_WITHOUT_LIBRARY(partial);
    CFTDIPort port;
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"Error: Can't Find FT_Rescan"});
    EXPECT_EQ(port.BoundFunctionCount(), CFTDIPort::kFunctionCount - 1);
    boxes.Clear();
    EXPECT_EQ(port.Rescan(), d2xx::kInvalidHandle);
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"FT_Rescan"});
    boxes.Clear();
    ASSERT_EQ(port.Open(0), d2xx::kOk);
    EXPECT_EQ(port.SetBaudRate(57600), d2xx::kOk);
    EXPECT_EQ(port.Close(), d2xx::kOk);
    Sleep(50);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(FtdiBinding, ToolInfoRequestIsAnsweredThroughTheWrappers) {
    MessageBoxWatcher boxes;
    LibraryFolder sim(L"ftdisim");
    SKIP_WITHOUT_LIBRARY(sim);
    CFTDIPort port;
    ASSERT_EQ(port.Open(0), d2xx::kOk);
    ASSERT_EQ(port.SetBaudRate(CFTDIPort::kDefaultBaudRate), d2xx::kOk);
    ASSERT_EQ(port.SetDataCharacteristics(d2xx::kBits8, d2xx::kStopBits1, d2xx::kParityNone), d2xx::kOk);
    ASSERT_EQ(port.SetTimeouts(100, 100), d2xx::kOk);
    ASSERT_EQ(port.Purge(d2xx::kPurgeRx | d2xx::kPurgeTx), d2xx::kOk);

    std::vector<unsigned char> frame = EncodeCommand(L"BE09", 4, false, false);
    DWORD written = 0;
    ASSERT_EQ(port.Write(frame.data(), static_cast<DWORD>(frame.size()), &written), d2xx::kOk);
    EXPECT_EQ(written, frame.size());
    DWORD waiting = 0;
    const DWORD start = GetTickCount();
    while (waiting < 10 && GetTickCount() - start < 5000) {
        ASSERT_EQ(port.GetQueueStatus(&waiting), d2xx::kOk);
        if (waiting < 10) Sleep(5);
    }
    ASSERT_EQ(waiting, 10u);
    char reply[10] = {};
    DWORD returned = 0;
    ASSERT_EQ(port.Read(reply, waiting, &returned), d2xx::kOk);
    EXPECT_EQ(std::string(reply, returned), "9.1.V1.0.0");
    EXPECT_EQ(port.Close(), d2xx::kOk);
    EXPECT_TRUE(boxes.Texts().empty());
}
