#include "support/mp4_timing.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

std::uint64_t be(const unsigned char *p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

// A box's payload, or none (data null).
struct Span {
    const unsigned char *data = nullptr;
    std::uint64_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

// The first child of `type` in `parent`, skipping `skip` bytes of the
// parent's own fields first. 64-bit sizes are followed; a size of 0 runs to
// the end; a box that does not fit ends the walk.
Span child(Span parent, const char *type, std::uint64_t skip = 0)
{
    if (!parent || parent.size < skip)
        return {};
    std::uint64_t at = skip;
    while (parent.size - at >= 8) {
        const unsigned char *p = parent.data + at;
        std::uint64_t size = be(p, 4), header = 8;
        if (size == 1) {
            if (parent.size - at < 16)
                return {};
            size = be(p + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = parent.size - at;
        }
        if (size < header || size > parent.size - at)
            return {};
        if (std::memcmp(p + 4, type, 4) == 0)
            return Span{p + header, size - header};
        at += size;
    }
    return {};
}

Span path(Span box, std::initializer_list<const char *> types)
{
    for (const char *type : types)
        box = child(box, type);
    return box;
}

// Each box of `type` directly inside `parent`, until on_box returns true.
template <typename OnBox>
void each(Span parent, const char *type, OnBox &&on_box)
{
    std::uint64_t at = 0;
    while (parent.size - at >= 8) {
        const unsigned char *p = parent.data + at;
        const std::uint64_t size = be(p, 4);
        if (size < 8 || size > parent.size - at)
            return;
        if (std::memcmp(p + 4, type, 4) == 0 && on_box(Span{p + 8, size - 8}))
            return;
        at += size;
    }
}

// Parameter sets: avcC lists its sequence then picture sets, each with a
// 2-byte length; hvcC lists arrays of units of one type each.
void read_parameter_sets(Span config, bool hevc, std::vector<QByteArray> *sets)
{
    std::uint64_t at = 0;
    auto take = [&]() {
        if (config.size - at < 2)
            return false;
        const std::uint64_t len = be(config.data + at, 2);
        if (config.size - at - 2 < len)
            return false;
        sets->push_back(QByteArray(reinterpret_cast<const char *>(config.data + at + 2), int(len)));
        at += 2 + len;
        return true;
    };
    if (!hevc) {
        if (config.size < 6)
            return;
        at = 6;
        for (unsigned i = 0, n = config.data[5] & 0x1F; i < n; ++i)
            if (!take())
                return;
        if (config.size - at < 1)
            return;
        const unsigned n = config.data[at++];
        for (unsigned i = 0; i < n; ++i)
            if (!take())
                return;
        return;
    }
    if (config.size < 23)
        return;
    at = 23;
    for (unsigned a = 0, arrays = config.data[22]; a < arrays; ++a) {
        if (config.size - at < 3)
            return;
        const unsigned n = unsigned(be(config.data + at + 1, 2));
        at += 3;
        for (unsigned i = 0; i < n; ++i)
            if (!take())
                return;
    }
}

// A full box's entries: version and flags, count, then `width`-byte
// entries, the count cut to what the box holds.
std::uint64_t entries(Span box, std::uint64_t width, std::uint64_t skip = 0)
{
    if (!box || box.size < 8 + skip)
        return 0;
    return std::min<std::uint64_t>(be(box.data + 4 + skip, 4), (box.size - 8 - skip) / width);
}

bool read_tables(Span stbl, TimedTrack *track)
{
    const Span stsz = child(stbl, "stsz"), stsc = child(stbl, "stsc"), stts = child(stbl, "stts");
    Span stco = child(stbl, "stco");
    int offset_width = 4;
    if (!stco) {
        stco = child(stbl, "co64");
        offset_width = 8;
    }
    if (!stsz || stsz.size < 12 || !stsc || !stco || !stts)
        return false;

    // Sizes, then each chunk's samples placed one after another.
    const std::uint32_t uniform = std::uint32_t(be(stsz.data + 4, 4));
    const std::uint64_t count = uniform != 0 ? be(stsz.data + 8, 4) : entries(stsz, 4, 4);
    const std::uint64_t runs = entries(stsc, 12), chunks = entries(stco, offset_width);
    std::uint64_t run = 0, sample = 0;
    for (std::uint64_t j = 0; j < chunks && sample < count; ++j) {
        while (run + 1 < runs && be(stsc.data + 8 + 12 * (run + 1), 4) <= j + 1)
            ++run;
        if (runs == 0)
            return false;
        std::uint64_t at = be(stco.data + 8 + offset_width * j, offset_width);
        for (std::uint64_t i = be(stsc.data + 12 + 12 * run, 4); i > 0 && sample < count; --i, ++sample) {
            TimedSample s;
            s.offset = at;
            s.size = uniform != 0 ? uniform : std::uint32_t(be(stsz.data + 12 + 4 * sample, 4));
            at += s.size;
            track->samples.push_back(s);
        }
    }
    if (track->samples.size() != count)
        return false;

    // stts: (count, delta); ctts: (count, offset), signed in version 1 and
    // as ffmpeg writes it in version 0 too.
    std::uint64_t i = 0;
    std::int64_t time = 0;
    for (std::uint64_t e = 0, n = entries(stts, 8); e < n; ++e)
        for (std::uint64_t k = be(stts.data + 8 + 8 * e, 4); k > 0 && i < count; --k, ++i) {
            track->samples[i].decode_time = time;
            time += std::int64_t(be(stts.data + 12 + 8 * e, 4));
        }
    if (i != count)
        return false;
    if (const Span ctts = child(stbl, "ctts")) {
        i = 0;
        for (std::uint64_t e = 0, n = entries(ctts, 8); e < n; ++e)
            for (std::uint64_t k = be(ctts.data + 8 + 8 * e, 4); k > 0 && i < count; --k, ++i)
                track->samples[i].composition_offset = std::int32_t(std::uint32_t(be(ctts.data + 12 + 8 * e, 4)));
        if (i != count)
            return false;
    }
    if (const Span stss = child(stbl, "stss")) {
        for (auto &s : track->samples)
            s.sync = false;
        for (std::uint64_t e = 0, n = entries(stss, 4); e < n; ++e) {
            const std::uint64_t number = be(stss.data + 8 + 4 * e, 4);
            if (number == 0 || number > count)
                return false;
            track->samples[number - 1].sync = true;
        }
    }
    return true;
}

}  // namespace

TimedTrack read_timed_track(const QByteArray &file)
{
    TimedTrack track;
    const Span moov = child(Span{reinterpret_cast<const unsigned char *>(file.constData()), std::uint64_t(file.size())},
                            "moov");
    Span stbl;
    each(moov, "trak", [&](Span trak) {
        // hdlr: version and flags, pre_defined, then the handler type.
        const Span hdlr = path(trak, {"mdia", "hdlr"});
        if (!hdlr || hdlr.size < 12 || std::memcmp(hdlr.data + 8, "vide", 4) != 0)
            return false;
        stbl = path(trak, {"mdia", "minf", "stbl"});
        return true;
    });
    // stsd: version and flags, count, then the first entry: a visual sample
    // entry of 78 bytes before its child boxes, width and height at 24.
    const Span stsd = child(stbl, "stsd");
    if (!stsd || stsd.size < 8 + 8 + 78)
        return track;
    const unsigned char *entry = stsd.data + 8;
    const std::uint64_t entry_size = be(entry, 4);
    if (entry_size < 8 + 78 || entry_size > stsd.size - 8)
        return track;
    std::memcpy(track.sample_entry, entry + 4, 4);
    track.width = std::uint32_t(be(entry + 8 + 24, 2));
    track.height = std::uint32_t(be(entry + 8 + 26, 2));
    const Span visual{entry + 8, entry_size - 8};
    const bool hevc = std::memcmp(entry + 4, "hvc1", 4) == 0 || std::memcmp(entry + 4, "hev1", 4) == 0;
    read_parameter_sets(child(visual, hevc ? "hvcC" : "avcC", 78), hevc, &track.parameter_sets);
    if (!read_tables(stbl, &track))
        track.samples.clear();
    return track;
}

std::vector<std::uint32_t> presentation_order(const TimedTrack &track)
{
    const auto &s = track.samples;
    std::vector<std::uint32_t> by_time(s.size());
    std::iota(by_time.begin(), by_time.end(), 0u);
    std::stable_sort(by_time.begin(), by_time.end(), [&](std::uint32_t a, std::uint32_t b) {
        return s[a].decode_time + s[a].composition_offset < s[b].decode_time + s[b].composition_offset;
    });
    std::vector<std::uint32_t> order(s.size());
    for (std::uint32_t k = 0; k < by_time.size(); ++k)
        order[by_time[k]] = k;
    return order;
}
