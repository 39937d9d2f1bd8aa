#include "protocol/rx_buffer.h"

#include <cstring>

#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "protocol/hex_text.h"

namespace {

// Pulls count back into 0..capacity; false when there is no buffer at all.
bool Normalise(RxBuffer& rx) {
    if (rx.data == nullptr || rx.capacity <= 0) {
        rx.count = 0;
        return false;
    }
    if (rx.count < 0) rx.count = 0;
    if (rx.count > rx.capacity) rx.count = rx.capacity;
    return true;
}

void ZeroTail(RxBuffer& rx) {
    std::memset(rx.data + rx.count, 0, static_cast<size_t>(rx.capacity - rx.count));
}

bool IsStartMarkerAt(const unsigned char* data, int count, int pos) {
    return pos + 1 < count && data[pos] == frame::kStart0 && data[pos + 1] == frame::kStart1;
}

// First start marker at from..count-2, or -1.
int FindStartMarker(const unsigned char* data, int count, int from) {
    for (int i = from; i + 1 < count; ++i)
        if (IsStartMarkerAt(data, count, i)) return i;
    return -1;
}

bool IsAsciiLetterOrDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

uint16_t BigEndianAt(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint16_t ByteSum(const unsigned char* data, int count) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += data[i];
    return static_cast<uint16_t>(sum);
}

constexpr ScanOutcome kWait{ScanStep::WaitForMore, 0};

} // namespace

int FrameWordCount(const unsigned char* frame) {
    if (frame == nullptr) return 0;
    return ((frame[2] >> 4) << 8) | frame[3];
}

bool FrameIsAcceptable(const unsigned char* frame, int length) {
    if (frame == nullptr || length < rx::kMinFrameBytes) return false;
    const int covered = length - 4;
    const unsigned char* field = frame + covered;
    if (field[0] == 0 && field[1] == 0) return true;
    const uint16_t expected = BigEndianAt(field);
    if (CCrc16::Of(frame, static_cast<size_t>(covered)) == expected) return true;
    // Page-read replies may carry a plain byte sum instead, when the request
    // asked for one (bit 7 of the mode byte).
    const bool sumAllowed = length >= 12 && frame[4] == 0xBE && frame[5] == 0x4D && (frame[11] & 0x80) != 0;
    return sumAllowed && ByteSum(frame, covered) == expected;
}

ScanOutcome ScanForFrame(RxBuffer& rx) {
    if (!Normalise(rx) || rx.count < 2) return kWait;

    const int start = FindStartMarker(rx.data, rx.count, 0);
    if (start < 0) {
        DiscardAll(rx);
        return kWait;
    }
    if (start > 0) DropFront(rx, start);
    if (rx.count < rx::kMinFrameBytes) return kWait;

    const int words = FrameWordCount(rx.data);
    const int frameLength = 2 * words + 4;
    if (rx.count <= 2 * words + 3) return kWait;

    if (rx.data[2 * words + 2] != frame::kEnd0 || rx.data[2 * words + 3] != frame::kEnd1) {
        // Dump up to the next start marker past this one, else all but the
        // last byte, which may be the first half of a marker.
        const int next = FindStartMarker(rx.data, rx.count, 2);
        return ScanOutcome{ScanStep::BadSequence, next >= 0 ? next : rx.count - 1};
    }
    const bool good = FrameIsAcceptable(rx.data, frameLength);
    return ScanOutcome{good ? ScanStep::Accepted : ScanStep::CrcError, frameLength};
}

ScanOutcome ScanForToolInfo(RxBuffer& rx) {
    if (!Normalise(rx) || rx.count < rx::kToolInfoBytes) return kWait;

    int skip = 0;
    while (skip < rx.count && !IsAsciiLetterOrDigit(rx.data[skip])) ++skip;
    if (skip > 0) DropFront(rx, skip);

    if (rx.count >= rx::kToolInfoBytes && rx.data[0] == '9' && rx.data[4] == 'V' && rx.data[6] == '.')
        return ScanOutcome{ScanStep::Accepted, rx::kToolInfoBytes};
    return kWait;
}

void DropFront(RxBuffer& rx, int n) {
    if (!Normalise(rx)) return;
    if (n < 0) n = 0;
    if (n > rx.count) n = rx.count;
    if (n > 0) std::memmove(rx.data, rx.data + n, static_cast<size_t>(rx.count - n));
    rx.count -= n;
    ZeroTail(rx);
}

void DiscardAll(RxBuffer& rx) {
    if (!Normalise(rx)) return;
    rx.count = 0;
    ZeroTail(rx);
}

void DestroyStartMarker(RxBuffer& rx) {
    if (!Normalise(rx)) return;
    rx.data[0] = 0;
    if (rx.capacity > 1) rx.data[1] = 0;
}

std::vector<std::string> HexDumpLines(const unsigned char* bytes, int count) {
    std::vector<std::string> lines;
    if (bytes == nullptr) return lines;
    for (int left = count; left > 0; left -= rx::kDumpBytesPerLine) {
        const int n = left < rx::kDumpBytesPerLine ? left : rx::kDumpBytesPerLine;
        lines.push_back(BytesToHexNarrow(bytes + (count - left), static_cast<size_t>(n)));
    }
    return lines;
}
