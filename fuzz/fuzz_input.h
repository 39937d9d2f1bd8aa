#pragma once
// Reads a fuzz input as a little stream of numbers and byte runs; past its end
// every read gives zeros, so each target can take what it needs without checks.
#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    std::vector<uint8_t> Take(size_t n) {
        const size_t left = m_size - (m_at < m_size ? m_at : m_size);
        if (n > left) n = left;
        std::vector<uint8_t> out(m_data + m_at, m_data + m_at + n);
        m_at += n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Take(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// Stops the run with a clear report when an invariant fails.
#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            __builtin_printf("invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            __builtin_trap();                                                       \
        }                                                                           \
    } while (0)
