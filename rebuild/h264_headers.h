// H.264 headers as far as a picture's order count needs them: the sequence
// parameter set up to its cropping, the picture parameter set up to the
// flag that says a bottom field's order may differ, and the slice header up
// to its order-count deltas. Each parser takes the unit's payload after its
// one-byte header and says false when the bytes run out or a value stands
// outside its range; every count it keeps is bounded where it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct H264Sps {
    std::uint32_t id = 0;
    std::uint32_t profile_idc = 0;
    std::uint32_t chroma_format_idc = 1;
    bool separate_colour_plane = false;
    unsigned log2_max_frame_num = 4;
    unsigned poc_type = 0;
    unsigned log2_max_poc_lsb = 4;  // type 0
    // Type 1: the expected order count of each frame of a cycle.
    bool delta_pic_order_always_zero = false;
    std::int32_t offset_for_non_ref_pic = 0;
    std::int32_t offset_for_top_to_bottom_field = 0;
    std::vector<std::int32_t> offset_for_ref_frame;  // 255 at most
    bool frame_mbs_only = true;
    std::uint32_t width = 0;  // in pixels, after cropping
    std::uint32_t height = 0;
};

struct H264Pps {
    std::uint32_t id = 0;
    std::uint32_t sps_id = 0;
    bool bottom_field_pic_order_in_frame_present = false;
};

struct H264SliceHeader {
    std::uint32_t first_mb_in_slice = 0;
    std::uint32_t slice_type = 0;
    std::uint32_t pps_id = 0;
    std::uint32_t colour_plane_id = 0;
    std::uint32_t frame_num = 0;
    bool field_pic = false;
    bool bottom_field = false;
    std::uint32_t idr_pic_id = 0;
    std::uint32_t pic_order_cnt_lsb = 0;
    std::int32_t delta_pic_order_cnt_bottom = 0;
    std::int32_t delta_pic_order_cnt[2] = {0, 0};
};

// Parameter sets by id, as the slices of a stream refer to them.
constexpr std::uint32_t H264_MAX_SPS = 32;
constexpr std::uint32_t H264_MAX_PPS = 256;
struct H264ParameterSets {
    std::optional<H264Sps> sps[H264_MAX_SPS];
    std::optional<H264Pps> pps[H264_MAX_PPS];
};

bool parse_h264_sps(const unsigned char *payload, std::size_t size, H264Sps *sps);
bool parse_h264_pps(const unsigned char *payload, std::size_t size, H264Pps *pps);
// A slice of NAL type 1, 2 or 5 (`idr` for 5), read with the picture
// parameter set it names and that set's sequence parameter set, which
// `*sps` is pointed at; false when either is unknown.
bool parse_h264_slice_header(const unsigned char *payload, std::size_t size, bool idr, const H264ParameterSets &sets,
                             H264SliceHeader *header, const H264Sps **sps);
