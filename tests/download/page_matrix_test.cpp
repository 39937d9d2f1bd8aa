// The page matrix built from a page list, and the host page list read into
// the wanted set: frames the simulator does not send (a short frame flagged
// as triple) and lists a host should not pass.
#include <gtest/gtest.h>

#include <cstring>

#include "api/download_page_list.h"
#include "api/download_page_matrix.h"
#include "sim/reply_frames.h"

namespace {

std::pair<int, char*> Entry(const std::vector<uint8_t>& frame) {
    char* copy = new char[frame.size()];
    std::memcpy(copy, frame.data(), frame.size());
    return {static_cast<int>(frame.size()), copy};
}

std::vector<uint8_t> Row(SAFEARRAY* matrix, long row, long width) {
    std::vector<uint8_t> bytes(static_cast<size_t>(width));
    for (long c = 0; c < width; ++c) {
        LONG at[2] = {row, c};
        SafeArrayGetElement(matrix, at, &bytes[c]);
    }
    return bytes;
}

long Count(SAFEARRAY* matrix, unsigned dim) {
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(matrix, dim, &lower);
    SafeArrayGetUBound(matrix, dim, &upper);
    EXPECT_EQ(lower, 0);
    return upper - lower + 1;
}

SAFEARRAY* IntMatrix(VARTYPE type, const std::vector<std::pair<long, long>>& rows) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows.size()), 0}, {2, 0}};
    SAFEARRAY* array = SafeArrayCreate(type, 2, bounds);
    for (size_t i = 0; i < rows.size(); ++i) {
        LONG first[2] = {static_cast<LONG>(i), 0}, count[2] = {static_cast<LONG>(i), 1};
        LONG a = rows[i].first, b = rows[i].second;
        SafeArrayPutElement(array, first, &a);
        SafeArrayPutElement(array, count, &b);
    }
    return array;
}

} // namespace

TEST(PageMatrix, ATripleFrameAndAStandardFrameMakeFourRows) {
    PageList list;
    list.push_back(Entry(vxsim::BuildTriplePageFrame(0x100, 3, true)));
    list.push_back(Entry(vxsim::BuildPageFrame(0x2000, 4, true)));
    EXPECT_EQ(PageMatrixRows(list), 4u);
    EXPECT_EQ(PageMatrixWidth(list), 272u);
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(StorePageMatrix(list, &out), 4);
    EXPECT_TRUE(list.empty());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Count(out, 1), 4);
    EXPECT_EQ(Count(out, 2), 272);
    EXPECT_EQ(Row(out, 0, 272), vxsim::BuildPageFrame(0x100, 3, false));
    EXPECT_EQ(Row(out, 1, 272), vxsim::BuildPageFrame(0x900, 3, false));
    EXPECT_EQ(Row(out, 2, 272), vxsim::BuildPageFrame(0x1100, 3, false));
    EXPECT_EQ(Row(out, 3, 272), vxsim::BuildPageFrame(0x2000, 4, true));  // as received
    SafeArrayDestroy(out);
}

TEST(PageMatrix, AShortFrameFlaggedAsTripleIsAnOrdinaryRow) {
    std::vector<uint8_t> shortTriple = vxsim::BuildPageFrame(0x55, 0, false);
    shortTriple.resize(300, 0x77);
    shortTriple[11] = 0x02;
    PageList list;
    list.push_back(Entry(shortTriple));
    list.push_back(Entry(vxsim::BuildPageFrame(0x56, 1, false)));
    EXPECT_EQ(PageMatrixRows(list), 2u);
    EXPECT_EQ(PageMatrixWidth(list), 300u);
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(StorePageMatrix(list, &out), 2);
    EXPECT_EQ(Row(out, 0, 300), shortTriple);
    std::vector<uint8_t> padded = vxsim::BuildPageFrame(0x56, 1, false);
    padded.resize(300, 0);
    EXPECT_EQ(Row(out, 1, 300), padded);
    SafeArrayDestroy(out);
}

TEST(PageMatrix, AnEmptyListMakesAnEmptyMatrix) {
    PageList list;
    SAFEARRAY* out = nullptr;
    EXPECT_EQ(StorePageMatrix(list, &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(SafeArrayGetDim(out), 2u);
    SafeArrayDestroy(out);
}

TEST(PageListInput, RefusesWhatIsNotAMatrixOfIntegers) {
    WantedPages wanted;
    EXPECT_EQ(ReadWantedPages(nullptr, wanted), PageListVerdict::kNotAMatrix);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(ReadWantedPages(&none, wanted), PageListVerdict::kNotAMatrix);
    SAFEARRAY* vector = SafeArrayCreateVector(VT_I4, 0, 4);
    EXPECT_EQ(ReadWantedPages(&vector, wanted), PageListVerdict::kNotAMatrix);
    SafeArrayDestroy(vector);
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    for (VARTYPE type : {VT_R8, VT_I8, VT_BSTR, VT_VARIANT}) {
        SAFEARRAY* other = SafeArrayCreate(type, 2, bounds);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(ReadWantedPages(&other, wanted), PageListVerdict::kNotAMatrix) << type;
        SafeArrayDestroy(other);
    }
    SAFEARRAYBOUND cube[3] = {{1, 0}, {2, 0}, {1, 0}};
    SAFEARRAY* three = SafeArrayCreate(VT_I4, 3, cube);
    EXPECT_EQ(ReadWantedPages(&three, wanted), PageListVerdict::kNotAMatrix);
    SafeArrayDestroy(three);
    EXPECT_TRUE(wanted.empty());
}

TEST(PageListInput, ReadsRowsAndRefusesTooManyPages) {
    WantedPages wanted;
    SAFEARRAY* rows = IntMatrix(VT_I4, {{10, 3}, {12, 4}, {-5, 2}, {100, 0}, {200, -7}});
    EXPECT_EQ(ReadWantedPages(&rows, wanted), PageListVerdict::kRead);
    EXPECT_EQ(wanted, (WantedPages{-5, -4, 10, 11, 12, 13, 14, 15}));
    SafeArrayDestroy(rows);

    WantedPages more;
    SAFEARRAY* limit = IntMatrix(VT_I4, {{0, 1 << 20}});
    EXPECT_EQ(ReadWantedPages(&limit, more), PageListVerdict::kRead);
    EXPECT_EQ(more.size(), size_t(1) << 20);
    SafeArrayDestroy(limit);

    WantedPages none;
    SAFEARRAY* over = IntMatrix(VT_I4, {{0, 1 << 20}, {5, 1}});  // overlaps count twice
    EXPECT_EQ(ReadWantedPages(&over, none), PageListVerdict::kTooManyPages);
    EXPECT_TRUE(none.empty());
    SafeArrayDestroy(over);
}
