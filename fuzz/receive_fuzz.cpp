// The receive loop of the robot object over random reads: bytes arrive in
// chunks, each followed by scans until the buffer says to wait. Some chunks
// are wrapped into real frames (good, corrupted, zero-CRC or byte-sum page
// reads) so that every verdict is reached. The buffer is an exactly sized
// heap block, and every scan is repeated on a twin whose unused tail holds
// marker-like junk: the verdict must depend only on the bytes held.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "protocol/crc16.h"
#include "protocol/hex_text.h"
#include "protocol/rx_buffer.h"

namespace {

enum Op : uint8_t {
    kToolInfoMode = 0x01,
    kWrapInFrame = 0x02,
    kCorruptCrc = 0x04,
    kZeroCrc = 0x08,
    kByteSumPageRead = 0x10,
};

std::vector<uint8_t> WrapInFrame(std::vector<uint8_t> payload, uint8_t op) {
    if (payload.size() % 2) payload.push_back(0);
    if (payload.size() > 2 * 4095 - 4) payload.resize(2 * 4095 - 4);
    const bool pageRead = (op & kByteSumPageRead) && payload.size() >= 8;
    if (pageRead) {
        payload[0] = 0xBE;
        payload[1] = 0x4D;
        payload[7] |= 0x80;
    }
    const size_t words = (payload.size() + 4) / 2;
    std::vector<uint8_t> f = {0xA5, 0x5A, static_cast<uint8_t>((words >> 8) << 4), static_cast<uint8_t>(words)};
    f.insert(f.end(), payload.begin(), payload.end());
    uint16_t check = CCrc16::Of(f.data(), f.size());
    if (pageRead) {
        unsigned sum = 0;
        for (uint8_t b : f) sum += b;
        check = static_cast<uint16_t>(sum);
    }
    if (op & kCorruptCrc) check ^= 0x0101;
    if (op & kZeroCrc) check = 0;
    f.push_back(static_cast<uint8_t>(check >> 8));
    f.push_back(static_cast<uint8_t>(check));
    f.push_back(0xFA);
    f.push_back(0xAF);
    return f;
}

// Each read costs a few passes over the buffer; more reads add nothing new.
constexpr int kMaxReads = 256;

bool TailIsZero(const RxBuffer& rx) {
    for (int i = rx.count; i < rx.capacity; ++i)
        if (rx.data[i] != 0) return false;
    return true;
}

bool IsLetterOrDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool StartsWithMarker(const RxBuffer& rx) { return rx.count >= 2 && rx.data[0] == 0xA5 && rx.data[1] == 0x5A; }

ScanOutcome Scan(RxBuffer& rx, bool toolInfo) { return toolInfo ? ScanForToolInfo(rx) : ScanForFrame(rx); }

// The same scan on a copy whose bytes past count are junk must agree.
void CheckTwinAgrees(const RxBuffer& before, const RxBuffer& after, ScanOutcome outcome, bool toolInfo) {
    std::unique_ptr<unsigned char[]> twin(new unsigned char[before.capacity]);
    std::memcpy(twin.get(), before.data, static_cast<size_t>(before.capacity));
    for (int i = before.count; i < before.capacity; ++i) twin[i] = (i % 2) ? 0x5A : 0xA5;
    RxBuffer rx{twin.get(), before.count, before.capacity};
    const ScanOutcome again = Scan(rx, toolInfo);
    FUZZ_CHECK(again.step == outcome.step && again.length == outcome.length);
    FUZZ_CHECK(rx.count == after.count);
    FUZZ_CHECK(std::memcmp(rx.data, after.data, static_cast<size_t>(rx.count)) == 0);
}

void CheckFrame(const RxBuffer& rx, ScanOutcome out) {
    FUZZ_CHECK(StartsWithMarker(rx));
    FUZZ_CHECK(out.length == 2 * FrameWordCount(rx.data) + 4);
    FUZZ_CHECK(out.length >= rx::kMinFrameBytes && out.length <= rx.count);
    FUZZ_CHECK(rx.data[out.length - 2] == 0xFA && rx.data[out.length - 1] == 0xAF);
    // Checked again from an exact copy: the check must not look past the frame.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[out.length]);
    std::memcpy(exact.get(), rx.data, static_cast<size_t>(out.length));
    FUZZ_CHECK(FrameIsAcceptable(exact.get(), out.length) == (out.step == ScanStep::Accepted));
}

void CheckDump(const RxBuffer& rx, int length) {
    const std::vector<std::string> lines = HexDumpLines(rx.data, length);
    FUZZ_CHECK(lines.size() == static_cast<size_t>((length + 127) / 128));
    std::string all;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.size() <= 256 && line.size() % 2 == 0);
        all += line;
    }
    FUZZ_CHECK(all == BytesToHexNarrow(rx.data, static_cast<size_t>(length)));
}

// One call of Receive after a read: true while it would be called again.
bool ScanOnce(RxBuffer& rx, bool toolInfo) {
    std::unique_ptr<unsigned char[]> before(new unsigned char[rx.capacity]);
    std::memcpy(before.get(), rx.data, static_cast<size_t>(rx.capacity));
    const RxBuffer snapshot{before.get(), rx.count, rx.capacity};

    const ScanOutcome out = Scan(rx, toolInfo);
    FUZZ_CHECK(rx.count >= 0 && rx.count <= snapshot.count && rx.count <= rx.capacity);
    CheckTwinAgrees(snapshot, rx, out, toolInfo);

    switch (out.step) {
    case ScanStep::WaitForMore:
        if (toolInfo) {
            if (snapshot.count < rx::kToolInfoBytes) FUZZ_CHECK(rx.count == snapshot.count);
            else FUZZ_CHECK(rx.count == 0 || IsLetterOrDigit(rx.data[0]));
        } else if (snapshot.count >= 2) {
            FUZZ_CHECK(rx.count == 0 || StartsWithMarker(rx));
            if (rx.count >= rx::kMinFrameBytes) FUZZ_CHECK(rx.count <= 2 * FrameWordCount(rx.data) + 3);
        } else {
            FUZZ_CHECK(rx.count == snapshot.count);
        }
        FUZZ_CHECK(TailIsZero(rx));
        return false;
    case ScanStep::Accepted:
        if (toolInfo) {
            FUZZ_CHECK(out.length == rx::kToolInfoBytes && rx.count >= out.length);
            FUZZ_CHECK(rx.data[0] == '9' && rx.data[4] == 'V' && rx.data[6] == '.');
        } else {
            CheckFrame(rx, out);
        }
        break;
    case ScanStep::CrcError:
        FUZZ_CHECK(!toolInfo);
        CheckFrame(rx, out);
        break;
    case ScanStep::BadSequence:
        FUZZ_CHECK(!toolInfo && StartsWithMarker(rx));
        FUZZ_CHECK(out.length >= 1 && out.length <= rx.count - 1);
        FUZZ_CHECK(out.length == rx.count - 1 || (rx.data[out.length] == 0xA5 && rx.data[out.length + 1] == 0x5A));
        CheckDump(rx, out.length);
        DestroyStartMarker(rx);
        FUZZ_CHECK(rx.data[0] == 0 && rx.data[1] == 0);
        return false;
    }
    const int held = rx.count;
    DropFront(rx, out.length);
    FUZZ_CHECK(rx.count == held - out.length);
    FUZZ_CHECK(TailIsZero(rx));
    return rx.count > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // Room for frames of up to 2000 words; the longest (4095) is a unit test.
    const int capacity = 2 + static_cast<int>(((in.Byte() << 8) | in.Byte()) % 4100);
    std::unique_ptr<unsigned char[]> storage(new unsigned char[capacity]());
    RxBuffer rx{storage.get(), 0, capacity};

    for (int reads = 0; reads < kMaxReads && !in.Empty(); ++reads) {
        const uint8_t op = in.Byte();
        const size_t length = in.Byte() | ((op & 0xC0u) << 2);
        std::vector<uint8_t> chunk = in.Take(length);
        if (op & kWrapInFrame) chunk = WrapInFrame(chunk, op);

        // An overflowing read first drops what is held, as Receive does.
        if (rx.count + static_cast<int>(chunk.size()) > rx.capacity) DiscardAll(rx);
        const int take = std::min(static_cast<int>(chunk.size()), rx.capacity - rx.count);
        if (take > 0) std::memcpy(rx.data + rx.count, chunk.data(), static_cast<size_t>(take));
        rx.count += take;

        if (rx.count < 2) continue;
        int calls = 0;
        while (ScanOnce(rx, (op & kToolInfoMode) != 0)) FUZZ_CHECK(++calls <= capacity);
    }
    return 0;
}
