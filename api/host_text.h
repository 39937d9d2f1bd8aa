#pragma once
// Wide text from the host, converted for the narrow log and copied where the
// library keeps it. Failures raise _com_error (see api/com_error.h).
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "framework/vx_string.h"

// The text in codePage (the system ANSI code page unless a caller needs
// another). A failed conversion raises _com_error carrying the Win32 error
// as an HRESULT (0x8007xxxx); no memory for the result raises E_OUTOFMEMORY.
// Null or empty text gives an empty string.
std::string NarrowText(const wchar_t* text, size_t length, UINT codePage = CP_ACP);
std::string NarrowText(const CString& text);

// A copy of a null-terminated host string, allocated with new[] and held by
// the unique_ptr; a copy of null is null. No memory raises _com_error
// (E_OUTOFMEMORY).
std::unique_ptr<wchar_t[]> CopyHostText(const wchar_t* text);
