#pragma once
// The pages a download still wants, and the runs it requests them in.
#include <cstdint>
#include <set>
#include <vector>

// Distinct page numbers, ordered as signed 32-bit values.
using WantedPages = std::set<int32_t>;

// One row of the host's page list: the first page of a run and its length.
struct PageRow {
    int32_t first;
    int32_t count;
};

struct PageRun {
    int32_t start;
    int32_t length;  // 0 only when nothing is wanted
};

namespace pageruns {
constexpr int kPagesPerRun = 64;
// The most pages one page list may ask for (256 MiB of page data). Building a
// set of every page a bad list names would exhaust memory long before any
// tool could send them, so such a list is refused instead.
constexpr int64_t kMaxWantedPages = int64_t(1) << 20;
} // namespace pageruns

// Pages the row first..first+count-1 names: none for count <= 0. Page numbers
// stop at INT32_MAX, so a row that would run past it ends there instead of
// wrapping round to negative numbers.
int64_t PagesInRow(int32_t first, int32_t count);

// Adds the row's pages (as PagesInRow bounds them) to the set. No limit on
// the set's size: callers with untrusted rows use BuildWantedSet.
void AddPageRow(WantedPages& wanted, int32_t first, int32_t count);

// The union of all rows. When the rows together name more than
// kMaxWantedPages pages (overlaps counted twice), nothing is added and the
// result is false; otherwise true.
bool BuildWantedSet(const std::vector<PageRow>& rows, WantedPages& wanted);

// The lowest wanted page and the pages that follow it without a gap, at most
// maxPages of them (values below 1 count as 1). {0, 0} when nothing is wanted.
PageRun NextRun(const WantedPages& wanted, int maxPages = pageruns::kPagesPerRun);
