#pragma once
// The wide string the library's classes hold (command texts, host names).
#include <cwchar>
#include <string>
#include <utility>

class CString {
public:
    CString() = default;
    CString(const wchar_t* text) : m_text(text ? text : L"") {}
    CString(const wchar_t* text, size_t length) : m_text(text ? std::wstring(text, length) : std::wstring()) {}
    CString(const std::wstring& text) : m_text(text) {}
    CString(std::wstring&& text) : m_text(std::move(text)) {}

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    const wchar_t* GetString() const { return m_text.c_str(); }
    operator const wchar_t*() const { return m_text.c_str(); }
    const std::wstring& Str() const { return m_text; }

    CString& operator+=(const CString& other) { m_text += other.m_text; return *this; }
    bool operator==(const CString& other) const { return m_text == other.m_text; }
    bool operator!=(const CString& other) const { return m_text != other.m_text; }

private:
    std::wstring m_text;
};
