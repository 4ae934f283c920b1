// What a recording is, read from its moov box alone: how long it runs, its
// picture size, codec, frame rate and frame count. The window's captions and
// the command line's summaries show these before anything is written.
#pragma once

#include "scan/stream_signatures.h"

#include <cstdint>

struct RecordingFacts {
    std::uint64_t duration_ms = 0;  // 0: the box does not tell
    std::uint32_t width = 0;        // pixels; 0 when unknown
    std::uint32_t height = 0;
    VideoCodec codec = VideoCodec::None;
    double frame_rate = 0;          // frames per second; 0 when unknown
    std::uint32_t frames = 0;       // samples of the video track
};

// Reads mvhd and the first video trak (tkhd, mdhd, stsz, stts) of the
// `size`-byte moov box at `moov`; every field is checked against the box it
// stands in, and a field that does not fit is left unknown.
RecordingFacts recording_facts(const unsigned char *moov, std::uint64_t size);
