#pragma once
// Loads vornex.dll the way a host does and finds each export by its plain
// name, so that every test through these pointers also checks the export
// table. Records come back as CRobotCommand pointers, used through the
// exported class.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "engine/robot_command.h"

class VornexHost {
public:
    typedef void* Robot;

    VornexHost() {
        m_module = LoadLibraryW(L"vornex.dll");
        if (!m_module) throw std::runtime_error("vornex.dll did not load");
        Bind(Create, "ROBOT_Create");
        Bind(Destroy, "ROBOT_Destroy");
        Bind(StartPolling, "ROBOT_StartPolling");
        Bind(StopPolling, "ROBOT_StopPolling");
        Bind(IsIdle, "ROBOT_IsIdle");
        Bind(SetTimeout, "ROBOT_SetTimeout");
        Bind(SetKeepAlive, "ROBOT_SetKeepAlive");
        Bind(StartLogging, "ROBOT_StartLogging");
        Bind(SendCommand, "ROBOT_SendCommand");
        Bind(GetReply, "ROBOT_GetReply");
        Bind(WaitReply, "ROBOT_WaitReply");
        Bind(DeleteReply, "ROBOT_DeleteReply");
    }
    ~VornexHost() { FreeLibrary(m_module); }
    VornexHost(const VornexHost&) = delete;
    VornexHost& operator=(const VornexHost&) = delete;

    // Any export by plain name, for tests of names not bound here.
    FARPROC Find(const char* name) const { return GetProcAddress(m_module, name); }
    // An export by plain name as a typed function pointer; throws when absent.
    template <typename Fn>
    Fn Export(const char* name) const {
        Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
        if (!fn) throw std::runtime_error(std::string("vornex.dll does not export ") + name);
        return fn;
    }
    HMODULE Module() const { return m_module; }

    Robot(__stdcall* Create)();
    bool(__stdcall* Destroy)(Robot);
    bool(__stdcall* StartPolling)(Robot);
    void(__stdcall* StopPolling)(Robot);
    bool(__stdcall* IsIdle)(Robot);
    void(__stdcall* SetTimeout)(Robot, unsigned int);
    void(__stdcall* SetKeepAlive)(Robot, int);
    void(__stdcall* StartLogging)(Robot, const char*);
    long(__stdcall* SendCommand)(Robot, const wchar_t*);
    CRobotCommand*(__stdcall* GetReply)(Robot, long);
    CRobotCommand*(__stdcall* WaitReply)(Robot, long, unsigned long);
    bool(__stdcall* DeleteReply)(Robot, long);

private:
    template <typename Fn>
    void Bind(Fn& slot, const char* name) {
        slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
        if (!slot) throw std::runtime_error(std::string("vornex.dll does not export ") + name);
    }

    HMODULE m_module;
};
