#pragma once
// Building host arrays the way an automation host does, and looking inside
// the arrays the library hands back.
#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <vector>

// A one-dimensional array of type with the given lower bound, filled through
// SafeArrayPutElement from values converted to Element.
template <typename Element>
SAFEARRAY* MakeHostVector(VARTYPE type, LONG lower, std::initializer_list<Element> values) {
    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(values.size());
    bound.lLbound = lower;
    SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
    LONG index = lower;
    for (Element value : values) {
        SafeArrayPutElement(array, &index, &value);
        ++index;
    }
    return array;
}

inline VARTYPE TypeOf(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    return type;
}

inline LONG LowerBound(SAFEARRAY* array, UINT dim = 1) {
    LONG bound = 12345;
    SafeArrayGetLBound(array, dim, &bound);
    return bound;
}

inline LONG UpperBound(SAFEARRAY* array, UINT dim = 1) {
    LONG bound = 12345;
    SafeArrayGetUBound(array, dim, &bound);
    return bound;
}

// The raw elements of an array of plain values, in memory order.
template <typename Element>
std::vector<Element> ElementsOf(SAFEARRAY* array) {
    std::vector<Element> out;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return out;
    ULONG total = 1;
    for (UINT d = 0; d < array->cDims; ++d) total *= array->rgsabound[d].cElements;
    const Element* elements = static_cast<const Element*>(data);
    out.assign(elements, elements + total);
    SafeArrayUnaccessData(array);
    return out;
}

// Holds an array until the end of a test.
class ArrayHolder {
public:
    explicit ArrayHolder(SAFEARRAY* array = nullptr) : m_array(array) {}
    ~ArrayHolder() {
        if (m_array) SafeArrayDestroy(m_array);
    }
    ArrayHolder(const ArrayHolder&) = delete;
    ArrayHolder& operator=(const ArrayHolder&) = delete;
    SAFEARRAY* Get() const { return m_array; }
    SAFEARRAY** Out() { return &m_array; }

private:
    SAFEARRAY* m_array;
};

// Locks the array as often as the platform allows, so that any further
// lock (and every element access, which locks) fails.
inline ULONG ExhaustLocks(SAFEARRAY* array) {
    ULONG taken = 0;
    while (taken < 0x10000 && SUCCEEDED(SafeArrayLock(array))) ++taken;
    return taken;
}

inline void ReleaseLocks(SAFEARRAY* array, ULONG taken) {
    while (taken--) SafeArrayUnlock(array);
}
