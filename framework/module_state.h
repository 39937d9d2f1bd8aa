#pragma once
// Every export switches to the library's own module state on entry and back on
// return, so that resources (the progress dialog) are found in vornex.dll even
// when the caller is another module.
#include <windows.h>

struct ModuleState {
    HINSTANCE instance;
};

// The library's own state: the module that holds this code.
ModuleState* LibraryModuleState();
// The state in force on this thread (the library's own outside any export).
ModuleState* CurrentModuleState();
HINSTANCE CurrentResourceInstance();

class CModuleStateGuard {
public:
    explicit CModuleStateGuard(ModuleState* state);
    ~CModuleStateGuard();
    CModuleStateGuard(const CModuleStateGuard&) = delete;
    CModuleStateGuard& operator=(const CModuleStateGuard&) = delete;

private:
    ModuleState* m_previous;
};

#define VX_MANAGE_STATE() CModuleStateGuard vxModuleStateGuard_(LibraryModuleState())
