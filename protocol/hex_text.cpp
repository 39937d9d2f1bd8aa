#include "protocol/hex_text.h"

namespace {

const char kDigits[] = "0123456789abcdef";

int DigitValue(unsigned int c) {
    if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
    for (int i = 0; i < 16; ++i)
        if (static_cast<unsigned int>(kDigits[i]) == c) return i;
    return -1;
}

template <typename Char>
bool Convert(unsigned char* out, const Char* text, size_t len) {
    if (out == nullptr || (text == nullptr && len > 0)) return false;
    for (size_t i = 0; i < len; ++i) {
        const int v = DigitValue(static_cast<unsigned int>(text[i]));
        if (v < 0) return false;
        unsigned char& cell = out[i / 2];
        if (i % 2 == 0)
            cell = static_cast<unsigned char>((cell & 0x0F) | (v << 4));
        else
            cell = static_cast<unsigned char>((cell & 0xF0) | v);
    }
    return true;
}

template <typename String>
String ToHex(const unsigned char* bytes, size_t count) {
    String text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(static_cast<typename String::value_type>(kDigits[bytes[i] >> 4]));
        text.push_back(static_cast<typename String::value_type>(kDigits[bytes[i] & 0x0F]));
    }
    return text;
}

} // namespace

bool HexTextToBytes(unsigned char* out, const wchar_t* text, size_t len) { return Convert(out, text, len); }
bool HexTextToBytes(unsigned char* out, const char* text, size_t len) { return Convert(out, text, len); }

std::wstring BytesToHexText(const unsigned char* bytes, size_t count) {
    return bytes ? ToHex<std::wstring>(bytes, count) : std::wstring();
}
std::string BytesToHexNarrow(const unsigned char* bytes, size_t count) {
    return bytes ? ToHex<std::string>(bytes, count) : std::string();
}
