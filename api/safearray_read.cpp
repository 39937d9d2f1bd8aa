#include "api/safearray_read.h"

#include <new>

#include "common/com_error.h"
#include "api/safearray_element.h"

namespace {

template <typename Narrow>
Narrow* ReadHostArray(SAFEARRAY** host, unsigned int* count) {
    if (!count) return nullptr;
    *count = 0;
    if (!host || !*host) return nullptr;
    SAFEARRAY* array = *host;
    if (SafeArrayGetDim(array) != 1 || !HasIntegerElements(array)) return nullptr;

    LONG lower = 0;
    LONG upper = 0;
    ThrowIfFailed(SafeArrayGetLBound(array, 1, &lower));
    ThrowIfFailed(SafeArrayGetUBound(array, 1, &upper));
    // 64-bit arithmetic: a lower bound near LONG_MIN must not wrap.
    const long long span = static_cast<long long>(upper) - lower + 1;
    const unsigned int total = span > 0 ? static_cast<unsigned int>(span) : 0;

    Narrow* out = new (std::nothrow) Narrow[total];
    if (!out) return nullptr;
    for (unsigned int i = 0; i < total; ++i) {
        LONG index = static_cast<LONG>(lower + static_cast<long long>(i));
        unsigned long cell = 0;
        const HRESULT hr = ReadIntegerElement(array, &index, &cell);
        if (FAILED(hr)) {
            delete[] out;
            ThrowIfFailed(hr);
        }
        out[i] = static_cast<Narrow>(cell);
    }
    *count = total;
    return out;
}

} // namespace

unsigned short* SafeArrayToShorts(SAFEARRAY** host, unsigned int* count) {
    return ReadHostArray<unsigned short>(host, count);
}

unsigned char* SafeArrayToBytes(SAFEARRAY** host, unsigned int* count) {
    return ReadHostArray<unsigned char>(host, count);
}
