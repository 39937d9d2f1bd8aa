#include "engine/log_text.h"

#include <windows.h>

#include <new>

#include "common/com_error.h"

namespace {
// Room for the words around the text in its line ("Issuing Local:", the
// quotes of "****Abandoning "), so that putting the line together needs no
// second allocation: running out of memory is raised here, as the one error
// the host is told about, and never as a bare bad_alloc afterwards.
constexpr size_t kLineRoom = 32;
} // namespace

std::string NarrowLogText(const CString& text) {
    const int needed = text.IsEmpty() ? 0
                                      : WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), nullptr, 0,
                                                            nullptr, nullptr);
    // A text the code page cannot take is an error for the host, not a
    // silently empty log line.
    if (!text.IsEmpty() && needed <= 0) ThrowComError(HresultFromWin32Code(GetLastError()));
    std::string narrow;
    try {
        narrow.reserve(static_cast<size_t>(needed) + kLineRoom);
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);
    }
    if (needed == 0) return narrow;
    narrow.resize(static_cast<size_t>(needed));
    WideCharToMultiByte(CP_ACP, 0, text.GetString(), text.GetLength(), &narrow[0], needed, nullptr, nullptr);
    return narrow;
}
