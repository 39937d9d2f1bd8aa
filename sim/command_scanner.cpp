#include "sim/command_scanner.h"

#include "protocol/crc16.h"

namespace vxsim {

namespace {
constexpr uint8_t kStart0 = 0xA5;
constexpr uint8_t kStart1 = 0x5A;
constexpr uint8_t kEnd0 = 0xFA;
constexpr uint8_t kEnd1 = 0xAF;
} // namespace

void CommandScanner::Reset() {
    m_buffer.clear();
}

void CommandScanner::Feed(const uint8_t* data, size_t count, int64_t nowMs, std::vector<CommandFrame>& out) {
    if (!m_buffer.empty() && nowMs - m_lastByteMs > kStaleFrameMs && m_buffer.size() >= 2 &&
        m_buffer[0] == kStart0 && m_buffer[1] == kStart1) {
        // The rest of this frame never came: forget its start marker.
        m_buffer.erase(m_buffer.begin());
    }
    if (data != nullptr && count > 0) {
        m_buffer.insert(m_buffer.end(), data, data + count);
        m_lastByteMs = nowMs;
    }
    Scan(out);
}

void CommandScanner::Scan(std::vector<CommandFrame>& out) {
    for (;;) {
        size_t start = 0;
        while (start + 1 < m_buffer.size() && !(m_buffer[start] == kStart0 && m_buffer[start + 1] == kStart1)) ++start;
        if (start + 1 >= m_buffer.size()) {
            // No marker: keep only a last 0xA5 that may begin one.
            const bool keepLast = !m_buffer.empty() && m_buffer.back() == kStart0;
            m_buffer.erase(m_buffer.begin(), m_buffer.end() - (keepLast ? 1 : 0));
            return;
        }
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(start));
        if (m_buffer.size() < 4) return;

        const size_t words = (static_cast<size_t>(m_buffer[2] >> 4) << 8) | m_buffer[3];
        const size_t size = 2 * words + 4;
        if (words < 2) {
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        if (m_buffer.size() < size) return;
        if (m_buffer[2 * words + 2] != kEnd0 || m_buffer[2 * words + 3] != kEnd1) {
            // The length does not lead to an end marker: resynchronise on the
            // next start marker after this one.
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        const uint16_t crc = CCrc16::Of(m_buffer.data(), 2 * words);
        const uint16_t field = static_cast<uint16_t>((m_buffer[2 * words] << 8) | m_buffer[2 * words + 1]);
        if (crc == field) {
            CommandFrame frame;
            frame.addressed = (m_buffer[2] & 0x01) != 0;
            frame.payload.assign(m_buffer.begin() + 4, m_buffer.begin() + static_cast<std::ptrdiff_t>(2 * words));
            out.push_back(std::move(frame));
        } else {
            ++m_badCrc;
        }
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(size));
    }
}

} // namespace vxsim
