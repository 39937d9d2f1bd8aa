// Wide host text narrowed for the log and copied for keeping.
#include <gtest/gtest.h>

#include <cwchar>

#include "common/com_error.h"
#include "api/host_text.h"

TEST(HostText, NarrowsToAnsiCodePage) {
    EXPECT_EQ(NarrowText(CString(L"BE09")), "BE09");
    EXPECT_EQ(NarrowText(CString()), "");
    EXPECT_EQ(NarrowText(nullptr, 4), "");
    EXPECT_EQ(NarrowText(L"a55a01ff", 4), "a55a");
}

TEST(HostText, FailedConversionRaisesComErrorWithWin32Code) {
    HRESULT raised = S_OK;
    try {
        NarrowText(L"BE09", 4, 12345); // no such code page
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
        raised = error.Error();
    }
    EXPECT_EQ(static_cast<unsigned long>(raised), 0x80070057ul); // ERROR_INVALID_PARAMETER
}

TEST(HostText, Win32CodesBecomeFailingHresults) {
    EXPECT_EQ(static_cast<unsigned long>(HresultFromWin32Code(ERROR_NOT_ENOUGH_MEMORY)), 0x80070008ul);
    EXPECT_EQ(static_cast<unsigned long>(HresultFromWin32Code(ERROR_NO_UNICODE_TRANSLATION)), 0x80070459ul);
    EXPECT_TRUE(FAILED(HresultFromWin32Code(0)));
}

TEST(HostText, CopyKeepsNullAsNullAndTextAsCopy) {
    EXPECT_EQ(CopyHostText(nullptr), nullptr);
    const wchar_t address[] = L"AB";
    std::unique_ptr<wchar_t[]> copy = CopyHostText(address);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), address);
    EXPECT_STREQ(copy.get(), L"AB");
    std::unique_ptr<wchar_t[]> empty = CopyHostText(L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], L'\0');
}
