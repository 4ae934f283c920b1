// The photo length rules over arbitrary photo bytes: the end-marker rule,
// and the walk of the JPEG structure over a memory card whose photo starts
// at its first byte.
#include "scan/jpeg_walk.h"
#include "scan/photo_length.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool ends_with_eoi(const unsigned char *data, std::uint64_t length)
{
    return length >= 2 && data[length - 2] == 0xFF && data[length - 1] == 0xD9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const std::uint64_t by_markers = photo_length(data, size);
    if (by_markers > size)
        std::abort();
    if (by_markers != 0 && !ends_with_eoi(data, by_markers))
        std::abort();

    // All bytes at hand.
    MemorySource source(data, size);
    const JpegWalk whole = walk_jpeg(source, size, 0, data, size, PHOTO_READ_STEP, PHOTO_MAX_LENGTH);
    if (whole.complete != (whole.image_end != 0) || whole.image_end > size || whole.unreadable != 0)
        std::abort();
    if (whole.complete && (data[0] != 0xFF || data[1] != 0xD8 || !ends_with_eoi(data, whole.image_end)))
        std::abort();
    if (whole.listed_end > size || (whole.listed_end != 0 && !ends_with_eoi(data, whole.listed_end)))
        std::abort();

    // A small head and the rest read on in small pieces: the same image end,
    // and only what the smaller head holds from the index.
    const std::uint64_t head = std::min<std::uint64_t>(size, 4096);
    const JpegWalk pieces = walk_jpeg(source, size, 0, data, head, 1000, PHOTO_MAX_LENGTH);
    if (pieces.complete != whole.complete || pieces.image_end != whole.image_end
        || pieces.listed_end > whole.listed_end || pieces.listed_end > head)
        std::abort();

    // A reach cut short never walks further.
    const JpegWalk cut = walk_jpeg(source, size, 0, data, size, 1000, size / 2);
    if (cut.complete && (cut.image_end > size / 2 || cut.image_end != whole.image_end))
        std::abort();

    std::uint64_t unreadable = 0;
    const std::uint64_t length = photo_length_on_card(source, size, 0, data, size, &unreadable);
    if (length != (whole.complete ? std::max(whole.image_end, whole.listed_end) : by_markers))
        std::abort();

    // Read only as far as needed, in steps that end anywhere (one byte, a
    // few hundred) or as the scan reads: the same length, with its bytes
    // held. The input is the whole head here, as above.
    if (size <= PHOTO_READ_STEP) {
        for (const std::uint64_t unit : {std::uint64_t(1), std::uint64_t(333), UNIT}) {
            PhotoRead lazy(source, size, 0, unit == UNIT ? PHOTO_FIRST_READ : unit, unit);
            if (photo_length_on_card(lazy) != length || lazy.held() < length || lazy.unreadable() != 0)
                std::abort();
        }
    }
    return 0;
}
