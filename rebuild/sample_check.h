// Whether bytes put together for a chunk hold its video samples as H.264 and
// H.265 write them: each sample a chain of NAL units with 4-byte lengths that
// ends exactly at the sample's end, each unit with a valid header and
// none holding 00 00 00, 00 00 01 or 00 00 02 (a NAL unit never does:
// the encoder escapes them). A frame's bytes taken from the wrong place on
// the card almost never pass.
#pragma once

#include "scan/stream_signatures.h"

#include <cstdint>
#include <vector>

// A chunk's bytes, [0, cut) from `head` and [cut, length) from `tail`, both
// indexed by the offset in the chunk. One piece: cut = length.
struct ChunkBytes {
    const unsigned char *head;
    const unsigned char *tail;
    std::uint64_t cut;
    std::uint64_t length;
    unsigned char at(std::uint64_t i) const { return i < cut ? head[i] : tail[i]; }
};

// Positions, increasing, where 00 00 00, 00 00 01 or 00 00 02 begins in
// bytes[from, to) (the three bytes inside). False when there are more than
// `limit`.
bool find_escapes(const unsigned char *bytes, std::uint64_t from, std::uint64_t to, std::size_t limit,
                  std::vector<std::uint32_t> *marks);

// Whether the samples of `sizes`, laid one after the other from offset 0 of
// `bytes`, are well-formed. `head_marks` are find_escapes of the head over
// [0, cut) or more, `tail_marks` of the tail over [cut, length) or more.
bool samples_hold(VideoCodec codec, const ChunkBytes &bytes, const std::vector<std::uint32_t> &sizes,
                  const std::vector<std::uint32_t> &head_marks, const std::vector<std::uint32_t> &tail_marks);

// Whether the slices of those samples look like entropy-coded data in every
// cluster of the card they fill: coded slice data uses nearly every byte
// value, where erased flash, filled or structured data use few. `grid` is
// the chunk offset of the first cluster boundary; a cluster's part that
// lies in a slice is judged when it has CODED_SPAN bytes or more.
constexpr std::uint64_t CODED_SPAN = 8192;
bool slices_look_coded(VideoCodec codec, const ChunkBytes &bytes, const std::vector<std::uint32_t> &sizes, std::uint64_t grid,
                       std::uint64_t cluster);
