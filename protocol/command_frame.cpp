#include "protocol/command_frame.h"

#include <cwchar>

#include "protocol/crc16.h"
#include "protocol/hex_text.h"

namespace {

// Fills frame (already sized n + 8 and zeroed) around the payload at offset 4.
void CloseFrame(std::vector<unsigned char>& f, size_t len, bool addressed) {
    const size_t n = len / 2;
    f[0] = frame::kStart0;
    f[1] = frame::kStart1;
    f[2] = addressed ? 1 : 0;
    // The word count is derived from the text length; it is exact only for
    // texts whose length is a multiple of four digits.
    f[3] = static_cast<unsigned char>((len / 4 + 2) & 0xFF);
    const uint16_t crc = CCrc16::Of(f.data(), 4 + n);
    f[4 + n] = static_cast<unsigned char>(crc >> 8);
    f[5 + n] = static_cast<unsigned char>(crc & 0xFF);
    f[6 + n] = frame::kEnd0;
    f[7 + n] = frame::kEnd1;
}

} // namespace

std::vector<unsigned char> EncodeCommand(const wchar_t* text, size_t len, bool addressed, bool preFramed) {
    if (text == nullptr) len = 0;
    const size_t n = len / 2;
    // One spare byte so that an odd text's last digit has somewhere to go.
    std::vector<unsigned char> buf(n + frame::kOverhead + 1, 0);
    if (preFramed) {
        HexTextToBytes(buf.data(), text, len);
        buf.resize(n);
        return buf;
    }
    HexTextToBytes(buf.data() + 4, text, len);
    buf.resize(n + frame::kOverhead);
    CloseFrame(buf, len, addressed);
    return buf;
}

unsigned char* BuildCommandFrame(const wchar_t* text, size_t* frameSize) {
    if (frameSize) *frameSize = 0;
    if (text == nullptr) return nullptr;
    const size_t len = std::wcslen(text);
    std::vector<unsigned char> probe((len + 1) / 2 + 1, 0);
    if (!HexTextToBytes(probe.data(), text, len)) return nullptr;
    const std::vector<unsigned char> f = EncodeCommand(text, len, false, false);
    unsigned char* out = new unsigned char[f.size()];
    for (size_t i = 0; i < f.size(); ++i) out[i] = f[i];
    if (frameSize) *frameSize = f.size();
    return out;
}
