// H.265 headers as far as a picture's order count needs them: the sequence
// parameter set up to its coding block sizes (the picture size in coding
// tree blocks gives the length of a slice segment's address), the picture
// parameter set up to its extra slice header bits, and the slice segment
// header up to its order count bits. Each parser takes the unit's payload
// after its two-byte header and says false when the bytes run out or a
// value stands outside its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct H265Sps {
    std::uint32_t id = 0;
    std::uint32_t chroma_format_idc = 1;
    bool separate_colour_plane = false;
    std::uint32_t coded_width = 0;  // in luma samples
    std::uint32_t coded_height = 0;
    std::uint32_t width = 0;  // in pixels, inside the conformance window
    std::uint32_t height = 0;
    unsigned bit_depth_luma = 8;
    unsigned bit_depth_chroma = 8;
    unsigned log2_max_poc_lsb = 4;
    unsigned log2_min_cb_size = 3;
    unsigned log2_ctb_size = 4;
    // Bits of slice_segment_address: enough for every coding tree block.
    unsigned address_bits = 0;
};

struct H265Pps {
    std::uint32_t id = 0;
    std::uint32_t sps_id = 0;
    bool dependent_slice_segments_enabled = false;
    bool output_flag_present = false;
    unsigned num_extra_slice_header_bits = 0;
};

struct H265SliceHeader {
    bool first_slice_segment_in_pic = false;
    bool no_output_of_prior_pics = false;
    std::uint32_t pps_id = 0;
    // A dependent segment takes the rest of its header from the segment
    // before it: nothing below is read.
    bool dependent_slice_segment = false;
    std::uint32_t slice_segment_address = 0;
    std::uint32_t slice_type = 0;
    bool pic_output = true;
    std::uint32_t colour_plane_id = 0;
    std::uint32_t pic_order_cnt_lsb = 0;  // 0 for an IDR picture, which sends none
};

constexpr std::uint32_t H265_MAX_SPS = 16;
constexpr std::uint32_t H265_MAX_PPS = 64;
struct H265ParameterSets {
    std::optional<H265Sps> sps[H265_MAX_SPS];
    std::optional<H265Pps> pps[H265_MAX_PPS];
};

bool parse_h265_sps(const unsigned char *payload, std::size_t size, H265Sps *sps);
bool parse_h265_pps(const unsigned char *payload, std::size_t size, H265Pps *pps);
// A slice segment of VCL NAL type `nal_type`, read with the picture parameter
// set it names and that set's sequence parameter set, which `*sps` is
// pointed at; false when either is unknown.
bool parse_h265_slice_header(const unsigned char *payload, std::size_t size, unsigned nal_type,
                             const H265ParameterSets &sets, H265SliceHeader *header, const H265Sps **sps);
