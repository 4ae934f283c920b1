// A moov box for a recording whose own was never written, made from a
// sibling's: the sibling's movie header and video track (its sample entry,
// handler and media header), with sample tables from the walk of the mdat:
// one sample per chunk at the offsets found, sizes, key frames, decode
// times from the sibling's frame duration and composition offsets that
// show the pictures in their recorded order. The sibling's other tracks are
// left out: their samples cannot be told apart in the mdat.
#pragma once

#include "rebuild/mdat_walk.h"

#include <cstdint>
#include <vector>

// The box, or empty when the sibling holds no usable video track.
// `display[i]` is sample i's place in display order (a permutation of
// 0 .. n - 1).
std::vector<unsigned char> write_index(const unsigned char *sibling, std::uint64_t size,
                                       const std::vector<WalkedSample> &samples,
                                       const std::vector<std::uint32_t> &display);
