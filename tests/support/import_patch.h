#pragma once
// Puts a stand-in into one of this program's import slots while it lives: code
// linked in (the static core too) calls it, for failures a test cannot make.
#include <windows.h>

// mingw's name of an import slot (on i686 with the stdcall decoration).
#ifdef _WIN64
#define VX_IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define VX_IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif

class ImportPatch {
public:
    ImportPatch(void*& slot, void* standIn) : m_slot(&slot), m_old(slot) { Put(standIn); }
    ~ImportPatch() { Put(m_old); }
private:
    void Put(void* value) {
        DWORD was = 0;
        VirtualProtect(m_slot, sizeof value, PAGE_READWRITE, &was);
        *m_slot = value;
        VirtualProtect(m_slot, sizeof value, was, &was);
    }
    void** m_slot;
    void* m_old;
};
