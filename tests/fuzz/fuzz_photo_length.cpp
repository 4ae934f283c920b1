// The photo length rules over arbitrary photo bytes: the end-marker rule,
// and the walk of the JPEG structure over a memory card whose photo starts
// at its first byte.
#include "scan/jpeg_walk.h"
#include "scan/photo_length.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool ends_with_eoi(const unsigned char *data, std::uint64_t length)
{
    return length >= 2 && data[length - 2] == 0xFF && data[length - 1] == 0xD9;
}

// A memory source that may not be read below `from`.
class ReadPast : public MemorySource
{
public:
    ReadPast(const unsigned char *data, std::uint64_t size, std::uint64_t from) : MemorySource(data, size), m_from(from) {}
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override
    {
        if (pos < m_from)
            std::abort();
        return MemorySource::read_once(pos, buf, len);
    }

private:
    std::uint64_t m_from;
};

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
        // Its first bytes at hand already, as the reading pass keeps them
        // (ending anywhere): the same length, none of them read again.
        for (const std::uint64_t kept : {size / 3, size - size / 7}) {
            PhotoBytes held{std::unique_ptr<unsigned char[]>(new unsigned char[kept + 1]), kept, kept + 1};
            std::memcpy(held.data.get(), data, kept);
            ReadPast past(data, size, kept);
            PhotoRead lazy(past, size, 0, std::move(held), 333, 333);
            if (photo_length_on_card(lazy) != length || lazy.held() < length)
                std::abort();
        }
    }
    return 0;
}
