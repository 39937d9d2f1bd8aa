#pragma once
// The library's buffers and lists handed to the host as new one-dimensional
// arrays with lower bound 0.
//
// Each writer first destroys the array held in *out (the caller passes null
// or an array it gives up), then creates the new one and stores it in *out;
// the host owns it and frees it with SafeArrayDestroy. When creation fails
// *out is left null and the writer returns false; nothing is thrown. A
// failing SafeArrayPutElement is thrown as its HRESULT (a long), leaving the
// partly filled array in *out. A null out does nothing and returns false.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "framework/vx_string.h"

// Destroys the array held in *out, if any, and leaves *out null.
void ReleaseHeldArray(SAFEARRAY** out);

// VT_I1, one element per byte. A size of 0 or less, or null bytes, gives an
// empty array.
bool BytesToSafeArray(const unsigned char* bytes, long size, SAFEARRAY** out);
inline bool BytesToSafeArray(const char* bytes, long size, SAFEARRAY** out) {
    return BytesToSafeArray(reinterpret_cast<const unsigned char*>(bytes), size, out);
}

// VT_BSTR, one element per entry in order: a copy of the entry's text, or a
// null BSTR for an empty entry. No memory for a copy raises _com_error
// (E_OUTOFMEMORY). An empty list gives an empty array, not null.
bool StringsToSafeArray(size_t count, const std::function<const CString&(size_t)>& entry, SAFEARRAY** out);
inline bool StringsToSafeArray(const std::vector<CString>& strings, SAFEARRAY** out) {
    return StringsToSafeArray(strings.size(), [&strings](size_t i) -> const CString& { return strings[i]; }, out);
}
// Any list with GetSize() and GetAt(int), such as CStringArray.
template <typename List, typename = decltype(std::declval<const List&>().GetAt(0))>
bool StringsToSafeArray(const List& list, SAFEARRAY** out) {
    const int size = list.GetSize();
    return StringsToSafeArray(size > 0 ? static_cast<size_t>(size) : 0,
                              [&list](size_t i) -> const CString& { return list.GetAt(static_cast<int>(i)); }, out);
}

// VT_INT through SafeArrayCreateVector, one element per value in order.
bool LongsToSafeArray(const long* values, size_t count, SAFEARRAY** out);
inline bool LongsToSafeArray(const std::vector<long>& values, SAFEARRAY** out) {
    return LongsToSafeArray(values.data(), values.size(), out);
}
