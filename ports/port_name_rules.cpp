#include "ports/port_name_rules.h"

#include <climits>
#include <cwchar>

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool StartsWithCom(const wchar_t* text) {
    return (text[0] == L'C' || text[0] == L'c') && (text[1] == L'O' || text[1] == L'o') &&
           (text[2] == L'M' || text[2] == L'm');
}

// The value of the leading digits, stopping at INT_MAX (such a port is
// dropped later like any number above 255).
unsigned int LeadingNumber(const wchar_t* digits) {
    unsigned long long value = 0;
    for (; IsDigit(*digits); ++digits) {
        value = value * 10 + static_cast<unsigned>(*digits - L'0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<unsigned int>(value);
}

} // namespace

bool IsDigitString(const wchar_t* text, bool allowColon) {
    if (!text || !*text) return false;
    for (; *text; ++text)
        if (!IsDigit(*text) && !(allowColon && *text == L':')) return false;
    return true;
}

bool ParseSetupPortName(const wchar_t* text, unsigned int& number) {
    if (!text || std::wcslen(text) <= 3 || !StartsWithCom(text) || !IsDigitString(text + 3, false)) return false;
    number = LeadingNumber(text + 3);
    return true;
}

bool ParseSerialCommData(const wchar_t* text, unsigned int& number) {
    if (!text || std::wcslen(text) <= 3 || !StartsWithCom(text) || !IsDigit(text[3])) return false;
    number = LeadingNumber(text + 3);
    return true;
}

CString SerialCommShortName(const wchar_t* name) {
    if (!name) return CString();
    const wchar_t* last = std::wcsrchr(name, L'\\');
    if (!last || last == name || last[1] == L'\0') return CString(name);
    return CString(last + 1);
}
