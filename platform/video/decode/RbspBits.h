#pragma once

#include <cstdint>

namespace video {

// Bits of an H.264 RBSP, zeros past its end as libavcodec's padded reader gives, with its
// Exp-Golomb numbers.
class RbspBits {
public:
    RbspBits(const uint8_t *d, int size) : m_d(d), m_size(size) {}
    int bit()
    {
        const int b = m_at / 8 < m_size ? (m_d[m_at / 8] >> (7 - m_at % 8)) & 1 : 0;
        ++m_at;
        return b;
    }
    uint32_t bits(int n)
    {
        uint32_t v = 0;
        while (n-- > 0)
            v = v << 1 | uint32_t(bit());
        return v;
    }
    // -1 where the code is longer than 32 bits.
    int64_t ue()
    {
        int zeros = 0;
        while (bit() == 0) {
            if (++zeros > 31)
                return -1;
        }
        return int64_t((uint64_t(1) << zeros) - 1 + bits(zeros));
    }
    void se() { ue(); }
    bool over() const { return m_at > m_size * 8; }
    int position() const { return m_at; } // in bits

private:
    const uint8_t *m_d;
    int m_size;
    int m_at = 0;
};

} // namespace video
