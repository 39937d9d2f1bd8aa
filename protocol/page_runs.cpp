#include "protocol/page_runs.h"

#include <iterator>
#include <limits>

namespace {
constexpr int64_t kLastPage = std::numeric_limits<int32_t>::max();
} // namespace

int64_t PagesInRow(int32_t first, int32_t count) {
    if (count <= 0) return 0;
    const int64_t room = kLastPage - first + 1;
    return count < room ? count : room;
}

void AddPageRow(WantedPages& wanted, int32_t first, int32_t count) {
    const int64_t pages = PagesInRow(first, count);
    // Pages go in ascending order, each just before the successor of the
    // last one, so each insert costs amortised constant time.
    auto hint = wanted.lower_bound(first);
    for (int64_t i = 0; i < pages; ++i)
        hint = std::next(wanted.insert(hint, static_cast<int32_t>(first + i)));
}

bool BuildWantedSet(const std::vector<PageRow>& rows, WantedPages& wanted) {
    int64_t total = 0;
    for (const PageRow& row : rows) {
        total += PagesInRow(row.first, row.count);
        if (total > pageruns::kMaxWantedPages) return false;
    }
    for (const PageRow& row : rows) AddPageRow(wanted, row.first, row.count);
    return true;
}

PageRun NextRun(const WantedPages& wanted, int maxPages) {
    if (wanted.empty()) return PageRun{0, 0};
    if (maxPages < 1) maxPages = 1;
    auto it = wanted.begin();
    const int32_t start = *it;
    int32_t length = 1;
    for (++it; it != wanted.end() && length < maxPages; ++it) {
        if (static_cast<int64_t>(*it) != static_cast<int64_t>(start) + length) break;
        ++length;
    }
    return PageRun{start, length};
}
