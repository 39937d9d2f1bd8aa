#pragma once
// Two-dimensional arrays: the VT_UI1 arrays the library builds (multi-part
// replies, the page matrix) and the integer page list a host passes in.
//
// Index vectors follow the order of the bounds given to SafeArrayCreate:
// `first` is index 0 (dimension 1 for SafeArrayGetLBound/GetUBound, and the
// index that varies fastest in memory), `second` is index 1.
#include <windows.h>
#include <oleauto.h>

// A new VT_UI1 array of firstCount by secondCount zeroed elements, lower
// bound 0 in both dimensions; null when it cannot be created. The caller
// stores it (destroying or keeping the old array as its export requires,
// see ReleaseHeldArray) and the host owns it.
SAFEARRAY* CreateByteMatrix(unsigned long firstCount, unsigned long secondCount);

// Puts value at (first, second). A failing SafeArrayPutElement (index out of
// range, array locked too often, null array) is thrown as its HRESULT.
void PutMatrixByte(SAFEARRAY* matrix, long first, long second, unsigned char value);

// True for a host array of exactly two dimensions whose elements are
// integers of 1, 2 or 4 bytes.
bool IsIntegerMatrix(SAFEARRAY* array);

// The element count of the first dimension (index 0) of a two-dimensional
// array, 0 when it is not one. A failing SafeArrayGetLBound/GetUBound is
// thrown as its HRESULT.
unsigned long MatrixFirstCount(SAFEARRAY* array);

// Reads the element at (first, second) of an integer matrix, zero-extended
// from its element size and taken as a signed 32-bit value. The indices are
// used as given, whatever the array's lower bounds. False, with *value
// untouched, when the array is not an integer matrix or the element cannot
// be read (nothing is thrown: an unreadable page-list row is an empty run).
bool TryReadMatrixInteger(SAFEARRAY* array, long first, long second, long* value);
