#include "api/host_text.h"

#include <climits>
#include <cwchar>
#include <new>

#include "common/com_error.h"

std::string NarrowText(const wchar_t* text, size_t length, UINT codePage) {
    // An empty input is not a failure, though WideCharToMultiByte calls it one.
    if (!text || length == 0) return std::string();
    if (length > static_cast<size_t>(INT_MAX)) ThrowComError(HresultFromWin32Code(ERROR_INVALID_PARAMETER));
    const int wideLength = static_cast<int>(length);
    const int needed = WideCharToMultiByte(codePage, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) ThrowComError(HresultFromWin32Code(GetLastError()));
    std::string narrow;
    try {
        narrow.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);
    }
    if (WideCharToMultiByte(codePage, 0, text, wideLength, &narrow[0], needed, nullptr, nullptr) != needed)
        ThrowComError(HresultFromWin32Code(GetLastError()));
    return narrow;
}

std::string NarrowText(const CString& text) {
    return NarrowText(text.GetString(), static_cast<size_t>(text.GetLength()));
}

std::unique_ptr<wchar_t[]> CopyHostText(const wchar_t* text) {
    if (!text) return nullptr;
    const size_t length = std::wcslen(text);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (!copy) ThrowComError(E_OUTOFMEMORY);
    std::wmemcpy(copy, text, length + 1);
    return std::unique_ptr<wchar_t[]>(copy);
}
