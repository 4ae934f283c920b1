#include "scan/photo_length.h"

#include "scan/jpeg_walk.h"

#include <algorithm>
#include <cstring>

std::uint64_t photo_length(const unsigned char *data, std::uint64_t size)
{
    std::uint64_t length = 0;
    int markers = 0;
    // An FF D9 whose D9 is the very last byte counts too: a photo may end
    // exactly at the end of what was read.
    std::uint64_t from = 0;
    while (markers < 3 && from + 1 < size) {
        const void *hit = std::memchr(data + from, 0xFF, size - 1 - from);
        if (!hit)
            break;
        const std::uint64_t ff = static_cast<const unsigned char *>(hit) - data;
        if (data[ff + 1] == 0xD9) {
            ++markers;
            length = ff + 2;
        }
        from = ff + 1;
    }
    return length;
}

std::uint64_t photo_length_on_card(ByteSource &source, std::uint64_t end, std::uint64_t position,
                                   const unsigned char *head, std::uint64_t head_len, std::uint64_t *unreadable)
{
    const JpegWalk walk = walk_jpeg(source, end, position, head, head_len, PHOTO_READ_STEP, PHOTO_MAX_LENGTH);
    *unreadable += walk.unreadable;
    if (!walk.complete)
        return photo_length(head, head_len);
    return std::max(walk.image_end, walk.listed_end);
}
