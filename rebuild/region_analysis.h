// The region analysis: one pass over a video group's stretch that copies its
// moov boxes into moov_buf and enters its frames into the stretch's frame
// indexes (stretch_frames), for the rebuilds of the group's pieces that
// follow.
#pragma once

#include "scan/byte_source.h"

#include <QString>
#include <cstdint>

struct RegionReport {
    QString error;                  // why the stretch was not analysed; empty when it was
    std::uint64_t moov_found = 0;   // every moov start of the stretch
    std::uint32_t moov_kept = 0;    // of the first nine, those copied into moov_buf
    std::uint32_t moov_unfit = 0;   // of the first nine, those too small or too big for moov_buf
    std::uint64_t frames = 0;       // frames entered into the stretch's indexes
    std::uint64_t frames_dropped = 0;  // frames the full index could not take
    std::uint64_t tails = 0;        // frames that end where a kept moov box starts
    std::uint64_t unreadable = 0;   // bytes of the stretch that read as zeros
};

class CardMap;

// Takes group g's stretch of L bytes from position P out of `map`, reading
// nothing but a moov box the map holds no copy of (from `source`, whose
// bytes end at `end`). The frame indexes are emptied first in any case, and so
// are group g's moov pairs when g is a group slot; nothing else happens
// when it is not.
//
// The stretch covers what reading it in the scan's chunks would cover: a
// start may stand anywhere but in the last 12 bytes of that, and a frame or
// moov box crossing a chunk boundary is found whole. The k-th
// moov box (k <= 9) is copied into moov_buf k and recorded in moov_pos k and
// moov_size k of group g; one that does not fit its buffer keeps size 0.
// The tenth and later boxes are only counted. A frame is entered from each
// frame start to the next; a tail from the last frame start before each
// kept moov box up to that box; and the last frame start of the stretch,
// which has no next one, is kept with the bytes up to the end of the read.
RegionReport analyse_region(const CardMap &map, ByteSource *source, std::uint64_t end, int g, std::uint64_t L,
                            std::uint64_t P);

// The same from a map of the stretch alone, read from `source`.
RegionReport analyse_region(ByteSource &source, std::uint64_t end, int g, std::uint64_t L, std::uint64_t P);

// Group g's own stretch from the scan's card map, with `source` (null when
// it cannot be read) for what the map does not hold; the stretch is read
// only when the map does not reach it (a cancelled scan).
RegionReport analyse_group(std::uint32_t g, ByteSource *source, std::uint64_t end);

// The same for any stretch, on the scan source (source_path(), opened
// read-only).
RegionReport analyse_region(int g, std::uint64_t L, std::uint64_t P);
