#include "engine/log_text.h"

#include <windows.h>

std::string NarrowLogText(const CString& text) {
    if (text.IsEmpty()) return std::string();
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), &narrow[0], needed, nullptr, nullptr);
    return narrow;
}
