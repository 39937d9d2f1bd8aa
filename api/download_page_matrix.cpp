#include "api/download_page_matrix.h"

#include "api/safearray_matrix.h"
#include "protocol/page_frame.h"

namespace {

const unsigned char* Bytes(const std::pair<int, char*>& entry) {
    return reinterpret_cast<const unsigned char*>(entry.second);
}

bool IsTriple(const std::pair<int, char*>& entry) { return IsTripleFrame(Bytes(entry), entry.first); }

// Frees whatever the list still holds when the matrix is left early.
class PageListRelease {
public:
    explicit PageListRelease(PageList& list) : m_list(list) {}
    ~PageListRelease() { FreePageBuffers(m_list); }
    PageListRelease(const PageListRelease&) = delete;
    PageListRelease& operator=(const PageListRelease&) = delete;

private:
    PageList& m_list;
};

} // namespace

unsigned long PageMatrixRows(const PageList& list) {
    unsigned long rows = 0;
    for (const auto& entry : list) rows += IsTriple(entry) ? pageframe::kSubPages : 1;
    return rows;
}

unsigned long PageMatrixWidth(const PageList& list) {
    unsigned long width = 0;
    for (const auto& entry : list) {
        const unsigned long size =
            IsTriple(entry) ? pageframe::kStandardSize : static_cast<unsigned long>(entry.first > 0 ? entry.first : 0);
        if (size > width) width = size;
    }
    return width;
}

long StorePageMatrix(PageList& list, SAFEARRAY** out) {
    PageListRelease release(list);
    const unsigned long rows = PageMatrixRows(list);
    const unsigned long width = PageMatrixWidth(list);
    SAFEARRAY* matrix = CreateByteMatrix(rows, width);
    if (!matrix) return 0;
    *out = matrix;

    long row = 0;
    for (auto& entry : list) {
        TripleRows triple;
        if (ExpandTripleFrame(Bytes(entry), entry.first, triple)) {
            for (const StandardPageFrame& frame : triple) {
                for (int i = 0; i < pageframe::kStandardSize; ++i) PutMatrixByte(matrix, row, i, frame[i]);
                ++row;
            }
        } else {
            for (int i = 0; i < entry.first; ++i) PutMatrixByte(matrix, row, i, Bytes(entry)[i]);
            ++row;
        }
        delete[] entry.second;
        entry.second = nullptr;
    }
    return static_cast<long>(rows);
}
