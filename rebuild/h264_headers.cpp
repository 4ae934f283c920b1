#include "rebuild/h264_headers.h"

#include "rebuild/bit_reader.h"

namespace {

// Profiles whose sequence parameter set carries the chroma format, bit
// depths and scaling matrices.
bool has_chroma_fields(std::uint32_t profile_idc)
{
    switch (profile_idc) {
    case 44: case 83: case 86: case 100: case 110: case 118:
    case 122: case 128: case 134: case 135: case 138: case 139: case 244:
        return true;
    default:
        return false;
    }
}

// A scaling list is read only to get past it: each entry is a delta from the
// last, and a next scale of 0 ends the deltas of the list.
bool skip_scaling_list(BitReader &r, unsigned entries)
{
    int last = 8, next = 8;
    for (unsigned j = 0; j < entries && next != 0; ++j) {
        const std::int32_t delta = r.se();
        if (r.failed() || delta < -128 || delta > 127)
            return false;
        next = (last + delta + 256) % 256;
        if (next != 0)
            last = next;
    }
    return !r.failed();
}

// Frames this wide or high in macroblocks are far beyond any camera; a
// larger count is damage.
constexpr std::uint32_t MAX_MBS = 4096;

}  // namespace

bool parse_h264_sps(const unsigned char *payload, std::size_t size, H264Sps *sps)
{
    BitReader r(payload, size);
    H264Sps s;
    s.profile_idc = r.u(8);
    r.u(8);  // constraint flags
    r.u(8);  // level
    s.id = r.ue();
    if (r.failed() || s.id >= H264_MAX_SPS)
        return false;
    if (has_chroma_fields(s.profile_idc)) {
        s.chroma_format_idc = r.ue();
        if (s.chroma_format_idc > 3)
            return false;
        if (s.chroma_format_idc == 3)
            s.separate_colour_plane = r.flag();
        if (r.ue() > 6 || r.ue() > 6)  // bit depths of luma and chroma, less 8
            return false;
        r.flag();  // qpprime_y_zero_transform_bypass_flag
        if (r.flag()) {
            const unsigned lists = s.chroma_format_idc != 3 ? 8 : 12;
            for (unsigned i = 0; i < lists; ++i)
                if (r.flag() && !skip_scaling_list(r, i < 6 ? 16 : 64))
                    return false;
        }
    }
    const std::uint32_t log2_max_frame_num_minus4 = r.ue();
    if (log2_max_frame_num_minus4 > 12)
        return false;
    s.log2_max_frame_num = log2_max_frame_num_minus4 + 4;
    s.poc_type = r.ue();
    if (s.poc_type == 0) {
        const std::uint32_t minus4 = r.ue();
        if (minus4 > 12)
            return false;
        s.log2_max_poc_lsb = minus4 + 4;
    } else if (s.poc_type == 1) {
        s.delta_pic_order_always_zero = r.flag();
        s.offset_for_non_ref_pic = r.se();
        s.offset_for_top_to_bottom_field = r.se();
        const std::uint32_t cycle = r.ue();
        if (r.failed() || cycle > 255)
            return false;
        s.offset_for_ref_frame.reserve(cycle);
        for (std::uint32_t i = 0; i < cycle && !r.failed(); ++i)
            s.offset_for_ref_frame.push_back(r.se());
    } else if (s.poc_type > 2) {
        return false;
    }
    r.ue();    // max_num_ref_frames
    r.flag();  // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t width_mbs = r.ue(), height_map_units = r.ue();
    s.frame_mbs_only = r.flag();
    if (!s.frame_mbs_only)
        r.flag();  // mb_adaptive_frame_field_flag
    r.flag();      // direct_8x8_inference_flag
    std::uint64_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
    if (r.flag())
        for (auto &c : crop)
            c = r.ue();
    if (r.failed() || width_mbs >= MAX_MBS || height_map_units >= MAX_MBS)
        return false;

    // Cropping counts chroma samples, of both fields when frames may be
    // coded as fields; a monochrome or separately coded picture counts luma.
    const bool chroma = s.chroma_format_idc != 0 && !s.separate_colour_plane;
    const std::uint64_t frame_factor = s.frame_mbs_only ? 1 : 2;
    const std::uint64_t unit_x = chroma && s.chroma_format_idc != 3 ? 2 : 1;
    const std::uint64_t unit_y = (chroma && s.chroma_format_idc == 1 ? 2 : 1) * frame_factor;
    const std::uint64_t width = (std::uint64_t(width_mbs) + 1) * 16;
    const std::uint64_t height = (std::uint64_t(height_map_units) + 1) * 16 * frame_factor;
    const std::uint64_t crop_x = unit_x * (crop[0] + crop[1]), crop_y = unit_y * (crop[2] + crop[3]);
    if (crop_x >= width || crop_y >= height)
        return false;
    s.width = std::uint32_t(width - crop_x);
    s.height = std::uint32_t(height - crop_y);
    *sps = std::move(s);
    return true;
}

bool parse_h264_pps(const unsigned char *payload, std::size_t size, H264Pps *pps)
{
    BitReader r(payload, size);
    H264Pps p;
    p.id = r.ue();
    p.sps_id = r.ue();
    r.flag();  // entropy_coding_mode_flag
    p.bottom_field_pic_order_in_frame_present = r.flag();
    if (r.failed() || p.id >= H264_MAX_PPS || p.sps_id >= H264_MAX_SPS)
        return false;
    *pps = p;
    return true;
}

bool parse_h264_slice_header(const unsigned char *payload, std::size_t size, bool idr, const H264ParameterSets &sets,
                             H264SliceHeader *header, const H264Sps **sps)
{
    BitReader r(payload, size);
    H264SliceHeader h;
    h.first_mb_in_slice = r.ue();
    h.slice_type = r.ue();
    h.pps_id = r.ue();
    if (r.failed() || h.slice_type > 9 || h.pps_id >= H264_MAX_PPS || !sets.pps[h.pps_id])
        return false;
    const H264Pps &pps = *sets.pps[h.pps_id];
    if (!sets.sps[pps.sps_id])
        return false;
    const H264Sps &s = *sets.sps[pps.sps_id];
    if (s.separate_colour_plane)
        h.colour_plane_id = r.u(2);
    h.frame_num = r.u(s.log2_max_frame_num);
    if (!s.frame_mbs_only) {
        h.field_pic = r.flag();
        if (h.field_pic)
            h.bottom_field = r.flag();
    }
    if (idr)
        h.idr_pic_id = r.ue();
    const bool bottom_delta = pps.bottom_field_pic_order_in_frame_present && !h.field_pic;
    if (s.poc_type == 0) {
        h.pic_order_cnt_lsb = r.u(s.log2_max_poc_lsb);
        if (bottom_delta)
            h.delta_pic_order_cnt_bottom = r.se();
    } else if (s.poc_type == 1 && !s.delta_pic_order_always_zero) {
        h.delta_pic_order_cnt[0] = r.se();
        if (bottom_delta)
            h.delta_pic_order_cnt[1] = r.se();
    }
    if (r.failed())
        return false;
    *header = h;
    *sps = &s;
    return true;
}
