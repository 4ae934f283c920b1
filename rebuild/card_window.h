// Bytes of the card read through a window on the 32 KiB grid, for walks that
// move forward through a recording a few bytes at a time: each unit is read
// once as long as the walk goes forward, in reads of up to the window's size.
#pragma once

#include "scan/byte_source.h"

#include <algorithm>
#include <cstdint>
#include <vector>

class CardWindowReader
{
public:
    static constexpr std::uint64_t WINDOW = std::uint64_t(4) << 20;

    CardWindowReader(ByteSource &source, std::uint64_t end) : m_source(source), m_end(end), m_buf(WINDOW) {}

    // The `len` bytes at `pos` (len at most WINDOW - UNIT), or null past the
    // end of the source.
    const unsigned char *at(std::uint64_t pos, std::uint64_t len)
    {
        if (len > WINDOW - UNIT || pos > m_end || len > m_end - pos)
            return nullptr;
        if (pos < m_base || pos + len > m_base + m_held) {
            m_base = pos / UNIT * UNIT;
            m_held = std::min<std::uint64_t>(WINDOW, (m_end - m_base + UNIT - 1) / UNIT * UNIT);
            m_unreadable += read_source(m_source, m_base, m_buf.data(), m_held, m_end).unreadable;
        }
        return m_buf.data() + (pos - m_base);
    }

    std::uint64_t unreadable() const { return m_unreadable; }

private:
    ByteSource &m_source;
    std::uint64_t m_end;
    std::vector<unsigned char> m_buf;
    std::uint64_t m_base = 0;
    std::uint64_t m_held = 0;
    std::uint64_t m_unreadable = 0;
};
