#include "rebuild/bit_reader.h"

bool BitReader::next_byte()
{
    if (m_next < m_size && m_zeros >= 2 && m_data[m_next] == 0x03) {
        ++m_next;
        m_zeros = 0;
    }
    if (m_next >= m_size) {
        m_failed = true;
        return false;
    }
    m_byte = m_data[m_next++];
    m_zeros = m_byte == 0 ? m_zeros + 1 : 0;
    m_left = 8;
    return true;
}

unsigned BitReader::bit()
{
    if (m_failed || (m_left == 0 && !next_byte()))
        return 0;
    --m_left;
    return (m_byte >> m_left) & 1u;
}

std::uint32_t BitReader::u(unsigned n)
{
    if (n > 32)
        m_failed = true;
    if (m_failed)
        return 0;
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (m_left == 0 && !next_byte())
            return 0;
        // A whole byte at once where the value allows it.
        if (m_left == 8 && n - i >= 8) {
            v = (v << 8) | m_byte;
            m_left = 0;
            i += 7;
            continue;
        }
        --m_left;
        v = (v << 1) | ((m_byte >> m_left) & 1u);
    }
    return m_failed ? 0 : v;
}

std::uint32_t BitReader::ue()
{
    unsigned zeros = 0;
    while (bit() == 0) {
        if (m_failed || ++zeros > 31) {
            m_failed = true;
            return 0;
        }
    }
    if (zeros == 0)
        return 0;
    // 2^zeros - 1 + the suffix stays below 2^32 for zeros up to 31.
    const std::uint32_t suffix = u(zeros);
    return m_failed ? 0 : (std::uint32_t(1) << zeros) - 1 + suffix;
}

std::int32_t BitReader::se()
{
    const std::uint32_t k = ue();
    // ue() stays below 2^32 - 1, so both halves fit an int32.
    return (k & 1u) ? std::int32_t((k >> 1) + 1) : -std::int32_t(k >> 1);
}

void BitReader::skip(std::uint64_t n)
{
    while (n > 0 && !m_failed) {
        const unsigned step = n > 32 ? 32 : unsigned(n);
        u(step);
        n -= step;
    }
}
