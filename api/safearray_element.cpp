#include "api/safearray_element.h"

bool HasIntegerElements(SAFEARRAY* array) {
    if (!array) return false;
    // Elements with copy semantics of their own are never plain integers,
    // whatever type tag the descriptor carries.
    const USHORT managed = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    if (array->fFeatures & managed) return false;
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(array, &type))) return false;
    switch (type) {
    case VT_UI1:
    case VT_I1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        break;
    default:
        return false;
    }
    // SafeArrayGetElement copies the descriptor's element size: a descriptor
    // claiming more than 4 bytes would write past the cell.
    const UINT size = SafeArrayGetElemsize(array);
    return size >= 1 && size <= 4;
}

HRESULT ReadIntegerElement(SAFEARRAY* array, LONG* indices, unsigned long* cell) {
    static_assert(sizeof(unsigned long) == 4, "the element cell is 32 bits");
    *cell = 0;
    const HRESULT hr = SafeArrayGetElement(array, indices, cell);
    if (FAILED(hr)) *cell = 0;
    return hr;
}
