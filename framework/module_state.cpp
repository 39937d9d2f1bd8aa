#include "framework/module_state.h"

namespace {

thread_local ModuleState* t_current = nullptr;

HINSTANCE ModuleOfThisCode() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module);
    return module;
}

} // namespace

ModuleState* LibraryModuleState() {
    static ModuleState state{ModuleOfThisCode()};
    return &state;
}

ModuleState* CurrentModuleState() { return t_current ? t_current : LibraryModuleState(); }

HINSTANCE CurrentResourceInstance() { return CurrentModuleState()->instance; }

CModuleStateGuard::CModuleStateGuard(ModuleState* state) : m_previous(t_current) { t_current = state; }

CModuleStateGuard::~CModuleStateGuard() { t_current = m_previous; }
