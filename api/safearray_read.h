#pragma once
// Host byte arrays (any integer element type, one dimension, any lower bound)
// read into the library's own buffers, in index order.
//
// The buffer returned is allocated with new[]; the caller frees it with
// delete[]. The result is null and *count 0 when count or host is null, the
// array is null, it does not have exactly one dimension, its elements are
// not integers of 1, 2 or 4 bytes, or there is no memory for the copy. An
// empty array gives a zero-length buffer (not null) and *count 0. A failing
// SafeArrayGetLBound, SafeArrayGetUBound or SafeArrayGetElement is thrown as
// its HRESULT (a long); the partial buffer is freed first.
#include <windows.h>
#include <oleauto.h>

// Low 16 bits of each element.
unsigned short* SafeArrayToShorts(SAFEARRAY** host, unsigned int* count);
// Low 8 bits of each element.
unsigned char* SafeArrayToBytes(SAFEARRAY** host, unsigned int* count);
