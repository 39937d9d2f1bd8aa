#pragma once
// The two kinds of exception the library raises on purpose while converting
// data for the host: a failing SAFEARRAY call raises its HRESULT as a plain
// long, and a failed string conversion or copy raises the platform's
// _com_error. mingw-w64 defines _com_error inline in <comdef.h>, so it needs
// no support library (its _bstr_t members only need oleaut32, linked anyway).
#include <windows.h>
#include <oleauto.h>

#include <comdef.h>

// Raised as the HRESULT value itself so that a host can catch (long).
inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) throw static_cast<long>(hr);
}

[[noreturn]] inline void ThrowComError(HRESULT hr) {
    throw _com_error(hr);
}

// A Win32 error code as an HRESULT of the Win32 facility. A failure that set
// no code still yields a failing HRESULT (0x80070000), never S_OK.
inline HRESULT HresultFromWin32Code(DWORD code) {
    return static_cast<HRESULT>(0x80070000UL | (code & 0xFFFFUL));
}
