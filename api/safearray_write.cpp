#include "api/safearray_write.h"

#include <climits>

#include "common/com_error.h"

namespace {

SAFEARRAY* CreateVectorArray(VARTYPE type, size_t count) {
    if (count > ULONG_MAX) return nullptr;
    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(count);
    bound.lLbound = 0;
    return SafeArrayCreate(type, 1, &bound);
}

// SafeArrayPutElement copies a BSTR element from a real BSTR (it reads the
// length prefix), so each entry goes through a temporary one.
class TemporaryBstr {
public:
    explicit TemporaryBstr(const CString& text)
        : m_bstr(SysAllocStringLen(text.GetString(), static_cast<UINT>(text.GetLength()))) {
        if (!m_bstr) ThrowComError(E_OUTOFMEMORY);
    }
    ~TemporaryBstr() { SysFreeString(m_bstr); }
    TemporaryBstr(const TemporaryBstr&) = delete;
    TemporaryBstr& operator=(const TemporaryBstr&) = delete;
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

} // namespace

void ReleaseHeldArray(SAFEARRAY** out) {
    if (!out) return;
    if (*out) SafeArrayDestroy(*out);
    *out = nullptr;
}

bool BytesToSafeArray(const unsigned char* bytes, long size, SAFEARRAY** out) {
    if (!out) return false;
    ReleaseHeldArray(out);
    const size_t count = (bytes && size > 0) ? static_cast<size_t>(size) : 0;
    *out = CreateVectorArray(VT_I1, count);
    if (!*out) return false;
    for (size_t i = 0; i < count; ++i) {
        LONG index = static_cast<LONG>(i);
        unsigned char value = bytes[i];
        ThrowIfFailed(SafeArrayPutElement(*out, &index, &value));
    }
    return true;
}

bool StringsToSafeArray(size_t count, const std::function<const CString&(size_t)>& entry, SAFEARRAY** out) {
    if (!out) return false;
    ReleaseHeldArray(out);
    if (!entry) count = 0;
    *out = CreateVectorArray(VT_BSTR, count);
    if (!*out) return false;
    for (size_t i = 0; i < count; ++i) {
        const CString& text = entry(i);
        // A new BSTR array holds null in every element already; putting a null
        // BSTR would store an empty string instead on some platforms.
        if (text.IsEmpty()) continue;
        TemporaryBstr copy(text);
        LONG index = static_cast<LONG>(i);
        ThrowIfFailed(SafeArrayPutElement(*out, &index, copy.Get()));
    }
    return true;
}

bool LongsToSafeArray(const long* values, size_t count, SAFEARRAY** out) {
    static_assert(sizeof(long) == 4, "VT_INT elements are 32 bits");
    if (!out) return false;
    ReleaseHeldArray(out);
    if (!values || count > ULONG_MAX) count = 0;
    *out = SafeArrayCreateVector(VT_INT, 0, static_cast<ULONG>(count));
    if (!*out) return false;
    for (size_t i = 0; i < count; ++i) {
        LONG index = static_cast<LONG>(i);
        long value = values[i];
        ThrowIfFailed(SafeArrayPutElement(*out, &index, &value));
    }
    return true;
}
