// The library's buffers and lists handed to the host as new arrays.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "api/safearray_write.h"
#include "host_array.h"

namespace {

std::wstring ElementText(BSTR element) {
    return std::wstring(element, SysStringLen(element));
}

// The shape of the framework's string array: GetSize and GetAt by int.
class IndexedStrings {
public:
    explicit IndexedStrings(std::vector<CString> items) : m_items(std::move(items)) {}
    int GetSize() const { return static_cast<int>(m_items.size()); }
    const CString& GetAt(int index) const { return m_items.at(static_cast<size_t>(index)); }

private:
    std::vector<CString> m_items;
};

} // namespace

TEST(HostArrayWrite, BytesBecomeSignedByteVectorFromZero) {
    const unsigned char reply[] = {0x01, 0x7F, 0x80, 0xFF};
    ArrayHolder out;
    ASSERT_TRUE(BytesToSafeArray(reply, 4, out.Out()));
    ASSERT_NE(out.Get(), nullptr);
    EXPECT_EQ(TypeOf(out.Get()), VT_I1);
    EXPECT_EQ(SafeArrayGetDim(out.Get()), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(out.Get()), 1u);
    EXPECT_EQ(LowerBound(out.Get()), 0);
    EXPECT_EQ(UpperBound(out.Get()), 3);
    EXPECT_EQ(ElementsOf<unsigned char>(out.Get()), (std::vector<unsigned char>{0x01, 0x7F, 0x80, 0xFF}));

    const char text[] = "be09";
    ASSERT_TRUE(BytesToSafeArray(text, 4, out.Out()));
    EXPECT_EQ(ElementsOf<char>(out.Get()), (std::vector<char>{'b', 'e', '0', '9'}));
}

TEST(HostArrayWrite, NoBytesReplaceTheOldArrayWithAnEmptyOne) {
    const unsigned char reply[] = {1, 2, 3};
    ArrayHolder out;
    ASSERT_TRUE(BytesToSafeArray(reply, 3, out.Out()));

    for (long size : {0L, -5L}) {
        ASSERT_TRUE(BytesToSafeArray(reply, size, out.Out())) << size;
        ASSERT_NE(out.Get(), nullptr);
        EXPECT_EQ(TypeOf(out.Get()), VT_I1);
        EXPECT_EQ(LowerBound(out.Get()), 0);
        EXPECT_EQ(UpperBound(out.Get()), -1);
        EXPECT_EQ(out.Get()->rgsabound[0].cElements, 0u);
    }
    // Null data with a size is treated as no data rather than read.
    ASSERT_TRUE(BytesToSafeArray(static_cast<const unsigned char*>(nullptr), 3, out.Out()));
    EXPECT_EQ(out.Get()->rgsabound[0].cElements, 0u);
}

TEST(HostArrayWrite, StringsBecomeBstrVectorWithNullForEmptyEntries) {
    const std::vector<CString> list = {CString(L"FT232R USB UART"), CString(), CString(L"A\0B", 3), CString(L"\x00FC\x20AC")};
    ArrayHolder out;
    ASSERT_TRUE(StringsToSafeArray(list, out.Out()));
    ASSERT_NE(out.Get(), nullptr);
    EXPECT_EQ(TypeOf(out.Get()), VT_BSTR);
    EXPECT_EQ(SafeArrayGetDim(out.Get()), 1u);
    EXPECT_EQ(LowerBound(out.Get()), 0);
    EXPECT_EQ(UpperBound(out.Get()), 3);

    std::vector<BSTR> elements = ElementsOf<BSTR>(out.Get());
    ASSERT_EQ(elements.size(), 4u);
    EXPECT_EQ(ElementText(elements[0]), L"FT232R USB UART");
    EXPECT_EQ(elements[1], nullptr);
    EXPECT_EQ(ElementText(elements[2]), std::wstring(L"A\0B", 3));
    EXPECT_EQ(ElementText(elements[3]), L"\x00FC\x20AC");
    // The array holds copies, not the list's own storage.
    EXPECT_NE(static_cast<const wchar_t*>(elements[0]), list[0].GetString());
}

TEST(HostArrayWrite, IndexedStringListKeepsItsOrder) {
    ArrayHolder out;
    ASSERT_TRUE(StringsToSafeArray(IndexedStrings({CString(L"COM3"), CString(), CString(L"COM10")}), out.Out()));
    std::vector<BSTR> elements = ElementsOf<BSTR>(out.Get());
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(ElementText(elements[0]), L"COM3");
    EXPECT_EQ(elements[1], nullptr);
    EXPECT_EQ(ElementText(elements[2]), L"COM10");
}

TEST(HostArrayWrite, EmptyStringListGivesEmptyArrayNotNull) {
    ArrayHolder out(MakeHostVector<int>(VT_I4, 0, {1, 2}));
    ASSERT_TRUE(StringsToSafeArray(std::vector<CString>(), out.Out()));
    ASSERT_NE(out.Get(), nullptr);
    EXPECT_EQ(TypeOf(out.Get()), VT_BSTR);
    EXPECT_EQ(LowerBound(out.Get()), 0);
    EXPECT_EQ(UpperBound(out.Get()), -1);
}

TEST(HostArrayWrite, LongsBecomeIntVectorFromZero) {
    ArrayHolder out;
    ASSERT_TRUE(LongsToSafeArray(std::vector<long>{0x1234, -1, 0x7FFFFFFF}, out.Out()));
    ASSERT_NE(out.Get(), nullptr);
    EXPECT_EQ(TypeOf(out.Get()), VT_INT);
    EXPECT_EQ(SafeArrayGetElemsize(out.Get()), 4u);
    EXPECT_EQ(LowerBound(out.Get()), 0);
    EXPECT_EQ(UpperBound(out.Get()), 2);
    EXPECT_EQ(ElementsOf<int>(out.Get()), (std::vector<int>{0x1234, -1, 0x7FFFFFFF}));

    ASSERT_TRUE(LongsToSafeArray(std::vector<long>(), out.Out()));
    ASSERT_NE(out.Get(), nullptr);
    EXPECT_EQ(TypeOf(out.Get()), VT_INT);
    EXPECT_EQ(UpperBound(out.Get()), -1);
}

TEST(HostArrayWrite, NullOutPointerDoesNothing) {
    const unsigned char byte = 1;
    EXPECT_FALSE(BytesToSafeArray(&byte, 1, nullptr));
    EXPECT_FALSE(StringsToSafeArray(std::vector<CString>{CString(L"x")}, nullptr));
    EXPECT_FALSE(LongsToSafeArray(std::vector<long>{1}, nullptr));
    ReleaseHeldArray(nullptr);
}

TEST(HostArrayWrite, ReleaseHeldArrayDestroysAndClears) {
    SAFEARRAY* held = SafeArrayCreateVector(VT_UI1, 0, 4);
    ASSERT_NE(held, nullptr);
    ReleaseHeldArray(&held);
    EXPECT_EQ(held, nullptr);
    ReleaseHeldArray(&held);
    EXPECT_EQ(held, nullptr);
}
