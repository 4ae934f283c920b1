// The NAL unit header as the rebuild reads the samples of either codec:
// H.264's one byte (forbidden bit, reference idc, type in 5 bits) and
// H.265's two (forbidden bit, type in 6 bits, layer id, temporal id + 1).
// Every walk over a sample's units asks here what a header says.
#pragma once

#include "scan/stream_signatures.h"

class NalSyntax
{
public:
    // A track whose codec is not known is read as H.264.
    explicit NalSyntax(VideoCodec codec) : m_h265(codec == VideoCodec::H265) {}

    unsigned header_bytes() const { return m_h265 ? 2 : 1; }
    // The unit's type, from the first byte of its header.
    unsigned type(unsigned char first) const { return m_h265 ? (first >> 1) & 0x3F : first & 0x1F; }
    // Whether a header can stand in a coded sample: the forbidden bit clear,
    // and not H.264's unspecified type 0 nor H.265's temporal id + 1 of 0.
    // `second` is read for H.265 only.
    bool header_valid(unsigned char first, unsigned char second) const
    {
        if ((first & 0x80) != 0)
            return false;
        return m_h265 ? (second & 0x07) != 0 : (first & 0x1F) != 0;
    }
    // Coded slice data: H.264 types 1 to 5, H.265's VCL types 0 to 31.
    bool is_slice(unsigned type) const { return m_h265 ? type <= 31 : type >= 1 && type <= 5; }
    // A picture that decodes on its own: H.264's IDR (5), H.265's IRAP
    // pictures (BLA, IDR, CRA: 16 to 21).
    bool is_key(unsigned type) const { return m_h265 ? type >= 16 && type <= 21 : type == 5; }

private:
    bool m_h265;
};
