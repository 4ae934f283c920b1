#include "scan/jpeg_walk.h"

#include "scan/mpf_index.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, APP2 = 0xE2, TEM = 0x01;

bool is_restart(int m) { return m >= 0xD0 && m <= 0xD7; }

bool is_frame_header(int m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Markers followed by a two-byte length: SOFn, DHT, DAC, JPG (C0-CF), SOS,
// DQT, DNL, DRI, DHP, EXP (DA-DF), APPn (E0-EF), JPGn (F0-FD), COM (FE).
bool has_length(int m) { return (m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xFE); }

// The head as given, the rest read from the source one piece at a time.
class HeadAndPieces : public JpegBytes
{
public:
    HeadAndPieces(ByteSource &source, std::uint64_t end, std::uint64_t position, const unsigned char *head,
                  std::uint64_t head_len, std::uint64_t step, std::uint64_t limit)
        : m_source(source), m_end(end), m_position(position), m_head(head), m_head_len(head_len),
          m_step(std::max<std::uint64_t>(step, 1)), m_limit(limit)
    {
    }

    std::uint64_t limit() const override { return m_limit; }

    const unsigned char *span(std::uint64_t at, std::uint64_t *count) override
    {
        *count = 0;
        if (at >= m_limit)
            return nullptr;
        if (at < m_head_len) {
            *count = std::min(m_head_len, m_limit) - at;
            return m_head + at;
        }
        const std::uint64_t from = m_head_len + (at - m_head_len) / m_step * m_step;
        if (!m_loaded || from != m_piece_from) {
            // Nothing past the limit is asked for, so no read reaches past
            // the source's end.
            const std::uint64_t len = std::min(m_step, m_limit - from);
            m_piece.resize(m_step);
            m_unreadable += read_source(m_source, m_position + from, m_piece.data(), len, m_end).unreadable;
            m_piece_from = from;
            m_loaded = true;
        }
        *count = std::min(from + m_step, m_limit) - at;
        return m_piece.data() + (at - from);
    }

    std::uint64_t unreadable() const { return m_unreadable; }

private:
    ByteSource &m_source;
    std::uint64_t m_end, m_position;
    const unsigned char *m_head;
    std::uint64_t m_head_len, m_step, m_limit;
    std::vector<unsigned char> m_piece;
    std::uint64_t m_piece_from = 0;
    bool m_loaded = false;
    std::uint64_t m_unreadable = 0;
};

// A frame header lists 3 bytes per component, a scan header 2 for each of
// its 1 to 4 components: a length that does not fit them lies.
bool header_fits(JpegBytes &bytes, int m, std::uint64_t pos, std::uint64_t length)
{
    if (is_frame_header(m)) {
        const int components = length >= 8 ? bytes.at(pos + 7) : -1;
        return components >= 1 && length == 8 + 3 * std::uint64_t(components);
    }
    if (m == SOS) {
        const int components = length >= 3 ? bytes.at(pos + 2) : -1;
        return components >= 1 && components <= 4 && length == 6 + 2 * std::uint64_t(components);
    }
    return true;
}

// The marker whose FF is at `pos`, after any fill bytes; `pos` moves past
// its code. -1 when `pos` holds no marker.
int marker_at(JpegBytes &bytes, std::uint64_t &pos)
{
    if (bytes.at(pos) != 0xFF)
        return -1;
    int m;
    do
        m = bytes.at(++pos);
    while (m == 0xFF);
    ++pos;
    return m;
}

// The first marker in the compressed data from `pos` that ends it: not a
// stuffed FF 00, not a restart marker; `pos` moves past its code. -1 when
// the data runs to the limit.
int marker_after_scan(JpegBytes &bytes, std::uint64_t &pos)
{
    for (;;) {
        std::uint64_t count;
        const unsigned char *p = bytes.span(pos, &count);
        if (!count)
            return -1;
        const void *ff = std::memchr(p, 0xFF, count);
        if (!ff) {
            pos += count;
            continue;
        }
        pos += static_cast<std::uint64_t>(static_cast<const unsigned char *>(ff) - p);
        const int m = marker_at(bytes, pos);
        if (m < 0)
            return -1;
        if (m != 0x00 && !is_restart(m))
            return m;
    }
}

}  // namespace

const unsigned char *JpegBytes::together(std::uint64_t at, std::uint64_t n)
{
    std::uint64_t count;
    const unsigned char *p = span(at, &count);
    return count >= n ? p : nullptr;
}

int JpegBytes::at(std::uint64_t at)
{
    std::uint64_t count;
    const unsigned char *p = span(at, &count);
    return count ? *p : -1;
}

JpegWalk walk_jpeg(JpegBytes &bytes, std::uint64_t index_reach)
{
    JpegWalk walk;
    const std::uint64_t limit = bytes.limit();
    const std::uint64_t reach = std::min(index_reach, limit);
    const auto finish = [&](bool complete, std::uint64_t image_end) {
        walk.complete = complete;
        walk.image_end = complete ? image_end : 0;
        return walk;
    };
    // A listed image counts when it lies within reach and looks like one.
    const auto listed = [&](const MpfImage &image) {
        if (image.end - image.start < 4 || image.end > reach || image.end <= walk.listed_end)
            return;
        if (bytes.at(image.start) == 0xFF && bytes.at(image.start + 1) == SOI && bytes.at(image.end - 2) == 0xFF
            && bytes.at(image.end - 1) == EOI)
            walk.listed_end = image.end;
    };

    if (bytes.at(0) != 0xFF || bytes.at(1) != SOI)
        return finish(false, 0);
    std::uint64_t pos = 2;
    bool frame = false, scanned = false;
    int m = marker_at(bytes, pos);
    for (;;) {
        if (m == EOI)
            return finish(scanned, pos);
        if (m == TEM) {
            m = marker_at(bytes, pos);
            continue;
        }
        if (!has_length(m))
            return finish(false, 0);
        const int hi = bytes.at(pos), lo = bytes.at(pos + 1);
        if (hi < 0 || lo < 0)
            return finish(false, 0);
        const std::uint64_t length = static_cast<std::uint64_t>(hi << 8 | lo);
        if (length < 2 || length > limit - pos)
            return finish(false, 0);
        if (!header_fits(bytes, m, pos, length) || (m == SOS && !frame))
            return finish(false, 0);
        frame = frame || is_frame_header(m);
        if (m == APP2 && length >= 6 && pos + length <= reach) {
            const unsigned char *payload = bytes.together(pos + 2, length - 2);
            if (payload && std::memcmp(payload, "MPF\0", 4) == 0)
                mpf_listed_images(payload + 4, length - 6, pos + 6, listed);
        }
        pos += length;
        if (m == SOS) {
            scanned = true;
            m = marker_after_scan(bytes, pos);
        } else {
            m = marker_at(bytes, pos);
        }
    }
}

JpegWalk walk_jpeg(ByteSource &source, std::uint64_t end, std::uint64_t position, const unsigned char *head,
                   std::uint64_t head_len, std::uint64_t step, std::uint64_t most)
{
    const std::uint64_t limit = position < end ? std::min(most, end - position) : 0;
    HeadAndPieces bytes(source, end, position, head, head_len, step, limit);
    JpegWalk walk = walk_jpeg(bytes, head_len);
    walk.unreadable = bytes.unreadable();
    return walk;
}
