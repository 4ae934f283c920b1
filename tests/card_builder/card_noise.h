// The bytes that fill a card image wherever no file lies. They stand for old,
// overwritten data, but must never match a signature the scan or the rebuild
// looks for, or a test would find things nobody placed.
#pragma once

#include "card_builder/card_layout.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace card {

// Noise for the `len` bytes that start at card position `card_pos`; the same
// seed gives the same byte at the same card position, whatever the layout.
// Every byte is an even value from 0x80 to 0xFE: no 00 or FF (so no JPEG
// marker and no frame start can form, not even across the edge of a file),
// no ASCII (so no four-letter box type), and no D9.
void fill_noise(unsigned char *buf, std::uint64_t card_pos, std::size_t len, std::uint64_t seed);

constexpr std::uint64_t END_MARKER_SPACING = 64 * KIB;

// Writes one FF D9 pair into every 64 KiB block of the card that meets
// [card_pos, card_pos + len), at a place drawn from the seed, unless the pair
// would touch one of `files` (card ranges [first, second)) or leave the buffer.
void sprinkle_end_markers(unsigned char *buf, std::uint64_t card_pos, std::size_t len, std::uint64_t seed,
                          const std::vector<std::pair<std::uint64_t, std::uint64_t>> &files);

}  // namespace card
