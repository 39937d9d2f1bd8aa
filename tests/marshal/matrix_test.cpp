// Two-dimensional arrays: byte matrices built for the host, integer page
// lists read from it.
#include <gtest/gtest.h>

#include <vector>

#include "api/safearray_matrix.h"
#include "host_array.h"

namespace {

long ThrownBy(SAFEARRAY* matrix, long first, long second) {
    try {
        PutMatrixByte(matrix, first, second, 1);
    } catch (long hr) {
        return hr;
    }
    return 0;
}

} // namespace

TEST(ByteMatrix, FirstIndexAddressesFirstBoundAndVariesFastest) {
    // Two reply parts of 5 and 3 bytes, laid out as (byte, part).
    ArrayHolder matrix(CreateByteMatrix(5, 2));
    ASSERT_NE(matrix.Get(), nullptr);
    EXPECT_EQ(TypeOf(matrix.Get()), VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(matrix.Get()), 2u);
    EXPECT_EQ(LowerBound(matrix.Get(), 1), 0);
    EXPECT_EQ(UpperBound(matrix.Get(), 1), 4);
    EXPECT_EQ(LowerBound(matrix.Get(), 2), 0);
    EXPECT_EQ(UpperBound(matrix.Get(), 2), 1);

    const unsigned char first[] = {1, 2, 3, 4, 5};
    const unsigned char second[] = {6, 7, 8};
    for (long j = 0; j < 5; ++j) PutMatrixByte(matrix.Get(), j, 0, first[j]);
    for (long j = 0; j < 3; ++j) PutMatrixByte(matrix.Get(), j, 1, second[j]);

    EXPECT_EQ(ElementsOf<unsigned char>(matrix.Get()), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8, 0, 0}));
    LONG tail[2] = {4, 1};
    unsigned char value = 0xAA;
    ASSERT_EQ(SafeArrayGetElement(matrix.Get(), tail, &value), S_OK);
    EXPECT_EQ(value, 0);
}

TEST(ByteMatrix, FailingPutIsThrownAsItsHresult) {
    ArrayHolder matrix(CreateByteMatrix(3, 2));
    ASSERT_NE(matrix.Get(), nullptr);
    EXPECT_EQ(static_cast<unsigned long>(ThrownBy(matrix.Get(), 3, 0)), 0x8002000Bul); // DISP_E_BADINDEX
    EXPECT_EQ(static_cast<unsigned long>(ThrownBy(matrix.Get(), 0, 2)), 0x8002000Bul);
    EXPECT_EQ(static_cast<unsigned long>(ThrownBy(nullptr, 0, 0)), 0x80070057ul);     // E_INVALIDARG

    const ULONG locks = ExhaustLocks(matrix.Get());
    ASSERT_GT(locks, 0u);
    const long locked = ThrownBy(matrix.Get(), 0, 0);
    ReleaseLocks(matrix.Get(), locks);
    EXPECT_EQ(static_cast<unsigned long>(locked), 0x8000FFFFul); // E_UNEXPECTED
    EXPECT_EQ(ThrownBy(matrix.Get(), 2, 1), 0);
}

TEST(PageList, RowsAndElementsReadWithZeroBasedIndices) {
    // Runs (10, 3) and (12, 4) as a host builds them: row i, column 0 the
    // first page, column 1 the count.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    ArrayHolder pages(SafeArrayCreate(VT_I4, 2, bounds));
    ASSERT_NE(pages.Get(), nullptr);
    const long cells[2][2] = {{10, 3}, {12, 4}};
    for (LONG row = 0; row < 2; ++row)
        for (LONG column = 0; column < 2; ++column) {
            LONG indices[2] = {row, column};
            long value = cells[row][column];
            ASSERT_EQ(SafeArrayPutElement(pages.Get(), indices, &value), S_OK);
        }

    EXPECT_TRUE(IsIntegerMatrix(pages.Get()));
    EXPECT_EQ(MatrixFirstCount(pages.Get()), 2u);
    for (long row = 0; row < 2; ++row)
        for (long column = 0; column < 2; ++column) {
            long value = -99;
            EXPECT_TRUE(TryReadMatrixInteger(pages.Get(), row, column, &value));
            EXPECT_EQ(value, cells[row][column]);
        }
    long untouched = -99;
    EXPECT_FALSE(TryReadMatrixInteger(pages.Get(), 2, 0, &untouched));
    EXPECT_EQ(untouched, -99);
}

TEST(PageList, ShortElementsAreZeroExtendedAndOtherBoundsUnreadable) {
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    ArrayHolder shorts(SafeArrayCreate(VT_I2, 2, bounds));
    LONG indices[2] = {0, 0};
    short minusOne = -1;
    ASSERT_EQ(SafeArrayPutElement(shorts.Get(), indices, &minusOne), S_OK);
    long value = 0;
    EXPECT_TRUE(TryReadMatrixInteger(shorts.Get(), 0, 0, &value));
    EXPECT_EQ(value, 0xFFFF);

    // Indices are used from 0 whatever the bounds: a row from 1 is unreadable.
    SAFEARRAYBOUND fromOne[2] = {{3, 1}, {2, 1}};
    ArrayHolder basic(SafeArrayCreate(VT_I4, 2, fromOne));
    EXPECT_EQ(MatrixFirstCount(basic.Get()), 3u);
    EXPECT_FALSE(TryReadMatrixInteger(basic.Get(), 0, 0, &value));
    EXPECT_TRUE(TryReadMatrixInteger(basic.Get(), 1, 1, &value));
}

TEST(PageList, OtherShapesAndTypesAreNotPageLists) {
    ArrayHolder vector(MakeHostVector<int>(VT_I4, 0, {10, 3}));
    EXPECT_FALSE(IsIntegerMatrix(vector.Get()));
    EXPECT_EQ(MatrixFirstCount(vector.Get()), 0u);
    long value = -99;
    EXPECT_FALSE(TryReadMatrixInteger(vector.Get(), 0, 0, &value));

    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    ArrayHolder doubles(SafeArrayCreate(VT_R8, 2, bounds));
    EXPECT_FALSE(IsIntegerMatrix(doubles.Get()));
    EXPECT_FALSE(TryReadMatrixInteger(doubles.Get(), 0, 0, &value));
    EXPECT_EQ(value, -99);

    EXPECT_FALSE(IsIntegerMatrix(nullptr));
    EXPECT_EQ(MatrixFirstCount(nullptr), 0u);
}
