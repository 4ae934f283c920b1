// How long a photo found on the card is, from the bytes at its position.
#pragma once

#include "scan/byte_source.h"
#include "scan/jpeg_walk.h"

#include <cstdint>
#include <memory>

// The rules look at the first 4 MiB of a photo (its head): the end markers
// when its structure does not hold, an MPF index and the images it lists
// when it does. The structure is followed up to 64 MiB.
constexpr std::uint64_t PHOTO_READ_STEP = 4u * 1024 * 1024;
constexpr std::uint64_t PHOTO_MAX_LENGTH = 64u * 1024 * 1024;
// What a photo read starts with: most of a small photo, and the segments
// at the start of a large one.
constexpr std::uint64_t PHOTO_FIRST_READ = 128u * 1024;

// The photo ends with the third JPEG end marker (FF D9) in `size` bytes, or
// with the last one when there are fewer; 0 when there is none. The length
// includes the marker's D9 byte.
std::uint64_t photo_length(const unsigned char *data, std::uint64_t size);

// The first bytes of a photo that are in memory already (the reading pass
// kept them): `size` bytes held in `data`, which has room for `room`.
struct PhotoBytes {
    std::unique_ptr<unsigned char[]> data;
    std::uint64_t size = 0;
    std::uint64_t room = 0;
};

// One photo's bytes from its position on, read only as far as they are
// asked for, and held together for whoever uses them next (a thumbnail, a
// file). The first read is PHOTO_FIRST_READ bytes; each further one an
// eighth of what is held, at least that much and at most PHOTO_READ_STEP,
// so what is read past the photo's end stays small beside the photo.
// Reads are whole 32 KiB units from the photo's position, up to the
// source's end and PHOTO_MAX_LENGTH. (The fuzzer reads in smaller steps
// and units, to try every place a step can end.)
class PhotoRead : public JpegBytes
{
public:
    PhotoRead(ByteSource &source, std::uint64_t end, std::uint64_t position, std::uint64_t first = PHOTO_FIRST_READ,
              std::uint64_t unit = UNIT);
    // Starts out holding `held` (up to the limit), so only what lies past it
    // is read; the steps past it follow the same rule. What it holds must be
    // the source's bytes as read_source gives them, or the rules would see
    // other bytes than a read from the card.
    PhotoRead(ByteSource &source, std::uint64_t end, std::uint64_t position, PhotoBytes held,
              std::uint64_t first = PHOTO_FIRST_READ, std::uint64_t unit = UNIT);

    // Holds the first `n` bytes, or all there are within the limit.
    void read_to(std::uint64_t n);
    const unsigned char *data() const { return m_bytes.get(); }
    std::uint64_t held() const { return m_held; }
    // Bytes of the reads so far that could not be read and stand as zeros.
    std::uint64_t unreadable() const { return m_unreadable; }

    // The photo's bytes end at the source's end or PHOTO_MAX_LENGTH.
    std::uint64_t limit() const override { return m_limit; }
    const unsigned char *span(std::uint64_t at, std::uint64_t *count) override;
    const unsigned char *together(std::uint64_t at, std::uint64_t n) override;

private:
    ByteSource &m_source;
    std::uint64_t m_end, m_position, m_limit, m_first, m_unit;
    std::unique_ptr<unsigned char[]> m_bytes;
    std::uint64_t m_held = 0, m_room = 0;
    std::uint64_t m_unreadable = 0;
};

// The length of the photo `photo` reads: the end of its JPEG structure or
// the end of the last further image its MPF index lists in the head,
// whichever lies later; when the structure does not hold, photo_length over
// the head. Reads the head whole only then; afterwards `photo` holds at
// least the bytes up to that length. `*walked` (when given) tells whether
// the structure held: only then is the photo known to be whole.
std::uint64_t photo_length_on_card(PhotoRead &photo, bool *walked = nullptr);

// The same rule for a photo at `position` of `source` (which ends at `end`)
// whose first `head_len` bytes are in `head` already: the head is what the
// rules look at, and the walk reads on past it in PHOTO_READ_STEP pieces.
// Adds the bytes that the further reads could not read to `*unreadable`.
std::uint64_t photo_length_on_card(ByteSource &source, std::uint64_t end, std::uint64_t position,
                                   const unsigned char *head, std::uint64_t head_len, std::uint64_t *unreadable,
                                   bool *walked = nullptr);
