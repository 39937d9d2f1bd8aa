#pragma once
// Hex text <-> bytes, as command texts are held ("BE09" = 0xBE 0x09).
#include <cstddef>
#include <string>

// Converts len hex digits (either case) into out, two digits per byte, high
// nibble first. Stops at the first character that is not a hex digit and
// returns false, keeping what was converted. An odd length leaves the last
// digit in the high nibble of one extra byte. out must hold (len + 1) / 2 bytes.
bool HexTextToBytes(unsigned char* out, const wchar_t* text, size_t len);
bool HexTextToBytes(unsigned char* out, const char* text, size_t len);

// Two lowercase hex digits per byte, no separators.
std::wstring BytesToHexText(const unsigned char* bytes, size_t count);
std::string BytesToHexNarrow(const unsigned char* bytes, size_t count);
