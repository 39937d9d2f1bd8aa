#include "tools/vornexctl/vornex_library.h"

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n < MAX_PATH ? n : 0);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

VornexLibrary::~VornexLibrary() {
    if (m_module) FreeLibrary(m_module);
}

template <typename Fn>
bool VornexLibrary::Bind(Fn& slot, const char* name, std::string& error) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    if (!slot) error = std::string("vornex.dll has no export ") + name;
    return slot != nullptr;
}

bool VornexLibrary::Load(std::string& error) {
    // The copy beside the program wins over any other on the search path.
    m_module = LoadLibraryW((ProgramFolder() + L"vornex.dll").c_str());
    if (!m_module) m_module = LoadLibraryW(L"vornex.dll");
    if (!m_module) {
        error = "cannot load vornex.dll (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return Bind(Create, "ROBOT_Create", error) && Bind(Destroy, "ROBOT_Destroy", error) &&
           Bind(StartPolling, "ROBOT_StartPolling", error) && Bind(StopPolling, "ROBOT_StopPolling", error) &&
           Bind(SetTimeout, "ROBOT_SetTimeout", error) && Bind(StartLogging, "ROBOT_StartLogging", error) &&
           Bind(AttachSerialPort, "ROBOT_AttachSerialPort", error) &&
           Bind(AttachTcpPort, "ROBOT_AttachTcpPort", error) &&
           Bind(AttachFtdiDevice, "ROBOT_AttachFTDIDevice", error) &&
           Bind(AttachFtdiDeviceByLoc, "ROBOT_AttachFTDIDeviceByLoc", error) &&
           Bind(AttachFtdiDeviceByIndex, "ROBOT_AttachFTDIDeviceByIndex", error) &&
           Bind(ReleaseSerialPort, "ReleaseSerialPort", error) && Bind(ReleaseTcpPort, "ReleaseTcpPort", error) &&
           Bind(ReleaseFtdiDevice, "ReleaseFTDIDevice", error) && Bind(SendCommand, "ROBOT_SendCommand", error) &&
           Bind(GetToolInfo, "ROBOT_GetToolInfo", error) && Bind(GetReplyBytes, "ROBOT_GetReplyBytes", error) &&
           Bind(DeleteReply, "ROBOT_DeleteReply", error) && Bind(ReadToolMemory, "ROBOT_ReadToolMemory", error) &&
           Bind(FtdiEnumerate, "FTDI_Enumerate", error) && Bind(GetPortCount, "GetPortCount", error) &&
           Bind(GetPortDescription, "GetPortDescription", error) && Bind(GetPortNumber, "GetPortNumber", error);
}
