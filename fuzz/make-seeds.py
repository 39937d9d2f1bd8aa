#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/: a few inputs per target that
reach each verdict, in the input layout each target reads."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    # Remainder of the bytes divided by x^16 + x^12 + x^5 + 1, no augmentation.
    r = 0
    for byte in data:
        for bit in range(7, -1, -1):
            r = (r << 1) | ((byte >> bit) & 1)
            if r & 0x10000:
                r ^= 0x11021
    return r


def frame(payload, flags=0):
    words = (len(payload) + 4) // 2
    head = bytes([0xA5, 0x5A, ((words >> 8) << 4) | flags, words & 0xFF]) + bytes(payload)
    c = crc16(head)
    return head + bytes([c >> 8, c & 0xFF, 0xFA, 0xAF])


def page_payload(page, index, mode, data):
    return bytes([0xBE, 0x4D]) + struct.pack('<I', page) + bytes([index, mode]) + bytes(data)


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


# receive: capacity (2 bytes, big-endian), then chunks: op, length low byte, bytes.
# op bit 0 tool-info scan, bit 1 wrap in a frame, bit 2 bad CRC, bit 3 zero CRC,
# bit 4 byte-sum page read, bits 6-7 length bits 8-9.
def chunk(op, data):
    assert len(data) < 1024
    return bytes([op | ((len(data) >> 8) << 6), len(data) & 0xFF]) + bytes(data)


CAP = struct.pack('>H', 4000)
TOOL_INFO_FRAME = bytes.fromhex('a55a0003be094156faaf')
KNOWN = [TOOL_INFO_FRAME, bytes.fromhex('a55a0103be097267faaf'),
         bytes.fromhex('a55a0003be71412efaaf'), bytes.fromhex('a55a0004be2b0100847efaaf')]
write('receive', 'known-frames', CAP + chunk(0, b''.join(KNOWN)))
write('receive', 'split-frame', CAP + chunk(0, TOOL_INFO_FRAME[:3]) + chunk(0, TOOL_INFO_FRAME[3:]))
write('receive', 'garbage-then-frame', CAP + chunk(0, bytes([0, 0xA5, 0x13, 0xFA]) + TOOL_INFO_FRAME))
bad = bytearray(TOOL_INFO_FRAME)
bad.insert(8, 0)
write('receive', 'bad-end-marker', CAP + chunk(0, bytes(bad) + TOOL_INFO_FRAME))
write('receive', 'tool-info', CAP + chunk(1, bytes([0xA5] * 3) + b'9012V1.23x') + chunk(1, bytes([0xA5] * 12)))
write('receive', 'wrapped-frames', CAP + chunk(2, b'\xbe\x09') + chunk(6, b'\xbe\x09\x01') + chunk(10, b'\x01\x02'))
write('receive', 'page-read-sum', CAP + chunk(0x12, page_payload(0x100, 0, 0x80, range(256))))
write('receive', 'small-buffer', struct.pack('>H', 12) + chunk(0, TOOL_INFO_FRAME * 3))
long_frame = frame(bytes([0x5C]) * (2 * 2000 - 4))
write('receive', 'long-frame', struct.pack('>H', 4050) +
      b''.join(chunk(0, long_frame[i:i + 1000]) for i in range(0, len(long_frame), 1000)))

# hex_text: mode byte (bit 0 addressed, bit 1 pre-framed, bit 2 text as 16-bit units), then text.
write('hex_text', 'tool-info', b'\x00BE09')
write('hex_text', 'addressed', b'\x01be2b0100')
write('hex_text', 'pre-framed', b'\x02a55a0003be094156faaf')
write('hex_text', 'bad-digit', b'\x0012345x78')
write('hex_text', 'odd-length', b'\x00abc')
write('hex_text', 'wide-units', b'\x04' + 'be4d\u0141a0'.encode('utf-16-le'))
write('hex_text', 'long-text', b'\x00' + b'0123456789abcdefABCDEF' * 48)

# page_runs: run limit (signed byte), then rows of shape byte, first and count (little-endian int32).
# shape bit 0 raw values, bit 1 near the largest page, bit 2 near the smallest.
def rows(limit, *entries):
    out = struct.pack('<b', limit)
    for shape, first, count in entries:
        out += bytes([shape]) + struct.pack('<ii', first, count)
    return out


write('page_runs', 'overlap', rows(64, (1, 10, 3), (1, 12, 4)))
write('page_runs', 'hundred', rows(64, (1, 0, 100)))
write('page_runs', 'gap', rows(64, (1, 5, 1), (1, 7, 1)))
write('page_runs', 'top-end', rows(64, (1, 2**31 - 3, 10), (3, 5, 250)))
write('page_runs', 'too-many', rows(64, (1, 0, 2**31 - 1)))
write('page_runs', 'negative', rows(0, (1, -70, 140), (5, 3, 20), (1, 9, -4)))

# triple_frame: the frame itself.
data = bytes((i * 7 + i // 256) & 0xFF for i in range(768))
write('triple_frame', 'triple-page-100', frame(page_payload(0x100, 9, 0x82, data)))
write('triple_frame', 'triple-780', frame(page_payload(3, 0, 0x02, data[:764])))
write('triple_frame', 'flagged-standard', frame(page_payload(0x100, 0, 0x02, data[:256])))
write('triple_frame', 'standard', frame(page_payload(0x100, 0, 0x80, data[:256])))
write('triple_frame', 'short', bytes.fromhex('a55a0003be4d'))
