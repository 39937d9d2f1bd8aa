#include "api/download_page_list.h"

#include "api/safearray_matrix.h"

PageListVerdict ReadWantedPages(SAFEARRAY** pages, WantedPages& wanted) {
    if (!pages || !IsIntegerMatrix(*pages)) return PageListVerdict::kNotAMatrix;
    SAFEARRAY* array = *pages;
    const unsigned long rowCount = MatrixFirstCount(array);
    std::vector<PageRow> rows;
    int64_t total = 0;
    for (unsigned long i = 0; i < rowCount; ++i) {
        long first = 0;
        long count = 0;
        if (!TryReadMatrixInteger(array, static_cast<long>(i), 0, &first) ||
            !TryReadMatrixInteger(array, static_cast<long>(i), 1, &count))
            continue;
        const int64_t pagesInRow = PagesInRow(first, count);
        if (pagesInRow == 0) continue;
        // Stop collecting as soon as the list is known to be too long, so a
        // huge list costs no more memory than an acceptable one.
        total += pagesInRow;
        if (total > pageruns::kMaxWantedPages) return PageListVerdict::kTooManyPages;
        rows.push_back(PageRow{static_cast<int32_t>(first), static_cast<int32_t>(count)});
    }
    return BuildWantedSet(rows, wanted) ? PageListVerdict::kRead : PageListVerdict::kTooManyPages;
}

void FreePageBuffers(PageList& list) {
    for (auto& entry : list) delete[] entry.second;
    list.clear();
}
