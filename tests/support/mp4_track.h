// The first video track of an original MP4, read by the tests' own small
// box walker rather than by the engine's parser they hold to it: chunk
// offsets from "stco" or "co64", each sample's offset and size from "stsc"
// and "stsz". Every box is bounded by its parent and every table by its box;
// a table that claims more than it holds is cut, and samples stop where the
// tables stop agreeing.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

struct TrackSample {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t chunk = 0;  // index into Mp4Track::chunks
};

struct Mp4Track {
    char sample_entry[5] = {};          // "avc1", "hvc1", ...
    std::vector<std::uint64_t> chunks;  // chunk offsets, in table order
    std::vector<TrackSample> samples;   // in table order
};

// The first "vide" track of `moov` (a whole moov box); without one, an
// empty track.
Mp4Track read_video_track(const QByteArray &moov);

// Offset and size of the first top-level box of `type` in `file`, following
// 64-bit sizes and a last box that runs to the end; false when there is none
// or the boxes before it do not add up.
bool find_top_box(const QByteArray &file, const char type[4], std::uint64_t *at, std::uint64_t *size);
