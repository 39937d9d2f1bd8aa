// The COM-port list through its exports, fed by setup devices and SERIALCOMM values written into the Wine
// prefix; and the exported port classes: the serial port behind the pty link, the TCP port on loopback.
#include <gtest/gtest.h>

#include "support/vornex_test.h"

#include <setupapi.h>

#include <atomic>
#include <thread>

#include "ports/serial_port.h"
#include "ports/tcp_port.h"

using namespace vxt;

namespace {

// Devices of the setup class "Ports" and SERIALCOMM values, removed again at the end.
class PortSources {
public:
    PortSources() {
        RemoveDevices();
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &m_key, nullptr);
    }
    ~PortSources() {
        for (const std::wstring& name : m_values) RegDeleteValueW(m_key, name.c_str());
        RegCloseKey(m_key);
        RemoveDevices();
    }
    bool Device(const wchar_t* portName, const wchar_t* description) {
        GUID ports = Class();
        HDEVINFO set = SetupDiCreateDeviceInfoList(&ports, nullptr);
        SP_DEVINFO_DATA device = {sizeof device, {}, 0, 0};
        bool ok = SetupDiCreateDeviceInfoW(set, L"PORTS", &ports, description, nullptr, DICD_GENERATE_ID, &device) &&
                  SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr) &&
                  SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, Data(description), Size(description));
        HKEY key = ok ? SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr) : nullptr;
        ok = ok && key != INVALID_HANDLE_VALUE && Text(key, L"PortName", portName) && Text(key, L"VornexTestDevice", L"1");
        if (ok) RegCloseKey(key);
        SetupDiDestroyDeviceInfoList(set);
        return ok;
    }
    DWORD Rank(const std::wstring& value) const {  // where the registry enumerates a value
        wchar_t name[256];
        DWORD i = 0;
        for (DWORD n = 256; RegEnumValueW(m_key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0 && value != name; n = 256) ++i;
        return i;
    }
    bool Value(const wchar_t* name, const wchar_t* data) {  // no data: a REG_DWORD
        m_values.push_back(name);
        const DWORD number = 12;
        return data ? Text(m_key, name, data)
                    : RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) == 0;
    }

private:
    static const BYTE* Data(const wchar_t* text) { return reinterpret_cast<const BYTE*>(text); }
    static DWORD Size(const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); }
    static bool Text(HKEY key, const wchar_t* name, const wchar_t* text) { return RegSetValueExW(key, name, 0, REG_SZ, Data(text), Size(text)) == 0; }
    static GUID Class() { GUID ports = {}; DWORD n = 0; SetupDiClassGuidsFromNameW(L"Ports", &ports, 1, &n); return ports; }
    static void RemoveDevices() {
        GUID ports = Class();
        HDEVINFO set = SetupDiGetClassDevsW(&ports, nullptr, nullptr, 0);
        SP_DEVINFO_DATA device = {sizeof device, {}, 0, 0};
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
            if (key == INVALID_HANDLE_VALUE) continue;
            const bool ours = RegQueryValueExW(key, L"VornexTestDevice", nullptr, nullptr, nullptr, nullptr) == 0;
            RegCloseKey(key);
            if (ours && SetupDiRemoveDevice(set, &device)) --i;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    HKEY m_key = nullptr;
    std::vector<std::wstring> m_values;
};

struct Listed { int number; std::wstring text; };

std::wstring Take(BSTR text) {
    std::wstring copy = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
    SysFreeString(text);
    return copy;
}

std::vector<Listed> Rescan() {
    std::vector<Listed> out;
    const int n = GetPortCount();
    for (int i = 1; i <= n; ++i) out.push_back({GetPortNumber(i), Take(GetPortDescription(i))});
    return out;
}

std::wstring TextOf(const std::vector<Listed>& ports, int number) {  // "" when not listed
    for (const Listed& p : ports) if (p.number == number) return p.text;
    return L"";
}

// The far end of a loopback connection, for the port classes.
struct Peer {
    SOCKET socket = INVALID_SOCKET;
    ~Peer() { Close(); }
    void Close() { if (socket != INVALID_SOCKET) closesocket(socket); socket = INVALID_SOCKET; }
    bool Accept(SOCKET listener) {  // within 5 s
        Close();
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener, &set);
        timeval wait = {5, 0};
        return select(0, &set, nullptr, nullptr, &wait) > 0 && (socket = accept(listener, nullptr, nullptr)) != INVALID_SOCKET;
    }
    bool Connect(int port) {
        StartSockets();
        socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    bool Send(const std::string& s) { return SendAll(socket, std::vector<uint8_t>(s.begin(), s.end())); }
};

template <typename Port>
std::string ReadAll(Port& port) {
    char buffer[2048];
    const int n = port.Read(buffer, sizeof buffer);
    return std::string(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

// A serial port's data callbacks, counted; its address is the user pointer.
struct DataCalls { std::atomic<int> count{0}; std::atomic<CSerialPort*> port{nullptr}; };
void Count(CSerialPort* port, void* user) { static_cast<DataCalls*>(user)->port = port, ++static_cast<DataCalls*>(user)->count; }

std::string Pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
    return s;
}
}  // namespace

TEST(PortList, SetupDevicesFirstThenRegistryNamesByNumberAndOnlyTheCountRescans) {
    PortSources sources;
    ASSERT_TRUE(sources.Device(L"COM3", L"USB Serial Port") && sources.Device(L"COM1", L"Communications Port") &&
                sources.Device(L"COM5", L"Setup Five"));
    for (const wchar_t* odd : {L"COM4:", L"LPT1", L"COM300"}) ASSERT_TRUE(sources.Device(odd, L"Odd Port"));
    const wchar_t* const values[][2] = {{L"\\Device\\VCP0", L"COM7"}, {L"\\Device\\Dup5", L"COM5"}, {L"\\Device\\Far", L"COM301"},
                                        {L"\\Device\\Printer", L"LPT2"}, {L"\\Device\\Zero", L"COM0"}, {L"\\Device\\Big", L"COM256"},
                                        {L"Plain", L"COM8"}, {L"\\Device\\Suffix", L"com12abc"}, {L"\\Device\\Letters", L"COMx"},
                                        {L"\\Device\\TwinA", L"COM14"}, {L"\\Device\\TwinB", L"COM14"}};
    for (auto& v : values) ASSERT_TRUE(sources.Value(v[0], v[1])) << v[1];
    const std::vector<Listed> ports = Rescan();
    for (size_t i = 1; i < ports.size(); ++i) EXPECT_LT(ports[i - 1].number, ports[i].number);
    // COM1 is also Wine's Serial0: listed once.
    const std::pair<int, const wchar_t*> wanted[] = {{1, L"Communications Port (COM1)"}, {3, L"USB Serial Port (COM3)"},
        {5, L"Setup Five (COM5)"}, {7, L"VCP0 (COM7)"}, {8, L"Plain (COM8)"}, {12, L"Suffix (COM12)"}, {4, L""}, {0, L""}};
    for (auto& w : wanted) EXPECT_EQ(TextOf(ports, w.first), w.second) << w.first;
    const bool aFirst = sources.Rank(L"\\Device\\TwinA") < sources.Rank(L"\\Device\\TwinB");  // once, the first
    EXPECT_EQ(TextOf(ports, 14), aFirst ? L"TwinA (COM14)" : L"TwinB (COM14)");
    for (const Listed& p : ports) {
        EXPECT_LE(p.number, 255);
        for (const wchar_t* never : {L"Odd", L"Printer", L"Letters"}) EXPECT_EQ(p.text.find(never), std::wstring::npos) << never;
    }
    const int n = Serial_GetPortCount();  // the same functions under their other names
    ASSERT_EQ(n, static_cast<int>(ports.size()));
    for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(Serial_GetPortNumber(i), ports[static_cast<size_t>(i - 1)].number);
        EXPECT_EQ(Take(Serial_GetPortDescription(i)), ports[static_cast<size_t>(i - 1)].text);
    }
    for (int index : {0, -1, n + 1, 100000}) {
        EXPECT_EQ(Take(GetPortDescription(index)), L"") << index;
        EXPECT_EQ(GetPortNumber(index), 0) << index;
    }
    // Only the count rescans; a value that is not text ends the registry scan.
    const int before = GetPortCount();
    ASSERT_TRUE(sources.Value(L"\\Device\\Late9", L"COM9"));
    for (int i = 1; i <= before; ++i) EXPECT_NE(GetPortNumber(i), 9);
    EXPECT_EQ(GetPortNumber(before + 1), 0);
    EXPECT_EQ(TextOf(Rescan(), 9), L"Late9 (COM9)");
    ASSERT_TRUE(sources.Value(L"\\Device\\Number", nullptr));
    ASSERT_TRUE(sources.Value(L"\\Device\\After", L"COM13"));
    // Where the number stands among the values is the registry's business; what comes after it is not scanned.
    EXPECT_EQ(TextOf(Rescan(), 13).empty(), sources.Rank(L"\\Device\\After") > sources.Rank(L"\\Device\\Number"));
}

TEST(SerialPortClass, OverflowDropsTheHeldBytesReadsKeepOrderAndTheDataCallbackRunsUntilSwitchedOff) {
    int com = 0, bridge = 0;
    ASSERT_TRUE(ComLink(com, bridge));
    Peer peer;
    ASSERT_TRUE(peer.Connect(bridge));
    CSerialPort port;
    for (int bad : {256, 0}) EXPECT_EQ(port.Open(bad, 38400), 1) << bad;
    ASSERT_EQ(port.Open(com, 38400), 0);
    ASSERT_TRUE(port.StartPolling());
    // The link takes the connection a moment after it is made; a probe that comes late comes before the marker.
    ASSERT_TRUE(WaitUntil([&] { peer.Send("\x55"); return WaitUntil([&] { return port.BytesAvailable() > 0; }, 200); }, 5000));
    ASSERT_TRUE(peer.Send("\xAA") && WaitUntil([&] { return ReadAll(port).find('\xAA') != std::string::npos; }, 5000));
    DataCalls calls;
    EXPECT_EQ(port.RegisterDataCallback(&Count, &calls), nullptr);
    ASSERT_TRUE(peer.Send(Pattern(10, 1)));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 10; }, 5000));
    // The switch-off takes the port's lock, which the poll holds from storing the bytes to the end of the callback.
    EXPECT_EQ(port.RegisterDataCallback(nullptr, nullptr), &Count);
    EXPECT_TRUE(calls.count > 0 && calls.port == &port);
    const int counted = calls.count;
    char part[3];
    EXPECT_EQ(port.Read(nullptr, 3), 0);
    EXPECT_EQ(port.Read(part, 0), 0);
    ASSERT_EQ(port.Read(part, 3), 3);
    EXPECT_EQ(std::string(part, 3), Pattern(10, 1).substr(0, 3));
    EXPECT_EQ(ReadAll(port), Pattern(10, 1).substr(3));
    // A full buffer: the first byte after it, however the link splits what follows, drops the held bytes.
    ASSERT_TRUE(peer.Send(Pattern(1024, 2)));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 1024; }, 5000));
    ASSERT_TRUE(peer.Send(Pattern(100, 3)));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 100; }, 5000)) << port.BytesAvailable();
    EXPECT_EQ(ReadAll(port), Pattern(100, 3));
    EXPECT_EQ(calls.count, counted);
    EXPECT_EQ(port.Write(nullptr, 4), 0);
    EXPECT_EQ(port.Write("zz", 0), 0);
    port.Close();
    EXPECT_EQ(port.Write("x", 1), 0);
    ASSERT_EQ(port.Open(com, 9600), 0);  // opens again, at the rate asked
    std::string line;
    EXPECT_TRUE(WaitUntil([&] { return ComLink(com, bridge, &line) && line == "9600 8N1"; }, 3000)) << line;
    port.Close();
}

TEST(TcpPortClass, BufferFullLostConnectionReconnectionADestroyedPortRefusalAndLongNames) {
    int number = 0;
    SOCKET listener = Listen(number);
    Peer peer;
    CTCPPort* doomed = new CTCPPort;
    doomed->Open(L"127.0.0.1", static_cast<unsigned>(number));
    ASSERT_TRUE(peer.Accept(listener));
    ASSERT_TRUE(peer.Send("late"));
    ASSERT_TRUE(MessageQueued());  // the connect notification at least
    delete doomed;
    Pump();  // what was queued goes to a window that is gone
    CTCPPort port;
    ASSERT_EQ(port.Open(L"127.0.0.1", static_cast<unsigned>(number)), 0);
    ASSERT_TRUE(WaitUntil([&] { return port.IsOpen(); }, 5000));
    ASSERT_TRUE(peer.Accept(listener));
    // A full buffer leaves the rest in the socket until there is room.
    const std::string bytes = Pattern(1500, 77);
    ASSERT_TRUE(peer.Send(bytes));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 1024; }, 5000));
    EXPECT_EQ(ReadAll(port), bytes.substr(0, 1024));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 476; }, 5000)) << port.BytesAvailable();
    EXPECT_EQ(ReadAll(port), bytes.substr(1024));
    EXPECT_EQ(port.Write(nullptr, 4), 0);
    // The peer closes: the flag clears, the bytes stay readable.
    ASSERT_TRUE(peer.Send("tail"));
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return !port.IsOpen() && port.BytesAvailable() == 4; }, 5000));
    EXPECT_EQ(ReadAll(port), "tail");
    // A write from a thread that pumps nothing (like the robot's worker)
    // starts a new connection, whose notifications still arrive here.
    bool refused = false;
    std::thread([&] { for (int i = 0; i < 500 && !(refused = port.Write("w", 1) == 0); ++i) Sleep(10); }).join();
    ASSERT_TRUE(refused);
    ASSERT_TRUE(WaitUntil([&] { return port.IsOpen(); }, 5000));
    ASSERT_TRUE(peer.Accept(listener));
    ASSERT_TRUE(peer.Send("fresh"));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 5; }, 5000));
    EXPECT_EQ(ReadAll(port), "fresh");
    EXPECT_EQ(port.Write("ok", 2), 2);
    closesocket(listener);
    // Refused connections, and names longer than the port keeps.
    CTCPPort unreachable;
    EXPECT_EQ(unreachable.Open(L"127.0.0.1", static_cast<unsigned>(ClosedTcpPort())), 0);  // 0 whatever happens
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(unreachable.GetConnectEvent(), 0) == WAIT_OBJECT_0; }, 5000));
    EXPECT_FALSE(unreachable.IsOpen());
    CTCPPort named;
    const std::wstring longName(300, L'a');
    EXPECT_EQ(named.Open(longName.c_str(), 80), 0);
    EXPECT_EQ(std::wstring(named.GetHostName()), longName.substr(0, 259));
    EXPECT_EQ(named.GetPortNumber(), 80u);
}
