// Bytes of the card read forward through a window on the 32 KiB grid, for
// walks that look at a few bytes here and there: each unit is read once as
// long as the walk goes forward. Counts what it reads. The buffer comes with
// the first read, so that an unused window costs nothing.
#pragma once

#include "scan/byte_source.h"

#include <algorithm>
#include <cstdint>
#include <vector>

class CountedWindow
{
public:
    static constexpr std::uint64_t SPAN = std::uint64_t(1) << 20;

    // `read` and `unreadable` are added to as the window reads. A window
    // spans `span` bytes (a multiple of UNIT).
    CountedWindow(ByteSource &source, std::uint64_t end, std::uint64_t *read, std::uint64_t *unreadable,
                  std::uint64_t span = SPAN)
        : m_source(source), m_end(end), m_read(read), m_unreadable(unreadable), m_span(span)
    {
    }

    // The `len` bytes at `pos` (len at most the span less UNIT), or null
    // past the end of the source.
    const unsigned char *at(std::uint64_t pos, std::uint64_t len)
    {
        if (len > m_span - UNIT || pos > m_end || len > m_end - pos)
            return nullptr;
        if (pos < m_base || pos + len > m_base + m_held) {
            m_buf.resize(m_span);
            m_base = pos / UNIT * UNIT;
            m_held = std::min<std::uint64_t>(m_span, (m_end - m_base + UNIT - 1) / UNIT * UNIT);
            *m_unreadable += read_source(m_source, m_base, m_buf.data(), m_held, m_end).unreadable;
            *m_read += m_held;
        }
        return m_buf.data() + (pos - m_base);
    }

private:
    ByteSource &m_source;
    std::uint64_t m_end;
    std::uint64_t *m_read;
    std::uint64_t *m_unreadable;
    std::uint64_t m_span;
    std::vector<unsigned char> m_buf;
    std::uint64_t m_base = 0;
    std::uint64_t m_held = 0;
};
