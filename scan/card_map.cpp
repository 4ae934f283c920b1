#include "scan/card_map.h"

#include "scan/scan_tables.h"
#include "scan/start_search.h"

#include <algorithm>
#include <cstring>

CardMap card_map;

void CardMap::clear()
{
    std::vector<MapFrame>().swap(m_frames);
    std::vector<MapMoov>().swap(m_moovs);
    std::vector<std::vector<unsigned char>>().swap(m_copies);
    m_copied_bytes = 0;
    m_searched_end = 0;
    m_card_end = false;
    m_frames_dropped = 0;
    m_moovs_dropped = 0;
    m_not_copied = 0;
}

const unsigned char *CardMap::moov_copy(const MapMoov &moov) const
{
    return moov.copy < m_copies.size() && !m_copies[moov.copy].empty() ? m_copies[moov.copy].data() : nullptr;
}

std::uint64_t CardMap::moov_bytes(const MapMoov &moov, ByteSource *source, std::uint64_t end, unsigned char *out) const
{
    if (const unsigned char *copy = moov_copy(moov)) {
        std::memcpy(out, copy, moov.size);
        return 0;
    }
    if (source)
        return read_source(*source, moov.position, out, moov.size, end).unreadable;
    std::memset(out, 0, moov.size);
    return 0;
}

std::pair<std::size_t, std::size_t> CardMap::frames_in(std::uint64_t from, std::uint64_t to) const
{
    auto below = [](const MapFrame &f, std::uint64_t p) { return f.position < p; };
    const auto first = std::lower_bound(m_frames.begin(), m_frames.end(), from, below);
    const auto last = std::lower_bound(first, m_frames.end(), std::max(from, to), below);
    return {std::size_t(first - m_frames.begin()), std::size_t(last - m_frames.begin())};
}

std::pair<std::size_t, std::size_t> CardMap::moovs_in(std::uint64_t from, std::uint64_t to) const
{
    auto below = [](const MapMoov &m, std::uint64_t p) { return m.position < p; };
    const auto first = std::lower_bound(m_moovs.begin(), m_moovs.end(), from, below);
    const auto last = std::lower_bound(first, m_moovs.end(), std::max(from, to), below);
    return {std::size_t(first - m_moovs.begin()), std::size_t(last - m_moovs.begin())};
}

std::size_t CardMap::bytes() const
{
    return m_frames.capacity() * sizeof(MapFrame) + m_moovs.capacity() * sizeof(MapMoov) + m_copied_bytes;
}

CardMapBuilder::CardMapBuilder(CardMap &map, std::uint64_t start) : m_map(map), m_at(start)
{
    m_map.clear();
    m_map.m_searched_end = start;
}

void CardMapBuilder::end_frame(std::uint64_t at)
{
    if (!m_frame_open)
        return;
    MapFrame &last = m_map.m_frames.back();
    const std::uint64_t length = at - last.position;
    last.length = length < FRAME_LENGTH_FAR ? std::uint32_t(length) : FRAME_LENGTH_FAR;
    m_frame_open = false;
}

void CardMapBuilder::on_start(const unsigned char *b, std::uint64_t position, bool frame)
{
    if (frame) {
        end_frame(position);
        if (m_map.m_frames.size() >= m_map.m_ceilings.frames) {
            ++m_map.m_frames_dropped;
            return;
        }
        m_map.m_frames.push_back(MapFrame{position, FRAME_LENGTH_FAR, frame_signature(b)});
        m_frame_open = true;
        return;
    }

    if (m_map.m_moovs.size() >= m_map.m_ceilings.moovs) {
        ++m_map.m_moovs_dropped;
        return;
    }
    const std::uint64_t size = be32(b);
    m_map.m_moovs.push_back(MapMoov{position, size, NO_COPY});
    if (size < MOOV_MIN_SIZE || size > MOOV_BUF_SIZE)
        return;  // no box anyone could use
    end_frame(position);
    if (m_map.m_copied_bytes + size > m_map.m_ceilings.copy_bytes) {
        ++m_map.m_not_copied;
        return;
    }
    m_map.m_moovs.back().copy = std::uint32_t(m_map.m_copies.size());
    m_map.m_copies.emplace_back(size);
    m_map.m_copied_bytes += size;
    m_pending.push_back(PendingCopy{m_map.m_moovs.size() - 1, m_map.m_moovs.back().copy, position, 0});
    carry(m_buf, m_buf_at, m_buf_len);
}

// Carries every pending copy on with the bytes [at, at + len) from `buf`;
// a copy goes on only from the byte where it stopped.
void CardMapBuilder::carry(const unsigned char *buf, std::uint64_t at, std::size_t len)
{
    std::size_t kept = 0;
    for (PendingCopy &c : m_pending) {
        std::vector<unsigned char> &copy = m_map.m_copies[c.copy];
        const std::uint64_t from = c.position + c.done;
        if (from >= at && from < at + len) {
            const std::uint64_t n = std::min<std::uint64_t>(c.position + copy.size(), at + len) - from;
            std::memcpy(copy.data() + c.done, buf + (from - at), n);
            c.done += n;
        }
        if (c.done < copy.size())
            m_pending[kept++] = c;
    }
    m_pending.resize(kept);
}

void CardMapBuilder::feed(const unsigned char *buf, std::size_t len)
{
    auto search = [&](const unsigned char *b, std::uint64_t at, std::size_t positions, std::size_t held) {
        m_buf = b;
        m_buf_at = at;
        m_buf_len = held;
        find_starts(b, positions, [&](std::size_t p, StreamStart kind) {
            on_start(b + p, at + p, kind == StreamStart::Frame);
        });
    };
    if (m_have_seam) {
        // The starts that straddle the boundary with the previous buffer.
        std::memcpy(m_seam + START_SPAN, buf, START_SPAN);
        search(m_seam, m_at - START_SPAN, START_SPAN, sizeof m_seam);
    }
    carry(buf, m_at, len);
    search(buf, m_at, len - START_SPAN, len);
    std::memcpy(m_seam, buf + len - START_SPAN, START_SPAN);
    m_have_seam = true;
    m_at += len;
    m_map.m_searched_end = m_at - START_SPAN;
}

void CardMapBuilder::finish(bool card_end)
{
    m_frame_open = false;
    if (!card_end) {
        for (const PendingCopy &c : m_pending) {
            m_map.m_copied_bytes -= m_map.m_copies[c.copy].size();
            std::vector<unsigned char>().swap(m_map.m_copies[c.copy]);
            m_map.m_moovs[c.moov].copy = NO_COPY;
        }
        m_pending.clear();
        return;
    }
    if (m_have_seam) {
        std::memset(m_seam + START_SPAN, 0, START_SPAN);
        m_buf = m_seam;
        m_buf_at = m_at - START_SPAN;
        m_buf_len = sizeof m_seam;
        find_starts(m_seam, START_SPAN, [&](std::size_t p, StreamStart kind) {
            on_start(m_seam + p, m_buf_at + p, kind == StreamStart::Frame);
        });
    }
    // Copies that ran past the end keep the zeros they were made with.
    m_pending.clear();
    m_frame_open = false;
    m_map.m_searched_end = m_at;
    m_map.m_card_end = true;
}
