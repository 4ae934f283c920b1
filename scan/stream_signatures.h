// The signatures the stream search looks for at every byte of the card:
// the first bytes of a video frame in an MP4 sample, and a moov box.
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

// The codecs whose frames the search finds, as a track's sample entry names
// them: avc1/avc3 (H.264) and hvc1/hev1 (H.265).
enum class VideoCodec : std::uint8_t { None = 0, H264 = 1, H265 = 2 };

// Which signature found a frame start: a 4-byte NAL length, then an
// access-unit delimiter, the first unit of a frame in an MP4 sample.
enum class FrameSignature : std::uint8_t {
    None = 0,
    H264Delimiter = 1,  // length 2, NAL type 9
    H265Delimiter = 2,  // length 3, NAL type 35 (layer 0), then the picture type
};

inline VideoCodec codec_of(FrameSignature signature)
{
    switch (signature) {
    case FrameSignature::H264Delimiter:
        return VideoCodec::H264;
    case FrameSignature::H265Delimiter:
        return VideoCodec::H265;
    default:
        return VideoCodec::None;
    }
}

// Reads START_SPAN bytes at most. H.265's two header bytes hold type 35,
// layer 0 and a temporal id of 1 to 7; its payload is a picture type of 0
// to 2 and the stop bit.
inline FrameSignature frame_signature(const unsigned char *b)
{
    if ((b[0] | b[1] | b[2]) != 0)
        return FrameSignature::None;
    if (b[3] == 0x02 && b[4] == 0x09)
        return FrameSignature::H264Delimiter;
    if (b[3] == 0x03 && b[4] == 0x46 && b[5] >= 1 && b[5] <= 7 && (b[6] & 0x1F) == 0x10 && b[6] < 0x60)
        return FrameSignature::H265Delimiter;
    return FrameSignature::None;
}

inline bool is_frame_start(const unsigned char *b)
{
    return frame_signature(b) != FrameSignature::None;
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
