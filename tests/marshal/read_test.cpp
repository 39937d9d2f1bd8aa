// Host arrays read into the library's short and byte buffers.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "api/safearray_read.h"
#include "host_array.h"
#include "protocol/hex_text.h"

namespace {

std::vector<unsigned short> ReadShorts(SAFEARRAY* array, unsigned int* count) {
    std::unique_ptr<unsigned short[]> shorts(SafeArrayToShorts(&array, count));
    if (!shorts) return {};
    return std::vector<unsigned short>(shorts.get(), shorts.get() + *count);
}

std::vector<unsigned char> ReadBytes(SAFEARRAY* array, unsigned int* count) {
    std::unique_ptr<unsigned char[]> bytes(SafeArrayToBytes(&array, count));
    if (!bytes) return {};
    return std::vector<unsigned char>(bytes.get(), bytes.get() + *count);
}

} // namespace

TEST(HostArrayRead, ByteElementsWidenToShortsAndPrintAsHexText) {
    ArrayHolder host(MakeHostVector<unsigned char>(VT_UI1, 0, {0xBE, 0x09}));
    unsigned int count = 99;
    EXPECT_EQ(ReadShorts(host.Get(), &count), (std::vector<unsigned short>{0x00BE, 0x0009}));
    EXPECT_EQ(count, 2u);

    std::vector<unsigned char> bytes = ReadBytes(host.Get(), &count);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(BytesToHexText(bytes.data(), bytes.size()), L"be09");
}

TEST(HostArrayRead, ElementsAreZeroExtendedThenNarrowed) {
    unsigned int count = 0;
    ArrayHolder minusOne(MakeHostVector<short>(VT_I2, 0, {-1}));
    EXPECT_EQ(ReadShorts(minusOne.Get(), &count), std::vector<unsigned short>{0xFFFF});
    EXPECT_EQ(ReadBytes(minusOne.Get(), &count), std::vector<unsigned char>{0xFF});

    // A one-byte signed element arrives zero-extended, not sign-extended.
    ArrayHolder signedByte(MakeHostVector<signed char>(VT_I1, 0, {-128, 127}));
    EXPECT_EQ(ReadShorts(signedByte.Get(), &count), (std::vector<unsigned short>{0x0080, 0x007F}));

    ArrayHolder wide(MakeHostVector<unsigned int>(VT_UI4, 0, {0xDEADBEEF, 0x12345678}));
    EXPECT_EQ(ReadShorts(wide.Get(), &count), (std::vector<unsigned short>{0xBEEF, 0x5678}));
    EXPECT_EQ(ReadBytes(wide.Get(), &count), (std::vector<unsigned char>{0xEF, 0x78}));

    ArrayHolder unsignedShort(MakeHostVector<unsigned short>(VT_UI2, 0, {0xABCD}));
    EXPECT_EQ(ReadBytes(unsignedShort.Get(), &count), std::vector<unsigned char>{0xCD});

    for (VARTYPE type : {VT_I4, VT_INT, VT_UINT}) {
        ArrayHolder host(MakeHostVector<int>(type, 0, {-2, 0x1FF}));
        EXPECT_EQ(ReadShorts(host.Get(), &count), (std::vector<unsigned short>{0xFFFE, 0x01FF})) << "type " << type;
        EXPECT_EQ(ReadBytes(host.Get(), &count), (std::vector<unsigned char>{0xFE, 0xFF})) << "type " << type;
    }
}

TEST(HostArrayRead, AnyLowerBoundIsReadInIndexOrder) {
    unsigned int count = 0;
    ArrayHolder fromOne(MakeHostVector<int>(VT_I4, 1, {10, 20, 30}));
    ASSERT_EQ(LowerBound(fromOne.Get()), 1);
    ASSERT_EQ(UpperBound(fromOne.Get()), 3);
    EXPECT_EQ(ReadShorts(fromOne.Get(), &count), (std::vector<unsigned short>{10, 20, 30}));
    EXPECT_EQ(count, 3u);

    ArrayHolder negative(MakeHostVector<unsigned char>(VT_UI1, -2, {1, 2, 3, 4}));
    EXPECT_EQ(ReadBytes(negative.Get(), &count), (std::vector<unsigned char>{1, 2, 3, 4}));
}

TEST(HostArrayRead, EmptyArrayGivesZeroLengthBuffer) {
    ArrayHolder empty(MakeHostVector<unsigned char>(VT_UI1, 5, {}));
    SAFEARRAY* array = empty.Get();
    unsigned int count = 7;
    unsigned short* shorts = SafeArrayToShorts(&array, &count);
    EXPECT_NE(shorts, nullptr);
    EXPECT_EQ(count, 0u);
    delete[] shorts;
    unsigned char* bytes = SafeArrayToBytes(&array, &count);
    EXPECT_NE(bytes, nullptr);
    EXPECT_EQ(count, 0u);
    delete[] bytes;
}

TEST(HostArrayRead, MissingOrMultiDimensionalArraysAreRefused) {
    unsigned int count = 7;
    EXPECT_EQ(SafeArrayToShorts(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0u);
    SAFEARRAY* none = nullptr;
    count = 7;
    EXPECT_EQ(SafeArrayToBytes(&none, &count), nullptr);
    EXPECT_EQ(count, 0u);

    ArrayHolder host(MakeHostVector<unsigned char>(VT_UI1, 0, {1}));
    SAFEARRAY* array = host.Get();
    EXPECT_EQ(SafeArrayToBytes(&array, nullptr), nullptr);

    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    ArrayHolder square(SafeArrayCreate(VT_UI1, 2, bounds));
    array = square.Get();
    count = 7;
    EXPECT_EQ(SafeArrayToBytes(&array, &count), nullptr);
    EXPECT_EQ(count, 0u);
    count = 7;
    EXPECT_EQ(SafeArrayToShorts(&array, &count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(HostArrayRead, NonIntegerAndWideElementsAreRefused) {
    const VARTYPE refused[] = {VT_R8, VT_R4, VT_CY, VT_DATE, VT_I8, VT_UI8, VT_BSTR, VT_VARIANT, VT_BOOL, VT_ERROR};
    for (VARTYPE type : refused) {
        SAFEARRAYBOUND bound = {3, 0};
        ArrayHolder host(SafeArrayCreate(type, 1, &bound));
        ASSERT_NE(host.Get(), nullptr) << "type " << type;
        SAFEARRAY* array = host.Get();
        unsigned int count = 7;
        EXPECT_EQ(SafeArrayToShorts(&array, &count), nullptr) << "type " << type;
        EXPECT_EQ(count, 0u);
        count = 7;
        EXPECT_EQ(SafeArrayToBytes(&array, &count), nullptr) << "type " << type;
        EXPECT_EQ(count, 0u);
    }
}

TEST(HostArrayRead, DescriptorWithElementsWiderThanTheCellIsRefused) {
    // Tagged as 32-bit integers but laid out with 8-byte elements: reading one
    // into the 32-bit cell would overrun it.
    SAFEARRAY* array = nullptr;
    ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_I4, 1, &array), S_OK);
    array->cbElements = 8;
    array->rgsabound[0].cElements = 2;
    array->rgsabound[0].lLbound = 0;
    ASSERT_EQ(SafeArrayAllocData(array), S_OK);
    ArrayHolder holder(array);
    unsigned int count = 7;
    EXPECT_EQ(SafeArrayToShorts(&array, &count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(HostArrayRead, FailingElementReadIsThrownAsItsHresult) {
    ArrayHolder host(MakeHostVector<unsigned char>(VT_UI1, 0, {1, 2}));
    SAFEARRAY* array = host.Get();
    const ULONG locks = ExhaustLocks(array);
    ASSERT_GT(locks, 0u);
    unsigned int count = 7;
    long thrown = 0;
    try {
        SafeArrayToBytes(&array, &count);
        ADD_FAILURE() << "no exception";
    } catch (long hr) {
        thrown = hr;
    }
    ReleaseLocks(array, locks);
    EXPECT_EQ(static_cast<unsigned long>(thrown), 0x8000FFFFul); // E_UNEXPECTED: the element lock failed
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ReadBytes(array, &count), (std::vector<unsigned char>{1, 2}));
}
