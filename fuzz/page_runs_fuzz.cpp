// Wanted sets from random page lists and the runs taken from them: the runs
// cover the set exactly, lowest first, never longer than the limit, never
// across a gap, and rows near the ends of the page numbers neither wrap nor
// overflow.
#include <algorithm>
#include <limits>

#include "fuzz_input.h"
#include "protocol/page_runs.h"

namespace {

constexpr int64_t kLastPage = std::numeric_limits<int32_t>::max();
// Lists bigger than this are only checked for refusal, to keep runs fast.
constexpr int64_t kBuildLimit = 20000;

enum RowShape : uint8_t { kRawRow = 0x01, kNearTop = 0x02, kNearBottom = 0x04 };

PageRow ReadRow(FuzzInput& in) {
    const uint8_t shape = in.Byte();
    int32_t first = static_cast<int32_t>(in.U32());
    int32_t count = static_cast<int32_t>(in.U32());
    if (!(shape & kRawRow)) {
        first %= 5000;
        count %= 300;
    }
    if (shape & kNearTop) first = static_cast<int32_t>(kLastPage - (static_cast<uint32_t>(first) % 200));
    if (shape & kNearBottom) first = std::numeric_limits<int32_t>::min() + static_cast<int32_t>(static_cast<uint32_t>(first) % 200);
    return PageRow{first, count};
}

// Merged closed intervals of the rows, the plain way.
std::vector<std::pair<int64_t, int64_t>> Union(const std::vector<PageRow>& rows) {
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (const PageRow& r : rows)
        if (r.count > 0) spans.emplace_back(r.first, std::min<int64_t>(int64_t(r.first) + r.count - 1, kLastPage));
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int64_t, int64_t>> merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int maxPages = static_cast<int8_t>(in.Byte());  // -128..127; below 1 means 1
    std::vector<PageRow> rows;
    int64_t total = 0;
    while (!in.Empty() && rows.size() < 64) {
        rows.push_back(ReadRow(in));
        const int64_t pages = PagesInRow(rows.back().first, rows.back().count);
        FUZZ_CHECK(pages >= 0 && pages <= std::max<int64_t>(rows.back().count, 0));
        if (pages > 0) FUZZ_CHECK(int64_t(rows.back().first) + pages - 1 <= kLastPage);
        total += pages;
    }
    if (total > kBuildLimit && total <= pageruns::kMaxWantedPages) return 0;

    WantedPages wanted;
    const bool built = BuildWantedSet(rows, wanted);
    FUZZ_CHECK(built == (total <= pageruns::kMaxWantedPages));
    if (!built) {
        FUZZ_CHECK(wanted.empty());
        return 0;
    }

    // The set is exactly the union of the rows.
    const auto spans = Union(rows);
    int64_t expected = 0;
    for (const auto& s : spans) {
        expected += s.second - s.first + 1;
        FUZZ_CHECK(wanted.count(static_cast<int32_t>(s.first)) && wanted.count(static_cast<int32_t>(s.second)));
        FUZZ_CHECK(s.first == std::numeric_limits<int32_t>::min() || !wanted.count(static_cast<int32_t>(s.first - 1)));
        FUZZ_CHECK(s.second == kLastPage || !wanted.count(static_cast<int32_t>(s.second + 1)));
    }
    FUZZ_CHECK(static_cast<int64_t>(wanted.size()) == expected);

    // Taking runs until nothing is left covers every page once.
    const int limit = maxPages < 1 ? 1 : maxPages;
    int64_t covered = 0;
    while (!wanted.empty()) {
        const PageRun run = NextRun(wanted, maxPages);
        FUZZ_CHECK(run.start == *wanted.begin());
        FUZZ_CHECK(run.length >= 1 && run.length <= limit);
        for (int64_t p = run.start; p < int64_t(run.start) + run.length; ++p)
            FUZZ_CHECK(wanted.erase(static_cast<int32_t>(p)) == 1);
        const int64_t after = int64_t(run.start) + run.length;
        if (run.length < limit && after <= kLastPage) FUZZ_CHECK(!wanted.count(static_cast<int32_t>(after)));
        covered += run.length;
    }
    FUZZ_CHECK(covered == expected);
    const PageRun none = NextRun(wanted, maxPages);
    FUZZ_CHECK(none.start == 0 && none.length == 0);
    return 0;
}
