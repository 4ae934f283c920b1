// The multi-picture index a camera puts in an APP2 "MPF" segment when it
// stores further images (a preview, say) right after the first one.
#pragma once

#include <cstdint>

// `head` holds the first `head_len` bytes of a photo; the MP header (its
// TIFF-style byte-order mark, the origin of every offset the index gives)
// starts at `header_at` and the segment leaves `header_len` bytes from there.
// Returns the end, as an offset in `head`, of the last further image the
// index lists that lies wholly in `head` and runs from FF D8 to FF D9; 0 when
// there is none.
std::uint64_t mpf_listed_end(const unsigned char *head, std::uint64_t head_len, std::uint64_t header_at,
                             std::uint64_t header_len);
