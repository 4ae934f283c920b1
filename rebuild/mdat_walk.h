// The video samples of a recording whose moov box was never written (the
// battery died, the card was pulled), found by walking its mdat box from the
// payload: each sample begins with a frame start (the first one may begin
// right after the mdat header) and ends where the chain of its NAL units
// ends; the bytes up to the next frame start belong to the other tracks.
// The walk stops where the recording's frames stop: at the next start of a
// file on the grid, where no frame start follows within reach, or where a
// sample's chain breaks at once. The last sample walked is dropped when it
// runs over a cluster boundary: the cut that ended the recording may have
// left it incomplete.
#pragma once

#include "rebuild/mdat_lead.h"
#include "scan/byte_source.h"
#include "scan/stream_signatures.h"

#include <cstdint>
#include <vector>

class CardMap;

struct WalkedSample {
    std::uint64_t offset;  // in the file
    std::uint32_t size;
    bool key;              // holds a key picture (IDR, IRAP)
};

struct MdatWalk {
    MdatLead lead;                     // the chain from the ftyp box to the mdat header
    std::uint64_t ftyp_size = 0;
    VideoCodec codec = VideoCodec::None;
    std::vector<WalkedSample> samples;
    bool dropped_last = false;         // the last sample ran into foreign bytes
    std::uint64_t unreadable = 0;
};

// Ceilings: a sample's bytes, other tracks' bytes between two samples, and
// samples per recording (nine hours at 60 frames/s, an index of about
// 40 MB).
constexpr std::uint64_t WALK_SAMPLE_LONGEST = std::uint64_t(3) << 20;
constexpr std::uint64_t WALK_GAP_LONGEST = std::uint64_t(2) << 20;
constexpr std::size_t WALK_SAMPLE_CEILING = std::size_t(1) << 21;
// The window the walk and its users read a recording through: a sample and
// a unit more.
constexpr std::uint64_t WALK_WINDOW = std::uint64_t(4) << 20;

// Walks the recording whose ftyp box is at Q, with the frame starts of the
// card map, up to `limit` on the card (the next file's start, or the end of
// the source `end`). No samples when the ftyp box is not followed by an mdat
// header.
MdatWalk walk_mdat(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, std::uint64_t limit);
