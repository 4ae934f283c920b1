// The structure of a JPEG on the card, walked segment by segment: the photo
// ends at its own end marker, not at one that an embedded thumbnail, its
// compressed data or the bytes after it happen to hold.
#pragma once

#include "scan/byte_source.h"

#include <cstdint>

struct JpegWalk {
    bool complete = false;         // SOI to EOI walked without a fault
    std::uint64_t image_end = 0;   // up to and including the EOI's D9
    std::uint64_t listed_end = 0;  // end of the last further image an MPF index lists in the head; 0: none
    std::uint64_t unreadable = 0;  // bytes of the further reads that stood as zeros
};

// Walks the JPEG at `position` of `source`, of which the first `head_len`
// bytes are in `head` already. Past the head the walk reads on in pieces of
// `step` bytes, never past the source's `end` and never past `most` bytes
// of photo in all. Incomplete when the bytes do not start FF D8, when a
// segment or marker does not fit the format, or when no EOI comes in reach.
JpegWalk walk_jpeg(ByteSource &source, std::uint64_t end, std::uint64_t position, const unsigned char *head,
                   std::uint64_t head_len, std::uint64_t step, std::uint64_t most);
