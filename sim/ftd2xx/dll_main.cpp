// Entry point of the simulated Ftd2xx.dll: tidy up when a host unloads it.
#include <windows.h>

#include "sim/ftd2xx/device_registry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // reserved is null for FreeLibrary, not null at process exit (when other
    // threads may have been stopped holding our lock: leave everything).
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ftdisim::Registry::DestroyAtUnload();
    return TRUE;
}
