#include "rebuild/index_writer.h"

#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

using Bytes = std::vector<unsigned char>;

// One box of the sibling, bounded by its parent.
struct Box {
    const unsigned char *at = nullptr;
    std::uint64_t size = 0;
    bool is(const char *type) const { return size >= 8 && std::memcmp(at + 4, type, 4) == 0; }
    const unsigned char *payload() const { return at + 8; }
    std::uint64_t payload_size() const { return size - 8; }
};

std::vector<Box> children(const Box &parent)
{
    std::vector<Box> boxes;
    std::uint64_t at = 8;
    while (parent.size >= at + 8) {
        const std::uint64_t size = be32(parent.at + at);
        if (size < 8 || size > parent.size - at)
            break;
        boxes.push_back(Box{parent.at + at, size});
        at += size;
    }
    return boxes;
}

Box child(const Box &parent, const char *type)
{
    for (const Box &b : children(parent))
        if (b.is(type))
            return b;
    return Box{};
}

void put32(Bytes &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

void put64(Bytes &out, std::uint64_t v)
{
    put32(out, static_cast<std::uint32_t>(v >> 32));
    put32(out, static_cast<std::uint32_t>(v));
}

Bytes box(const char *type, const Bytes &payload)
{
    Bytes out;
    put32(out, static_cast<std::uint32_t>(8 + payload.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes copy(const Box &b)
{
    return Bytes(b.at, b.at + b.size);
}

void append(Bytes &out, const Bytes &more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// A full box's header box with its duration set: mvhd, tkhd and mdhd keep
// it after version, flags and (version 1: 64-bit) times and ids, at
// `v0`/`v1` bytes into the payload.
Bytes with_duration(const Box &b, std::uint64_t v0, std::uint64_t v1, std::uint64_t duration)
{
    Bytes out = copy(b);
    if (b.size < 8 + 4)
        return out;
    const bool wide = b.payload()[0] == 1;
    const std::uint64_t at = 8 + (wide ? v1 : v0);
    if (out.size() < at + (wide ? 8 : 4))
        return out;
    if (wide) {
        Bytes d;
        put64(d, duration);
        std::copy(d.begin(), d.end(), out.begin() + std::ptrdiff_t(at));
    } else {
        put_be32(out.data() + at, static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, 0xFFFFFFFFu)));
    }
    return out;
}

// The media timescale of a track (mdhd), 0 when unknown.
std::uint32_t timescale_of(const Box &mdhd)
{
    if (mdhd.size < 8 + 24)
        return 0;
    const bool wide = mdhd.payload()[0] == 1;
    if (wide && mdhd.size < 8 + 32)
        return 0;
    return be32(mdhd.payload() + (wide ? 20 : 12));
}

std::uint32_t movie_timescale(const Box &mvhd)
{
    return timescale_of(mvhd);  // laid out like mdhd up to the duration
}

// The most common sample duration of the sibling's stts.
std::uint32_t frame_duration(const Box &stts)
{
    if (stts.size < 16)
        return 0;
    const std::uint64_t entries = std::min<std::uint64_t>(be32(stts.at + 12), (stts.size - 16) / 8);
    std::uint64_t best_count = 0;
    std::uint32_t best = 0;
    for (std::uint64_t e = 0; e < entries; ++e) {
        const std::uint32_t count = be32(stts.at + 16 + 8 * e), delta = be32(stts.at + 20 + 8 * e);
        if (count > best_count && delta != 0) {
            best_count = count;
            best = delta;
        }
    }
    return best;
}

bool is_video_trak(const Box &trak)
{
    const Box hdlr = child(child(trak, "mdia"), "hdlr");
    return hdlr.size >= 8 + 12 && std::memcmp(hdlr.payload() + 8, "vide", 4) == 0;
}

Bytes sample_tables(const Box &stsd, const std::vector<WalkedSample> &samples, const std::vector<std::uint32_t> &display,
                    std::uint32_t delta, std::uint64_t delay)
{
    const std::uint32_t n = static_cast<std::uint32_t>(samples.size());
    Bytes stbl = copy(stsd);

    Bytes stts;
    put32(stts, 0);
    put32(stts, 1);
    put32(stts, n);
    put32(stts, delta);
    append(stbl, box("stts", stts));

    if (delay != 0) {
        // Runs of equal offsets: (display place + delay - decode place) frames.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t offset = static_cast<std::uint32_t>((display[i] + delay - i) * delta);
            if (!runs.empty() && runs.back().second == offset)
                ++runs.back().first;
            else
                runs.emplace_back(1, offset);
        }
        Bytes ctts;
        put32(ctts, 0);
        put32(ctts, static_cast<std::uint32_t>(runs.size()));
        for (const auto &run : runs) {
            put32(ctts, run.first);
            put32(ctts, run.second);
        }
        append(stbl, box("ctts", ctts));
    }

    if (!std::all_of(samples.begin(), samples.end(), [](const WalkedSample &s) { return s.key; })) {
        Bytes stss;
        put32(stss, 0);
        Bytes numbers;
        std::uint32_t keys = 0;
        for (std::uint32_t i = 0; i < n; ++i)
            if (samples[i].key) {
                put32(numbers, i + 1);
                ++keys;
            }
        put32(stss, keys);
        append(stss, numbers);
        append(stbl, box("stss", stss));
    }

    Bytes stsc;
    put32(stsc, 0);
    put32(stsc, 1);
    put32(stsc, 1);  // from the first chunk on
    put32(stsc, 1);  // one sample each
    put32(stsc, 1);  // the first sample description
    append(stbl, box("stsc", stsc));

    Bytes stsz;
    put32(stsz, 0);
    put32(stsz, 0);
    put32(stsz, n);
    for (const WalkedSample &s : samples)
        put32(stsz, s.size);
    append(stbl, box("stsz", stsz));

    const bool wide = !samples.empty() && samples.back().offset > 0xFFFFFFFFu;
    Bytes offsets;
    put32(offsets, 0);
    put32(offsets, n);
    for (const WalkedSample &s : samples) {
        if (wide)
            put64(offsets, s.offset);
        else
            put32(offsets, static_cast<std::uint32_t>(s.offset));
    }
    append(stbl, box(wide ? "co64" : "stco", offsets));
    return box("stbl", stbl);
}

}  // namespace

std::vector<unsigned char> write_index(const unsigned char *sibling, std::uint64_t size,
                                       const std::vector<WalkedSample> &samples,
                                       const std::vector<std::uint32_t> &display)
{
    if (!sibling || size < 8 || samples.empty() || display.size() != samples.size())
        return {};
    const Box moov{sibling, std::min<std::uint64_t>(be32(sibling), size)};
    const Box mvhd = child(moov, "mvhd");
    Box trak;
    for (const Box &b : children(moov))
        if (b.is("trak") && is_video_trak(b)) {
            trak = b;
            break;
        }
    const Box tkhd = child(trak, "tkhd");
    const Box mdia = child(trak, "mdia");
    const Box mdhd = child(mdia, "mdhd");
    const Box hdlr = child(mdia, "hdlr");
    const Box minf = child(mdia, "minf");
    const Box stbl = child(minf, "stbl");
    const Box stsd = child(stbl, "stsd");
    const std::uint32_t media_scale = timescale_of(mdhd);
    const std::uint32_t movie_scale = movie_timescale(mvhd);
    const std::uint32_t delta = frame_duration(child(stbl, "stts"));
    if (!mvhd.at || !tkhd.at || !hdlr.at || !stsd.at || media_scale == 0 || movie_scale == 0 || delta == 0)
        return {};

    // Pictures shown later than they are decoded wait `delay` frames, so
    // that no composition offset is negative; the edit list starts the
    // presentation at the first picture shown.
    const std::uint64_t n = samples.size();
    std::uint64_t delay = 0;
    for (std::uint64_t i = 0; i < n; ++i)
        if (i > display[i])
            delay = std::max<std::uint64_t>(delay, i - display[i]);
    const std::uint64_t media_duration = n * delta;
    const std::uint64_t movie_duration = media_duration * movie_scale / media_scale;

    Bytes minf_payload;
    for (const Box &b : children(minf))
        append(minf_payload, b.is("stbl") ? sample_tables(stsd, samples, display, delta, delay) : copy(b));
    Bytes mdia_payload = with_duration(mdhd, 16, 24, media_duration);
    append(mdia_payload, copy(hdlr));
    append(mdia_payload, box("minf", minf_payload));

    Bytes trak_payload = with_duration(tkhd, 20, 28, movie_duration);
    if (delay != 0) {
        Bytes elst;
        put32(elst, 0);
        put32(elst, 1);
        put32(elst, static_cast<std::uint32_t>(std::min<std::uint64_t>(movie_duration, 0xFFFFFFFFu)));
        put32(elst, static_cast<std::uint32_t>(delay * delta));
        put32(elst, 0x00010000);  // rate 1.0
        append(trak_payload, box("edts", box("elst", elst)));
    }
    append(trak_payload, box("mdia", mdia_payload));

    Bytes moov_payload = with_duration(mvhd, 16, 24, movie_duration);
    append(moov_payload, box("trak", trak_payload));
    return box("moov", moov_payload);
}
