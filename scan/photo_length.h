// How long a photo found on the card is, from the bytes at its position.
#pragma once

#include "scan/byte_source.h"

#include <cstdint>

// A photo is read 4 MiB at a time, up to 64 MiB.
constexpr std::uint64_t PHOTO_READ_STEP = 4u * 1024 * 1024;
constexpr std::uint64_t PHOTO_MAX_LENGTH = 64u * 1024 * 1024;

// The photo ends with the third JPEG end marker (FF D9) in `size` bytes, or
// with the last one when there are fewer; 0 when there is none. The length
// includes the marker's D9 byte.
std::uint64_t photo_length(const unsigned char *data, std::uint64_t size);

// The length of the photo at `position` of `source` (the source ends at
// `end`), whose first `head_len` bytes are in `head`: the end of its JPEG
// structure, read on from the source in 4 MiB steps up to 64 MiB, or the
// end of the last further image its MPF index lists in the head, whichever
// lies later. When the structure does not hold, photo_length over the head
// decides. Adds the bytes that the further reads could not read to
// `*unreadable`.
std::uint64_t photo_length_on_card(ByteSource &source, std::uint64_t end, std::uint64_t position,
                                   const unsigned char *head, std::uint64_t head_len, std::uint64_t *unreadable);
