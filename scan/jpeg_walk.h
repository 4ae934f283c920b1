// The structure of a JPEG on the card, walked segment by segment: the photo
// ends at its own end marker, not at one that an embedded thumbnail, its
// compressed data or the bytes after it happen to hold.
#pragma once

#include "scan/byte_source.h"

#include <cstdint>

struct JpegWalk {
    bool complete = false;         // SOI to EOI walked without a fault
    std::uint64_t image_end = 0;   // up to and including the EOI's D9
    std::uint64_t listed_end = 0;  // end of the last further image an MPF index lists within reach; 0: none
    std::uint64_t unreadable = 0;  // bytes of the further reads that stood as zeros
};

// Bytes [0, limit()) of one photo, as a walk asks for them: it only ever
// moves forward, apart from looking at the images an MPF index lists.
class JpegBytes
{
public:
    virtual ~JpegBytes() = default;
    virtual std::uint64_t limit() const = 0;
    // The bytes from `at` that lie together in memory; none at the limit.
    virtual const unsigned char *span(std::uint64_t at, std::uint64_t *count) = 0;
    // `n` bytes from `at` together in memory; null when they are not.
    virtual const unsigned char *together(std::uint64_t at, std::uint64_t n);
    // The byte at `at`, or -1 at the limit.
    int at(std::uint64_t at);
};

// Walks the JPEG that `bytes` hold. Incomplete when the bytes do not start
// FF D8, when a segment or marker does not fit the format, or when no EOI
// comes before the limit. An MPF index counts when its segment ends within
// `index_reach` bytes, and of the images it lists those that lie wholly
// within that reach and run from FF D8 to FF D9.
JpegWalk walk_jpeg(JpegBytes &bytes, std::uint64_t index_reach);

// The walk of the JPEG at `position` of `source`, of which the first
// `head_len` bytes are in `head` already and an MPF index counts within
// them. Past the head the walk reads on in pieces of `step` bytes, holding
// one at a time, never past the source's `end` and never past `most` bytes
// of photo in all.
JpegWalk walk_jpeg(ByteSource &source, std::uint64_t end, std::uint64_t position, const unsigned char *head,
                   std::uint64_t head_len, std::uint64_t step, std::uint64_t most);
