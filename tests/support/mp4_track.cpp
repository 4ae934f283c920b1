#include "support/mp4_track.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint64_t be(const unsigned char *p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

// One box inside a parent's payload.
struct Box {
    const unsigned char *at = nullptr;
    std::uint64_t size = 0;    // 0: no box
    std::uint64_t header = 8;  // 16 with a 64-bit size
    bool is(const char *type) const { return size != 0 && std::memcmp(at + 4, type, 4) == 0; }
    const unsigned char *payload() const { return at + header; }
    std::uint64_t payload_size() const { return size - header; }
};

// Calls on_box for each child in [begin, begin + len) until it returns
// true. A size of 1 takes the 64-bit size after the type, 0 runs to the end
// of the parent; a size below its header or past the parent ends the walk.
template <typename OnBox>
void each_child(const unsigned char *begin, std::uint64_t len, OnBox &&on_box)
{
    std::uint64_t at = 0;
    while (len - at >= 8) {
        Box b{begin + at, be(begin + at, 4), 8};
        if (b.size == 1) {
            if (len - at < 16)
                return;
            b.size = be(begin + at + 8, 8);
            b.header = 16;
        } else if (b.size == 0) {
            b.size = len - at;
        }
        if (b.size < b.header || b.size > len - at)
            return;
        if (on_box(b))
            return;
        at += b.size;
    }
}

Box child(const Box &parent, const char *type)
{
    Box found;
    if (parent.size == 0)
        return found;
    each_child(parent.payload(), parent.payload_size(), [&](const Box &b) {
        if (!b.is(type))
            return false;
        found = b;
        return true;
    });
    return found;
}

Box path(Box box, std::initializer_list<const char *> types)
{
    for (const char *type : types)
        box = child(box, type);
    return box;
}

bool is_video(const Box &trak)
{
    // hdlr: version and flags, pre_defined, then the handler type.
    const Box hdlr = path(trak, {"mdia", "hdlr"});
    return hdlr.size != 0 && hdlr.payload_size() >= 12 && std::memcmp(hdlr.payload() + 8, "vide", 4) == 0;
}

// stco or co64: version and flags, count, then 4- or 8-byte offsets.
std::vector<std::uint64_t> chunk_offsets(const Box &stbl)
{
    std::vector<std::uint64_t> offsets;
    Box table = child(stbl, "stco");
    int width = 4;
    if (table.size == 0) {
        table = child(stbl, "co64");
        width = 8;
    }
    if (table.size == 0 || table.payload_size() < 8)
        return offsets;
    const std::uint64_t n = std::min<std::uint64_t>(be(table.payload() + 4, 4), (table.payload_size() - 8) / width);
    for (std::uint64_t j = 0; j < n; ++j)
        offsets.push_back(be(table.payload() + 8 + j * width, width));
    return offsets;
}

void read_samples(const Box &stbl, Mp4Track *track)
{
    // stsc: version and flags, count, then (first chunk from 1, samples per
    // chunk, description); stsz: version and flags, uniform size, count,
    // then one size each when the uniform size is 0.
    const Box stsc = child(stbl, "stsc"), stsz = child(stbl, "stsz");
    if (stsc.size == 0 || stsz.size == 0 || stsc.payload_size() < 8 || stsz.payload_size() < 12)
        return;
    const std::uint64_t runs = std::min<std::uint64_t>(be(stsc.payload() + 4, 4), (stsc.payload_size() - 8) / 12);
    const std::uint32_t uniform = std::uint32_t(be(stsz.payload() + 4, 4));
    std::uint64_t count = be(stsz.payload() + 8, 4);
    if (uniform == 0)
        count = std::min<std::uint64_t>(count, (stsz.payload_size() - 12) / 4);
    auto first_chunk = [&](std::uint64_t r) { return be(stsc.payload() + 8 + 12 * r, 4); };
    auto per_chunk = [&](std::uint64_t r) { return be(stsc.payload() + 12 + 12 * r, 4); };
    // Runs begin at chunk 1 and go up; tables that say otherwise tell nothing.
    if (runs == 0 || first_chunk(0) != 1)
        return;
    for (std::uint64_t r = 1; r < runs; ++r)
        if (first_chunk(r) <= first_chunk(r - 1))
            return;

    std::uint64_t run = 0, sample = 0;
    for (std::uint32_t j = 0; j < track->chunks.size(); ++j) {
        while (run + 1 < runs && first_chunk(run + 1) <= j + std::uint64_t(1))
            ++run;
        const std::uint64_t n = per_chunk(run);
        if (n == 0 || sample + n > count)
            return;
        std::uint64_t at = track->chunks[j];
        for (std::uint64_t i = 0; i < n; ++i, ++sample) {
            const std::uint32_t size = uniform != 0 ? uniform : std::uint32_t(be(stsz.payload() + 12 + 4 * sample, 4));
            track->samples.push_back(TrackSample{at, size, j});
            at += size;
        }
    }
}

}  // namespace

Mp4Track read_video_track(const QByteArray &moov)
{
    Mp4Track track;
    Box root;
    each_child(reinterpret_cast<const unsigned char *>(moov.constData()), std::uint64_t(moov.size()),
               [&](const Box &b) {
                   root = b;
                   return true;
               });
    if (!root.is("moov"))
        return track;
    Box trak;
    each_child(root.payload(), root.payload_size(), [&](const Box &b) {
        if (!b.is("trak") || !is_video(b))
            return false;
        trak = b;
        return true;
    });
    const Box stbl = path(trak, {"mdia", "minf", "stbl"});
    if (stbl.size == 0)
        return track;
    // stsd: version and flags, count, then the first entry's size and type.
    const Box stsd = child(stbl, "stsd");
    if (stsd.size != 0 && stsd.payload_size() >= 16)
        std::memcpy(track.sample_entry, stsd.payload() + 12, 4);
    track.chunks = chunk_offsets(stbl);
    read_samples(stbl, &track);
    return track;
}

bool find_top_box(const QByteArray &file, const char type[4], std::uint64_t *at, std::uint64_t *size)
{
    const auto *begin = reinterpret_cast<const unsigned char *>(file.constData());
    bool found = false;
    each_child(begin, std::uint64_t(file.size()), [&](const Box &b) {
        if (!b.is(type))
            return false;
        *at = std::uint64_t(b.at - begin);
        *size = b.size;
        found = true;
        return true;
    });
    return found;
}
