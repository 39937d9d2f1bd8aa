#include "api/safearray_matrix.h"

#include "common/com_error.h"
#include "api/safearray_element.h"

SAFEARRAY* CreateByteMatrix(unsigned long firstCount, unsigned long secondCount) {
    SAFEARRAYBOUND bounds[2];
    bounds[0].cElements = firstCount;
    bounds[0].lLbound = 0;
    bounds[1].cElements = secondCount;
    bounds[1].lLbound = 0;
    return SafeArrayCreate(VT_UI1, 2, bounds);
}

void PutMatrixByte(SAFEARRAY* matrix, long first, long second, unsigned char value) {
    LONG indices[2] = {first, second};
    ThrowIfFailed(SafeArrayPutElement(matrix, indices, &value));
}

bool IsIntegerMatrix(SAFEARRAY* array) {
    return array && SafeArrayGetDim(array) == 2 && HasIntegerElements(array);
}

unsigned long MatrixFirstCount(SAFEARRAY* array) {
    if (!array || SafeArrayGetDim(array) != 2) return 0;
    LONG lower = 0;
    LONG upper = 0;
    ThrowIfFailed(SafeArrayGetLBound(array, 1, &lower));
    ThrowIfFailed(SafeArrayGetUBound(array, 1, &upper));
    const long long span = static_cast<long long>(upper) - lower + 1;
    return span > 0 ? static_cast<unsigned long>(span) : 0;
}

bool TryReadMatrixInteger(SAFEARRAY* array, long first, long second, long* value) {
    if (!value || !IsIntegerMatrix(array)) return false;
    LONG indices[2] = {first, second};
    unsigned long cell = 0;
    if (FAILED(ReadIntegerElement(array, indices, &cell))) return false;
    *value = static_cast<long>(cell);
    return true;
}
