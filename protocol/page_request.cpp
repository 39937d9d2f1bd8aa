#include "protocol/page_request.h"

namespace {

// printf's "%0.2x": lowercase, at least two digits, more when the value needs them.
void AppendHex(std::wstring& text, uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    wchar_t digits[8];
    int n = 0;
    do {
        digits[n++] = kDigits[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    if (n < 2) digits[n++] = L'0';
    while (n > 0) text.push_back(digits[--n]);
}

void AppendPageFields(std::wstring& text, int32_t firstPage, uint32_t pageCount, unsigned rateByte) {
    const uint32_t first = static_cast<uint32_t>(firstPage);
    for (int shift = 0; shift < 32; shift += 8) AppendHex(text, (first >> shift) & 0xFF);
    AppendHex(text, pageCount);
    AppendHex(text, rateByte);
}

} // namespace

uint32_t CapPageCount(int32_t pageCount) {
    const uint32_t count = static_cast<uint32_t>(pageCount);
    return count >= pagerequest::kMaxPagesPerRequest ? pagerequest::kMaxPagesPerRequest : count;
}

std::wstring BuildPageReadText(int32_t firstPage, uint32_t pageCount, unsigned rateByte, const wchar_t* address) {
    std::wstring text = L"BE4D";
    if (address != nullptr) {
        uint16_t cells[pagerequest::kAddressCells] = {};
        for (int i = 0; i < pagerequest::kAddressCells && address[i] != 0; ++i)
            cells[i] = static_cast<uint16_t>(address[i]);
        for (int i = 0; i < pagerequest::kAddressCells - 1; ++i) AppendHex(text, cells[i]);
        text += L"00";
    }
    AppendPageFields(text, firstPage, pageCount, rateByte);
    return text;
}
