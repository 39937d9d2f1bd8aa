#pragma once
// The receive side of the tool link, as steps over a plain byte buffer: the
// robot object's Receive reads from its port into the buffer, then asks these
// functions what the bytes hold and what to drop. Nothing here allocates the
// buffer, logs or touches a port.
//
// Every function treats the buffer as data[0..capacity) and nothing more: a
// null data pointer or a capacity of zero or less is an empty buffer, and a
// count outside 0..capacity is first pulled back into that range (and written
// back). Bytes from count to capacity are kept zero by everything that removes
// bytes, so stale bytes never look like data.
#include <string>
#include <vector>

struct RxBuffer {
    unsigned char* data;  // owned by the caller
    int count;            // bytes held from data[0]
    int capacity;         // size of data
};

enum class ScanStep {
    WaitForMore,  // nothing complete yet: wait for the port
    Accepted,     // a good frame (or tool-info reply) of `length` bytes at data[0]
    CrcError,     // a whole frame of `length` bytes at data[0] that failed its check
    BadSequence,  // no end marker where the length puts it: `length` bytes to dump
};

struct ScanOutcome {
    ScanStep step;
    int length;
};

namespace rx {
constexpr int kMinFrameBytes = 6;    // start marker, length, end marker at the least
constexpr int kToolInfoBytes = 10;   // the unframed answer to BE09
constexpr int kDumpBytesPerLine = 128;
} // namespace rx

// One frame scan. Drops everything when no start marker (A5 5A) begins at
// 0..count-2; otherwise moves the marker to data[0]. Waits while fewer than 6
// bytes or no more than 2N+3 bytes are held. With fewer than 2 bytes it only
// waits, so a lone A5 that may start the next frame is kept.
// Accepted / CrcError: the frame is data[0..2N+4); the caller hands it on (or
// logs the error) and then removes it with DropFront.
// BadSequence: the caller dumps data[0..length) (HexDumpLines) and then calls
// DestroyStartMarker so that the next scan resynchronises.
ScanOutcome ScanForFrame(RxBuffer& rx);

// One scan for the tool-info reply: waits under 10 bytes; otherwise drops
// leading bytes that are not ASCII letters or digits, then accepts 10 bytes
// when data[0] is '9', data[4] 'V' and data[6] '.'. The caller hands them on
// and removes them with DropFront(rx, 10).
ScanOutcome ScanForToolInfo(RxBuffer& rx);

// The check of a whole frame of `length` bytes (length = 2N + 4): a CRC field
// of 00 00 passes unchecked; else the CRC of bytes 0..length-5 must match; else
// a page-read reply (bytes 4-5 BE 4D) with bit 7 of byte 11 set passes on a
// 16-bit byte sum. A frame shorter than 12 bytes has no byte 11 and so no sum
// check. False for null or frames under 6 bytes.
bool FrameIsAcceptable(const unsigned char* frame, int length);

// Removes n bytes (clamped to 0..count) from the front and zero-fills
// data[count..capacity).
void DropFront(RxBuffer& rx, int n);

// Count 0, whole buffer zero-filled.
void DiscardAll(RxBuffer& rx);

// Zeroes bytes 0 and 1 so the next scan no longer sees a start marker there.
void DestroyStartMarker(RxBuffer& rx);

// The dump under "*******Flushing bad sequence": lines of at most 128 bytes,
// two lowercase hex digits per byte, no separators, no line ends.
std::vector<std::string> HexDumpLines(const unsigned char* bytes, int count);

// N, the 12-bit word count of a frame: high nibble of byte 2, then byte 3.
// The frame must hold at least 4 bytes; null gives 0.
int FrameWordCount(const unsigned char* frame);
