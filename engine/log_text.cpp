#include "engine/log_text.h"

#include <windows.h>

#include "common/com_error.h"

std::string NarrowLogText(const CString& text) {
    if (text.IsEmpty()) return std::string();
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), nullptr, 0, nullptr, nullptr);
    // A text the code page cannot take is an error for the host, not a
    // silently empty log line.
    if (needed <= 0) ThrowComError(HresultFromWin32Code(GetLastError()));
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), &narrow[0], needed, nullptr, nullptr);
    return narrow;
}
