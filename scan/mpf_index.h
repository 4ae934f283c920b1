// The multi-picture index a camera puts in an APP2 "MPF" segment when it
// stores further images (a preview, say) right after the first one.
#pragma once

#include <cstdint>
#include <functional>

// Where a listed image would lie, in bytes from the photo's first byte.
struct MpfImage {
    std::uint64_t start;
    std::uint64_t end;  // one past its last byte
};

// Calls `each` for every further image (not the first, which holds the
// index) that the index lists. `header` holds the MP header (its TIFF-style byte-order mark, the
// origin of every offset the index gives), `header_len` bytes of segment
// from there, and the header starts `header_at` bytes into the photo.
// Nothing is checked against the photo's bytes: the caller looks for
// FF D8 and FF D9 where each image would lie, as far as it trusts the index.
// (A hostile index may list millions, so they are not gathered.)
void mpf_listed_images(const unsigned char *header, std::uint64_t header_len, std::uint64_t header_at,
                       const std::function<void(const MpfImage &)> &each);
