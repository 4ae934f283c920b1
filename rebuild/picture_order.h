// The order in which a recording's pictures are shown, from their slice
// headers: what the rebuild needs for the composition offsets of a track
// whose index was never written. Samples are given in decode order, each
// one access unit of NAL units with 4-byte big-endian lengths; the order
// count of each picture follows the codec's own derivation, across samples.
//
// Left out: H.264's memory_management_control_operation 5 (which restarts
// the count after a reference picture without an IDR) is not read, as the
// slice header would be needed in full; a stream that uses it is ordered as
// if the count ran on. Of an H.264 sample holding both fields of a frame,
// the frame's count is the lower of the two. H.265 layers above 0 are not
// looked at.
#pragma once

#include "rebuild/h264_headers.h"
#include "rebuild/h265_headers.h"
#include "rebuild/nal_syntax.h"
#include "scan/stream_signatures.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PictureOrder
{
public:
    // A codec of None is read as H.264, as NalSyntax does.
    explicit PictureOrder(VideoCodec codec);

    // A sequence or picture parameter set, a NAL unit with its header (from
    // an avcC or hvcC box, or a sample). False for any other unit and for
    // one that cannot be read; a set replaces the one of its id.
    bool add_parameter_set(const unsigned char *nal, std::size_t size);

    struct Picture {
        bool parsed = false;  // poc is known
        // IDR (H.264 type 5) or IRAP (H.265 types 16 to 23), from the NAL
        // type, parsed or not.
        bool key = false;
        std::int64_t poc = 0;
        // The count starts again here: an IDR, or an IRAP picture that
        // drops the leading pictures before it (the first of the stream, a
        // BLA, or a CRA after an end of sequence). Known from the NAL types
        // alone, so set also when the header could not be read.
        bool resets = false;
    };
    // One sample. Parameter sets inside it are taken first, as they stand;
    // the first slice of the picture decides its type and count.
    Picture next(const unsigned char *sample, std::size_t size);

    // The picture size of the sequence parameter set the last read picture
    // used, or before any, of the last one given. False when there is none.
    bool picture_size(std::uint32_t *width, std::uint32_t *height) const;

private:
    NalSyntax m_nal;
    bool m_h265;
    H264ParameterSets m_h264;
    H265ParameterSets m_h265_sets;
    int m_active_sps = -1;

    // H.264: the previous reference picture's count parts (type 0), and the
    // previous picture's frame number and its offset (types 1 and 2).
    bool m_have_reference = false;
    std::int64_t m_prev_msb = 0;
    std::int64_t m_prev_lsb = 0;
    bool m_have_frame_num = false;
    std::int64_t m_prev_frame_num_offset = 0;
    std::uint32_t m_prev_frame_num = 0;
    // H.265: the previous picture of temporal id 0 that others may refer
    // to, and whether the next picture is the first of a coded sequence.
    bool m_have_tid0 = false;
    std::int64_t m_tid0_msb = 0;
    std::int64_t m_tid0_lsb = 0;
    bool m_sequence_start = true;

    bool add_h264_set(unsigned type, const unsigned char *payload, std::size_t size);
    bool add_h265_set(unsigned type, const unsigned char *payload, std::size_t size);
    // The count of one H.264 picture (a frame or a field); false when its
    // header cannot be read.
    bool h264_picture(const unsigned char *nal, std::size_t size, H264SliceHeader *header, std::int64_t *poc);
    Picture h265_picture(const unsigned char *nal, std::size_t size);
};

// The display index of each picture over the whole stream: the pictures
// from one reset to the next (and those before the first) are shown in
// order of their counts, ties in decode order. A picture whose count is not
// known keeps its decode position inside its run, the others filling the
// places around it; a run whose counts are all unknown stays in decode order.
std::vector<std::uint32_t> display_order(const std::vector<PictureOrder::Picture> &pictures);
