#include "recover/recording_facts.h"

#include "rebuild/video_track.h"

#include <cstring>

namespace {

struct Box {
    const unsigned char *payload = nullptr;
    std::uint64_t size = 0;  // of the payload
    bool found() const { return payload != nullptr; }
};

std::uint64_t be64_at(const unsigned char *p)
{
    return (std::uint64_t(be32(p)) << 32) | be32(p + 4);
}

// Calls on_child(type, child) for each child of [p, p + len) until it
// returns true; a size below the header or past the parent ends the walk.
template <typename OnChild>
void each_child(const Box &parent, OnChild &&on_child)
{
    std::uint64_t at = 0;
    while (parent.size >= 8 && at <= parent.size - 8) {
        const std::uint64_t size = be32(parent.payload + at);
        if (size < 8 || size > parent.size - at)
            return;
        if (on_child(parent.payload + at + 4, Box{parent.payload + at + 8, size - 8}))
            return;
        at += size;
    }
}

Box child(const Box &parent, const char *type)
{
    Box found;
    each_child(parent, [&](const unsigned char *t, const Box &b) {
        if (std::memcmp(t, type, 4) != 0)
            return false;
        found = b;
        return true;
    });
    return found;
}

// Timescale and duration of an mvhd or mdhd payload (version 0 or 1).
bool time_of(const Box &header, std::uint32_t *timescale, std::uint64_t *duration)
{
    if (!header.found() || header.size < 4)
        return false;
    if (header.payload[0] == 1) {
        if (header.size < 4 + 16 + 4 + 8)
            return false;
        *timescale = be32(header.payload + 20);
        *duration = be64_at(header.payload + 24);
    } else {
        if (header.size < 4 + 8 + 4 + 4)
            return false;
        *timescale = be32(header.payload + 12);
        *duration = be32(header.payload + 16);
    }
    return *timescale != 0;
}

bool is_video(const Box &trak)
{
    const Box hdlr = child(child(trak, "mdia"), "hdlr");
    return hdlr.found() && hdlr.size >= 12 && std::memcmp(hdlr.payload + 8, "vide", 4) == 0;
}

// Samples the stts entries add up to; the count is bounded by the box.
std::uint64_t stts_samples(const Box &stts)
{
    if (!stts.found() || stts.size < 8)
        return 0;
    const std::uint64_t entries = be32(stts.payload + 4);
    const std::uint64_t fit = (stts.size - 8) / 8;
    std::uint64_t samples = 0;
    for (std::uint64_t i = 0; i < entries && i < fit; ++i)
        samples += be32(stts.payload + 8 + 8 * i);
    return samples;
}

// Milliseconds of `duration` units at `timescale` per second; 0 for more
// than a year, which no camera records in one file.
std::uint64_t milliseconds(std::uint64_t duration, std::uint32_t timescale)
{
    const std::uint64_t seconds = duration / timescale;
    if (seconds > 366ull * 24 * 3600)
        return 0;
    return seconds * 1000 + duration % timescale * 1000 / timescale;
}

}  // namespace

RecordingFacts recording_facts(const unsigned char *moov, std::uint64_t size)
{
    RecordingFacts facts;
    if (!moov || size < 8 || be32(moov) < 8 || be32(moov) > size || std::memcmp(moov + 4, "moov", 4) != 0)
        return facts;
    const Box box{moov + 8, be32(moov) - 8};

    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
    if (time_of(child(box, "mvhd"), &timescale, &duration))
        facts.duration_ms = milliseconds(duration, timescale);

    Box trak;
    each_child(box, [&](const unsigned char *t, const Box &b) {
        if (std::memcmp(t, "trak", 4) != 0 || !is_video(b))
            return false;
        trak = b;
        return true;
    });
    if (!trak.found())
        return facts;
    facts.codec = VideoTrack::parse(moov, be32(moov)).codec();

    const Box tkhd = child(trak, "tkhd");
    // Width and height, 16.16 fixed point, close the box after the matrix.
    const std::uint64_t dims = tkhd.found() && tkhd.payload[0] == 1 ? 88 : 76;
    if (tkhd.found() && tkhd.size >= dims + 8) {
        facts.width = be32(tkhd.payload + dims) >> 16;
        facts.height = be32(tkhd.payload + dims + 4) >> 16;
    }

    const Box mdia = child(trak, "mdia");
    const Box stbl = child(child(mdia, "minf"), "stbl");
    const Box stsz = child(stbl, "stsz");
    std::uint64_t frames = stsz.found() && stsz.size >= 12 ? be32(stsz.payload + 8) : 0;
    if (frames == 0)
        frames = stts_samples(child(stbl, "stts"));
    facts.frames = frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(frames);

    std::uint32_t track_scale = 0;
    std::uint64_t track_duration = 0;
    if (time_of(child(mdia, "mdhd"), &track_scale, &track_duration) && track_duration > 0 && frames > 0)
        facts.frame_rate = double(frames) * track_scale / double(track_duration);
    if (facts.duration_ms == 0 && track_scale != 0)
        facts.duration_ms = milliseconds(track_duration, track_scale);
    return facts;
}
