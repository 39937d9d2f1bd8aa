#include "ports/serial_list_exports.h"

#include <new>
#include <string>

#include "common/com_error.h"
#include "framework/module_state.h"
#include "ports/library_app.h"

int __stdcall GetPortCount() {
    VX_MANAGE_STATE();
    CLibraryApp& app = GetLibraryApp();
    try {
        return app.RescanPorts();
    } catch (const std::bad_alloc&) {
        return app.GetPortCount();  // out of memory: the list as it was
    }
}

BSTR __stdcall GetPortDescription(int index) {
    VX_MANAGE_STATE();
    CLibraryApp& app = GetLibraryApp();
    if (index < 1 || index > app.GetPortCount()) return SysAllocString(L"");
    std::wstring text;
    try {
        // The digits through to_string: to_wstring formats with the wide printf.
        const std::string number = std::to_string(app.GetPortNumberAt(index - 1));
        text = app.GetPortDescriptionAt(index - 1).Str() + L" (COM" + std::wstring(number.begin(), number.end()) + L")";
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);  // copying the string for the host
    }
    return SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
}

int __stdcall GetPortNumber(int index) {
    VX_MANAGE_STATE();
    CLibraryApp& app = GetLibraryApp();
    if (index < 1 || index > app.GetPortCount()) return 0;
    return static_cast<int>(app.GetPortNumberAt(index - 1));
}
