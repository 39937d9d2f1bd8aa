// Hex text in both widths against a plain reading of the digits, the round
// trip bytes -> text -> bytes, and command frames built from any text: the
// output buffer is exactly the documented size, so any write past it trips.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "protocol/hex_text.h"
#include "protocol/rx_buffer.h"

namespace {

enum Mode : uint8_t { kAddressed = 0x01, kPreFramed = 0x02, kWideUnits = 0x04 };

int Digit(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Converts with an exactly sized output and checks against Digit.
template <typename Char>
void CheckConversion(const std::basic_string<Char>& text) {
    const size_t len = text.size();
    const size_t room = (len + 1) / 2;
    std::unique_ptr<unsigned char[]> out(new unsigned char[room == 0 ? 1 : room]());
    const bool ok = HexTextToBytes(out.get(), text.data(), len);

    size_t good = 0;
    while (good < len && Digit(static_cast<uint32_t>(text[good])) >= 0) ++good;
    FUZZ_CHECK(ok == (good == len));
    for (size_t i = 0; i + 1 < good; i += 2) {
        const int value = Digit(static_cast<uint32_t>(text[i])) * 16 + Digit(static_cast<uint32_t>(text[i + 1]));
        FUZZ_CHECK(out[i / 2] == value);
    }
    if (ok) {
        std::string lower;
        for (size_t i = 0; i < len / 2 * 2; ++i) lower.push_back("0123456789abcdef"[Digit(static_cast<uint32_t>(text[i]))]);
        FUZZ_CHECK(BytesToHexNarrow(out.get(), len / 2) == lower);
    }
}

void CheckRoundTrip(const std::vector<uint8_t>& bytes) {
    const std::wstring wide = BytesToHexText(bytes.data(), bytes.size());
    const std::string narrow = BytesToHexNarrow(bytes.data(), bytes.size());
    FUZZ_CHECK(wide.size() == 2 * bytes.size() && narrow.size() == wide.size());
    std::unique_ptr<unsigned char[]> back(new unsigned char[bytes.size() + 1]);
    FUZZ_CHECK(HexTextToBytes(back.get(), wide.c_str(), wide.size()));
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), back.get()));
    FUZZ_CHECK(HexTextToBytes(back.get(), narrow.c_str(), narrow.size()));
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), back.get()));
}

void CheckCommandFrame(const std::wstring& text, uint8_t mode) {
    const size_t len = text.size();
    const size_t n = len / 2;
    const bool preFramed = (mode & kPreFramed) != 0;
    const std::vector<unsigned char> f = EncodeCommand(text.c_str(), len, (mode & kAddressed) != 0, preFramed);
    if (preFramed) {
        FUZZ_CHECK(f.size() == n);
        return;
    }
    FUZZ_CHECK(f.size() == n + 8);
    FUZZ_CHECK(f[0] == 0xA5 && f[1] == 0x5A && f[n + 6] == 0xFA && f[n + 7] == 0xAF);
    FUZZ_CHECK(f[2] == ((mode & kAddressed) ? 1 : 0));
    FUZZ_CHECK(f[3] == static_cast<unsigned char>(len / 4 + 2));
    FUZZ_CHECK(CCrc16::Of(f.data(), n + 4) == ((f[n + 4] << 8) | f[n + 5]));
    FUZZ_CHECK(FrameIsAcceptable(f.data(), static_cast<int>(f.size())));

    // BuildCommandFrame reads up to the first NUL and refuses any bad digit.
    const std::wstring upToNul(text.c_str());
    size_t size = 0;
    std::unique_ptr<unsigned char[]> built(BuildCommandFrame(text.c_str(), &size));
    bool allDigits = true;
    for (wchar_t c : upToNul) allDigits = allDigits && Digit(static_cast<uint32_t>(c)) >= 0;
    FUZZ_CHECK((built != nullptr) == allDigits);
    if (built) {
        const std::vector<unsigned char> plain = EncodeCommand(upToNul.c_str(), upToNul.size(), false, false);
        FUZZ_CHECK(size == plain.size() && std::equal(plain.begin(), plain.end(), built.get()));
    } else {
        FUZZ_CHECK(size == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    const std::vector<uint8_t> rest = in.Rest();

    std::string narrow(rest.begin(), rest.end());
    std::wstring wide;
    if (mode & kWideUnits) {
        for (size_t i = 0; i + 1 < rest.size(); i += 2) wide.push_back(static_cast<wchar_t>(rest[i] | (rest[i + 1] << 8)));
    } else {
        for (uint8_t c : rest) wide.push_back(static_cast<wchar_t>(c));
    }

    CheckConversion(narrow);
    CheckConversion(wide);
    CheckRoundTrip(rest);
    CheckCommandFrame(wide, mode);
    return 0;
}
