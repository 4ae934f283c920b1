// The two signatures the region analysis looks for at every byte of a
// group's stretch.
#pragma once

#include <cstdint>
#include <cstring>

// Bytes a start needs to be recognised: a moov start is tested over 12, so
// nothing in the last 12 bytes of what was read can start anything.
constexpr unsigned START_SPAN = 12;

// A "moov" box whose first child is a 108-byte version-0 movie header:
// b[4..11] = "moov" 00 00 00 6C; the box size is big-endian at b[0..3].
inline bool is_moov_start(const unsigned char *b)
{
    return std::memcmp(b + 4, "moov\x00\x00\x00\x6c", 8) == 0;
}

// A moov box smaller than its own header and 108-byte movie header is no box.
constexpr std::uint64_t MOOV_MIN_SIZE = 8 + 108;

// A 4-byte NAL length of 2 followed by an access-unit delimiter (NAL type
// 9): the first bytes of an H.264 frame in an MP4 sample.
inline bool is_frame_start(const unsigned char *b)
{
    return std::memcmp(b, "\x00\x00\x00\x02\x09", 5) == 0;
}

inline std::uint32_t be32(const unsigned char *b)
{
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

inline void put_be32(unsigned char *b, std::uint32_t v)
{
    b[0] = static_cast<unsigned char>(v >> 24);
    b[1] = static_cast<unsigned char>(v >> 16);
    b[2] = static_cast<unsigned char>(v >> 8);
    b[3] = static_cast<unsigned char>(v);
}
