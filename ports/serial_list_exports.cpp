#include "ports/serial_list_exports.h"

#include <string>

#include "framework/module_state.h"
#include "ports/library_app.h"

int __stdcall GetPortCount() {
    VX_MANAGE_STATE();
    return GetLibraryApp().RescanPorts();
}

BSTR __stdcall GetPortDescription(int index) {
    VX_MANAGE_STATE();
    CLibraryApp& app = GetLibraryApp();
    if (index < 1 || index > app.GetPortCount()) return SysAllocString(L"");
    // The digits through to_string: to_wstring formats with the wide printf.
    const std::string number = std::to_string(app.GetPortNumberAt(index - 1));
    const std::wstring text =
        app.GetPortDescriptionAt(index - 1).Str() + L" (COM" + std::wstring(number.begin(), number.end()) + L")";
    return SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
}

int __stdcall GetPortNumber(int index) {
    VX_MANAGE_STATE();
    CLibraryApp& app = GetLibraryApp();
    if (index < 1 || index > app.GetPortCount()) return 0;
    return static_cast<int>(app.GetPortNumberAt(index - 1));
}
