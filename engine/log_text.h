#pragma once
// Converts wide command texts to the system ANSI code page for the log.
#include <string>

#include "framework/vx_string.h"

// The text in the ANSI code page, with spare room for the rest of its log
// line. A failed conversion raises _com_error with the Win32 error as an
// HRESULT; no memory for the result raises _com_error (E_OUTOFMEMORY).
std::string NarrowLogText(const CString& text);
