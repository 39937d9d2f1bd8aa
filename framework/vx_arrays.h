#pragma once
// The growable arrays the COM-port list is kept in: port numbers and their
// descriptions, index for index.
#include <vector>

#include "framework/vx_string.h"

template <typename T>
class CVxArray {
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    bool IsEmpty() const { return m_items.empty(); }
    // Appends and returns the new element's index.
    int Add(const T& item) {
        m_items.push_back(item);
        return GetSize() - 1;
    }
    void RemoveAll() { m_items.clear(); }
    const T& GetAt(int index) const { return m_items.at(static_cast<size_t>(index)); }
    void SetAt(int index, const T& item) { m_items.at(static_cast<size_t>(index)) = item; }
    const T& operator[](int index) const { return GetAt(index); }
    T& operator[](int index) { return m_items.at(static_cast<size_t>(index)); }

private:
    std::vector<T> m_items;
};

typedef CVxArray<unsigned int> CUIntArray;
typedef CVxArray<CString> CStringArray;
