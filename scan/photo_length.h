// How long a photo found on the card is, from the bytes at its position.
#pragma once

#include <cstdint>

// The photo ends with the third JPEG end marker (FF D9) in `size` bytes, or
// with the last one when there are fewer; 0 when there is none. The length
// includes the marker's D9 byte.
std::uint64_t photo_length(const unsigned char *data, std::uint64_t size);
