#include "rebuild/h265_headers.h"

#include "rebuild/bit_reader.h"

namespace {

// The profile, tier and level of the whole stream (96 bits), and of each
// sub-layer when present: a fixed number of bits each, skipped.
bool skip_profile_tier_level(BitReader &r, unsigned max_sub_layers_minus1)
{
    r.skip(96);
    bool profile_present[8] = {}, level_present[8] = {};
    for (unsigned i = 0; i < max_sub_layers_minus1; ++i) {
        profile_present[i] = r.flag();
        level_present[i] = r.flag();
    }
    if (max_sub_layers_minus1 > 0)
        r.skip(2 * (8 - max_sub_layers_minus1));  // reserved_zero_2bits
    for (unsigned i = 0; i < max_sub_layers_minus1; ++i) {
        if (profile_present[i])
            r.skip(88);
        if (level_present[i])
            r.skip(8);
    }
    return !r.failed();
}

// A picture dimension beyond this is damage, not a camera's.
constexpr std::uint32_t MAX_DIMENSION = 65536;

}  // namespace

bool parse_h265_sps(const unsigned char *payload, std::size_t size, H265Sps *sps)
{
    BitReader r(payload, size);
    H265Sps s;
    r.u(4);  // sps_video_parameter_set_id
    const unsigned max_sub_layers_minus1 = r.u(3);
    r.flag();  // sps_temporal_id_nesting_flag
    if (r.failed() || max_sub_layers_minus1 > 6 || !skip_profile_tier_level(r, max_sub_layers_minus1))
        return false;
    s.id = r.ue();
    s.chroma_format_idc = r.ue();
    if (r.failed() || s.id >= H265_MAX_SPS || s.chroma_format_idc > 3)
        return false;
    if (s.chroma_format_idc == 3)
        s.separate_colour_plane = r.flag();
    s.coded_width = r.ue();
    s.coded_height = r.ue();
    std::uint64_t window[4] = {0, 0, 0, 0};  // left, right, top, bottom
    if (r.flag())
        for (auto &w : window)
            w = r.ue();
    const std::uint32_t depth_luma_minus8 = r.ue(), depth_chroma_minus8 = r.ue();
    const std::uint32_t poc_lsb_minus4 = r.ue();
    if (r.failed() || s.coded_width == 0 || s.coded_height == 0 || s.coded_width > MAX_DIMENSION
        || s.coded_height > MAX_DIMENSION || depth_luma_minus8 > 8 || depth_chroma_minus8 > 8 || poc_lsb_minus4 > 12)
        return false;
    s.bit_depth_luma = depth_luma_minus8 + 8;
    s.bit_depth_chroma = depth_chroma_minus8 + 8;
    s.log2_max_poc_lsb = poc_lsb_minus4 + 4;
    const bool ordering_per_sub_layer = r.flag();
    for (unsigned i = ordering_per_sub_layer ? 0 : max_sub_layers_minus1; i <= max_sub_layers_minus1; ++i) {
        r.ue();  // sps_max_dec_pic_buffering_minus1
        r.ue();  // sps_max_num_reorder_pics
        r.ue();  // sps_max_latency_increase_plus1
    }
    const std::uint32_t min_cb_minus3 = r.ue(), diff_max_min = r.ue();
    if (r.failed() || min_cb_minus3 > 3 || diff_max_min > 3 || min_cb_minus3 + 3 + diff_max_min > 6)
        return false;
    s.log2_min_cb_size = min_cb_minus3 + 3;
    s.log2_ctb_size = s.log2_min_cb_size + diff_max_min;

    // The window counts chroma samples; monochrome or separate planes count luma.
    const bool chroma = s.chroma_format_idc != 0 && !s.separate_colour_plane;
    const std::uint64_t unit_x = chroma && s.chroma_format_idc != 3 ? 2 : 1;
    const std::uint64_t unit_y = chroma && s.chroma_format_idc == 1 ? 2 : 1;
    const std::uint64_t crop_x = unit_x * (window[0] + window[1]), crop_y = unit_y * (window[2] + window[3]);
    if (crop_x >= s.coded_width || crop_y >= s.coded_height)
        return false;
    s.width = std::uint32_t(s.coded_width - crop_x);
    s.height = std::uint32_t(s.coded_height - crop_y);

    const std::uint32_t ctb = 1u << s.log2_ctb_size;
    const std::uint64_t ctbs = std::uint64_t((s.coded_width + ctb - 1) / ctb) * ((s.coded_height + ctb - 1) / ctb);
    while ((std::uint64_t(1) << s.address_bits) < ctbs)
        ++s.address_bits;
    *sps = s;
    return true;
}

bool parse_h265_pps(const unsigned char *payload, std::size_t size, H265Pps *pps)
{
    BitReader r(payload, size);
    H265Pps p;
    p.id = r.ue();
    p.sps_id = r.ue();
    p.dependent_slice_segments_enabled = r.flag();
    p.output_flag_present = r.flag();
    p.num_extra_slice_header_bits = r.u(3);
    if (r.failed() || p.id >= H265_MAX_PPS || p.sps_id >= H265_MAX_SPS)
        return false;
    *pps = p;
    return true;
}

bool parse_h265_slice_header(const unsigned char *payload, std::size_t size, unsigned nal_type,
                             const H265ParameterSets &sets, H265SliceHeader *header, const H265Sps **sps)
{
    BitReader r(payload, size);
    H265SliceHeader h;
    h.first_slice_segment_in_pic = r.flag();
    if (nal_type >= 16 && nal_type <= 23)
        h.no_output_of_prior_pics = r.flag();
    h.pps_id = r.ue();
    if (r.failed() || h.pps_id >= H265_MAX_PPS || !sets.pps[h.pps_id])
        return false;
    const H265Pps &pps = *sets.pps[h.pps_id];
    if (!sets.sps[pps.sps_id])
        return false;
    const H265Sps &s = *sets.sps[pps.sps_id];
    if (!h.first_slice_segment_in_pic) {
        if (pps.dependent_slice_segments_enabled)
            h.dependent_slice_segment = r.flag();
        h.slice_segment_address = r.u(s.address_bits);
    }
    if (!h.dependent_slice_segment) {
        r.skip(pps.num_extra_slice_header_bits);
        h.slice_type = r.ue();
        if (h.slice_type > 2)
            return false;
        if (pps.output_flag_present)
            h.pic_output = r.flag();
        if (s.separate_colour_plane)
            h.colour_plane_id = r.u(2);
        if (nal_type != 19 && nal_type != 20)  // IDR_W_RADL, IDR_N_LP
            h.pic_order_cnt_lsb = r.u(s.log2_max_poc_lsb);
    }
    if (r.failed())
        return false;
    *header = h;
    *sps = &s;
    return true;
}
