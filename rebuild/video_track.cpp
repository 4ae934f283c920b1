#include "rebuild/video_track.h"

#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstring>

namespace {

// One box inside [begin, end): its type, its payload and the next box.
struct Box {
    const unsigned char *at;
    std::uint64_t size;
    bool is(const char *type) const { return std::memcmp(at + 4, type, 4) == 0; }
    const unsigned char *payload() const { return at + 8; }
    std::uint64_t payload_size() const { return size - 8; }
};

// Calls on_box for each child of the box payload [begin, begin + len) until
// it returns true; a child whose size is below its header or above what is
// left ends the walk. Size 0 (to the end) and 64-bit sizes are not used
// inside a moov box and end it too.
template <typename OnBox>
bool each_child(const unsigned char *begin, std::uint64_t len, OnBox &&on_box)
{
    std::uint64_t at = 0;
    while (len - at >= 8) {
        const std::uint64_t size = be32(begin + at);
        if (size < 8 || size > len - at)
            return false;
        if (on_box(Box{begin + at, size}))
            return true;
        at += size;
    }
    return false;
}

// The first child of the given type, or a box of size 0 (which has no
// children either).
Box child(const Box &parent, const char *type)
{
    Box found{parent.at, 0};
    if (parent.size < 8)
        return found;
    each_child(parent.payload(), parent.payload_size(), [&](const Box &b) {
        if (!b.is(type))
            return false;
        found = b;
        return true;
    });
    return found;
}

bool is_video_trak(const Box &trak)
{
    const Box hdlr = child(child(trak, "mdia"), "hdlr");
    // Version and flags, pre_defined, then the handler type.
    return hdlr.size >= 8 + 12 && std::memcmp(hdlr.payload() + 8, "vide", 4) == 0;
}

}  // namespace

VideoTrack VideoTrack::parse(const unsigned char *moov, std::uint64_t size)
{
    VideoTrack track;
    track.m_chunks = find_chunk_table(moov, size);
    if (!moov || size < 8)
        return track;
    const Box root{moov, std::min<std::uint64_t>(be32(moov), size)};
    if (root.size < 8)
        return track;
    Box stbl{moov, 0};
    each_child(root.payload(), root.payload_size(), [&](const Box &b) {
        if (!b.is("trak") || !is_video_trak(b))
            return false;
        stbl = child(child(child(b, "mdia"), "minf"), "stbl");
        return true;
    });
    if (stbl.size == 0)
        return track;
    Box offsets = child(stbl, "stco");
    if (offsets.size == 0)
        offsets = child(stbl, "co64");
    if (offsets.size == 0)
        return track;
    track.m_chunks = read_chunk_table(offsets.at, offsets.size);

    const Box stsd = child(stbl, "stsd");
    if (stsd.size != 0)
        track.read_sample_entry(stsd.at, stsd.size);

    const Box stsc = child(stbl, "stsc");
    const Box stsz = child(stbl, "stsz");
    // stsz: version and flags, uniform size, count, then one size each.
    if (stsc.size < 16 || stsz.size < 20)
        return track;
    track.m_uniform_size = be32(stsz.at + 12);
    track.m_sample_count = be32(stsz.at + 16);
    if (track.m_uniform_size == 0) {
        track.m_sizes = stsz.at + 20;
        track.m_sample_count = std::min<std::uint64_t>(track.m_sample_count, (stsz.size - 20) / 4);
    }
    // stsc: version and flags, count, then (first chunk, samples per chunk,
    // description) from chunk 1 on, first chunks increasing.
    const std::uint64_t runs = std::min<std::uint64_t>(be32(stsc.at + 12), (stsc.size - 16) / 12);
    std::uint64_t sample = 0;
    for (std::uint64_t r = 0; r < runs; ++r) {
        const unsigned char *e = stsc.at + 16 + 12 * r;
        const std::uint32_t first_chunk = be32(e), per_chunk = be32(e + 4);
        if (first_chunk == 0 || (r == 0 && first_chunk != 1))
            return track;
        const std::uint32_t chunk = first_chunk - 1;
        if (!track.m_runs.empty()) {
            const Run &prev = track.m_runs.back();
            if (chunk <= prev.chunk)
                return track;
            sample += std::uint64_t(chunk - prev.chunk) * prev.per_chunk;
        }
        if (sample > 0xFFFFFFFFu || per_chunk == 0) {
            track.m_known_chunks = chunk;  // from here on the tables tell nothing
            break;
        }
        track.m_runs.push_back(Run{chunk, std::uint32_t(sample), per_chunk});
    }
    track.m_has_samples = !track.m_runs.empty();
    return track;
}

bool VideoTrack::chunk_samples(std::uint32_t j, std::uint32_t *first, std::uint32_t *count) const
{
    if (!m_has_samples || j >= m_known_chunks)
        return false;
    // The last run that begins at or before chunk j.
    const auto it = std::upper_bound(m_runs.begin(), m_runs.end(), j,
                                     [](std::uint32_t c, const Run &r) { return c < r.chunk; });
    const Run &run = *(it - 1);
    const std::uint64_t at = run.sample + std::uint64_t(j - run.chunk) * run.per_chunk;
    if (at + run.per_chunk > m_sample_count)
        return false;
    *first = std::uint32_t(at);
    *count = run.per_chunk;
    return true;
}

std::uint32_t VideoTrack::sample_size(std::uint32_t i) const
{
    if (i >= m_sample_count)
        return 0;
    return m_uniform_size != 0 ? m_uniform_size : be32(m_sizes + std::uint64_t(i) * 4);
}

void VideoTrack::read_sample_entry(const unsigned char *stsd, std::uint64_t size)
{
    // stsd: header, version and flags, entry count; the first entry's
    // visual fields take 78 bytes after its own header, then its boxes.
    constexpr std::uint64_t ENTRY_AT = 16, BOXES_IN_ENTRY = 8 + 78;
    if (size < ENTRY_AT + 8)
        return;
    const unsigned char *entry = stsd + ENTRY_AT;
    const std::uint64_t entry_size = std::min<std::uint64_t>(be32(entry), size - ENTRY_AT);
    const char *config = nullptr;
    if (std::memcmp(entry + 4, "avc1", 4) == 0 || std::memcmp(entry + 4, "avc3", 4) == 0) {
        m_codec = VideoCodec::H264;
        config = "avcC";
    } else if (std::memcmp(entry + 4, "hvc1", 4) == 0 || std::memcmp(entry + 4, "hev1", 4) == 0) {
        m_codec = VideoCodec::H265;
        config = "hvcC";
    }
    if (!config || entry_size < BOXES_IN_ENTRY)
        return;
    Box box{entry, 0};
    each_child(entry + BOXES_IN_ENTRY, entry_size - BOXES_IN_ENTRY, [&](const Box &b) {
        if (!b.is(config))
            return false;
        box = b;
        return true;
    });
    if (box.size < 8)
        return;
    if (m_codec == VideoCodec::H264)
        read_avcc(box.payload(), box.payload_size());
    else
        read_hvcc(box.payload(), box.payload_size());
}

// One set with a 16-bit length at p[*at]; false when it does not fit.
bool VideoTrack::add_parameter_set(const unsigned char *p, std::uint64_t len, std::uint64_t *at)
{
    if (len - *at < 2)
        return false;
    const std::uint16_t n = std::uint16_t(p[*at] << 8 | p[*at + 1]);
    if (n == 0 || n > len - *at - 2)
        return false;
    m_parameter_sets.push_back(ParameterSet{p + *at + 2, n});
    *at += 2 + std::uint64_t(n);
    return true;
}

void VideoTrack::read_avcc(const unsigned char *p, std::uint64_t len)
{
    // Version, profile, compatibility, level, length size; then the
    // sequence sets (count in the low 5 bits) and the picture sets.
    if (len < 6 || (p[4] & 3) != 3)
        return;
    std::uint64_t at = 5;
    for (int group = 0; group < 2; ++group) {
        if (at >= len)
            return;
        const unsigned count = group == 0 ? p[at] & 0x1F : p[at];
        ++at;
        for (unsigned i = 0; i < count; ++i)
            if (!add_parameter_set(p, len, &at))
                return;
    }
}

void VideoTrack::read_hvcc(const unsigned char *p, std::uint64_t len)
{
    // 21 bytes of profile, level and format fields, then the length size
    // in the low 2 bits of byte 21 and the number of arrays; each array a
    // NAL type byte, a 16-bit count and its sets.
    constexpr std::uint64_t ARRAYS_AT = 23;
    if (len < ARRAYS_AT || (p[21] & 3) != 3)
        return;
    const unsigned arrays = p[22];
    std::uint64_t at = ARRAYS_AT;
    for (unsigned a = 0; a < arrays; ++a) {
        if (len - at < 3)
            return;
        const unsigned count = unsigned(p[at + 1]) << 8 | p[at + 2];
        at += 3;
        for (unsigned i = 0; i < count; ++i)
            if (!add_parameter_set(p, len, &at))
                return;
    }
}
