#pragma once
// Which host arrays the library reads element by element: integers of 1, 2 or
// 4 bytes, each read into a zeroed 32-bit cell. Wider or non-integer elements
// (doubles, currency, dates, 64-bit integers, strings, variants) would not
// fit the cell or are not numbers at all, so such arrays are refused.
#include <windows.h>
#include <oleauto.h>

bool HasIntegerElements(SAFEARRAY* array);

// The element at indices, zero-extended to 32 bits. Returns the HRESULT of
// SafeArrayGetElement; the cell is 0 when it fails.
HRESULT ReadIntegerElement(SAFEARRAY* array, LONG* indices, unsigned long* cell);
