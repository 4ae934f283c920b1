#include "rebuild/picture_order.h"

#include <algorithm>

namespace {

// Counts are summed with wrapping arithmetic: headers from a damaged card
// may ask for sums no picture has, and they must not be undefined.
std::int64_t wrapped(std::uint64_t v)
{
    return static_cast<std::int64_t>(v);
}

std::uint64_t as_bits(std::int64_t v)
{
    return static_cast<std::uint64_t>(v);
}

// PicOrderCntMsb from the previous picture's parts, as both codecs derive it
// (H.264 type 0, H.265): a jump of half the range or more is a wrap.
std::int64_t order_msb(std::int64_t lsb, std::int64_t prev_lsb, std::int64_t prev_msb, std::int64_t max_lsb)
{
    if (lsb < prev_lsb && prev_lsb - lsb >= max_lsb / 2)
        return prev_msb + max_lsb;
    if (lsb > prev_lsb && lsb - prev_lsb > max_lsb / 2)
        return prev_msb - max_lsb;
    return prev_msb;
}

// H.265 pictures no later picture of temporal id 0 refers to: RADL, RASL,
// and the sub-layer non-reference types (the even ones up to 14).
bool h265_is_tid0_candidate(unsigned type)
{
    if (type >= 6 && type <= 9)
        return false;
    return !(type <= 14 && type % 2 == 0);
}

}  // namespace

PictureOrder::PictureOrder(VideoCodec codec) : m_nal(codec), m_h265(codec == VideoCodec::H265) {}

bool PictureOrder::add_parameter_set(const unsigned char *nal, std::size_t size)
{
    if (size < m_nal.header_bytes() || !m_nal.header_valid(nal[0], size > 1 ? nal[1] : 0))
        return false;
    const unsigned type = m_nal.type(nal[0]);
    const unsigned char *payload = nal + m_nal.header_bytes();
    const std::size_t payload_size = size - m_nal.header_bytes();
    return m_h265 ? add_h265_set(type, payload, payload_size) : add_h264_set(type, payload, payload_size);
}

bool PictureOrder::add_h264_set(unsigned type, const unsigned char *payload, std::size_t size)
{
    if (type == 7) {
        H264Sps sps;
        if (!parse_h264_sps(payload, size, &sps))
            return false;
        const std::uint32_t id = sps.id;
        m_h264.sps[id] = std::move(sps);
        if (m_active_sps < 0 || !m_h264.sps[m_active_sps])
            m_active_sps = int(id);
        return true;
    }
    if (type == 8) {
        H264Pps pps;
        if (!parse_h264_pps(payload, size, &pps))
            return false;
        m_h264.pps[pps.id] = pps;
        return true;
    }
    return false;
}

bool PictureOrder::add_h265_set(unsigned type, const unsigned char *payload, std::size_t size)
{
    if (type == 33) {
        H265Sps sps;
        if (!parse_h265_sps(payload, size, &sps))
            return false;
        m_h265_sets.sps[sps.id] = sps;
        if (m_active_sps < 0 || !m_h265_sets.sps[m_active_sps])
            m_active_sps = int(sps.id);
        return true;
    }
    if (type == 34) {
        H265Pps pps;
        if (!parse_h265_pps(payload, size, &pps))
            return false;
        m_h265_sets.pps[pps.id] = pps;
        return true;
    }
    return false;
}

bool PictureOrder::picture_size(std::uint32_t *width, std::uint32_t *height) const
{
    if (m_active_sps < 0)
        return false;
    if (m_h265) {
        if (!m_h265_sets.sps[m_active_sps])
            return false;
        *width = m_h265_sets.sps[m_active_sps]->width;
        *height = m_h265_sets.sps[m_active_sps]->height;
        return true;
    }
    if (!m_h264.sps[m_active_sps])
        return false;
    *width = m_h264.sps[m_active_sps]->width;
    *height = m_h264.sps[m_active_sps]->height;
    return true;
}

PictureOrder::Picture PictureOrder::next(const unsigned char *sample, std::size_t size)
{
    Picture picture;
    bool decided = false;
    // H.264: a first field waits for its second in the same sample.
    H264SliceHeader first;
    bool first_field_parsed = false, paired = false;

    std::size_t at = 0;
    while (size - at >= 4) {
        const std::uint32_t length = be32(sample + at);
        at += 4;
        if (length == 0 || length > size - at)
            break;
        const unsigned char *nal = sample + at;
        at += length;
        if (length < m_nal.header_bytes() || !m_nal.header_valid(nal[0], length > 1 ? nal[1] : 0))
            continue;
        const unsigned type = m_nal.type(nal[0]);

        if (m_h265) {
            const unsigned layer = (unsigned(nal[0] & 1) << 5) | (nal[1] >> 3);
            if (layer != 0)
                continue;
            if (type == 33 || type == 34) {
                add_parameter_set(nal, length);
            } else if (type == 36 || type == 37) {  // end of sequence, of stream
                m_sequence_start = true;
            } else if (m_nal.is_slice(type) && !decided) {
                picture = h265_picture(nal, length);
                decided = true;
            }
            continue;
        }

        if (type == 7 || type == 8) {
            add_parameter_set(nal, length);
            continue;
        }
        // Data partitions B and C carry no slice header.
        if (type != 1 && type != 2 && type != 5)
            continue;
        if (!decided) {
            decided = true;
            picture.key = type == 5;
            picture.resets = type == 5;
            picture.parsed = h264_picture(nal, length, &first, &picture.poc);
            first_field_parsed = picture.parsed && first.field_pic;
        } else if (first_field_parsed && !paired) {
            // The second field of the frame starts at macroblock 0 with the
            // other parity; other slices of the first field are passed by.
            H264SliceHeader second;
            const H264Sps *sps = nullptr;
            if (!parse_h264_slice_header(nal + 1, length - 1, type == 5, m_h264, &second, &sps)
                || second.first_mb_in_slice != 0 || !second.field_pic || second.bottom_field == first.bottom_field)
                continue;
            std::int64_t poc = 0;
            if (h264_picture(nal, length, &second, &poc))
                picture.poc = std::min(picture.poc, poc);
            paired = true;
        }
    }
    return picture;
}

bool PictureOrder::h264_picture(const unsigned char *nal, std::size_t size, H264SliceHeader *header, std::int64_t *poc)
{
    const bool idr = (nal[0] & 0x1F) == 5;
    const bool reference = (nal[0] & 0x60) != 0;
    if (idr) {
        m_have_reference = true;
        m_prev_msb = m_prev_lsb = 0;
        m_have_frame_num = true;
        m_prev_frame_num_offset = 0;
        m_prev_frame_num = 0;
    }
    const H264Sps *sps = nullptr;
    H264SliceHeader h;
    if (!parse_h264_slice_header(nal + 1, size - 1, idr, m_h264, &h, &sps))
        return false;
    *header = h;
    m_active_sps = int(sps->id);

    std::int64_t top = 0, bottom = 0;
    if (sps->poc_type == 0) {
        const std::int64_t max_lsb = std::int64_t(1) << sps->log2_max_poc_lsb;
        const std::int64_t lsb = h.pic_order_cnt_lsb;
        // A stream cut before its first IDR counts from its first picture.
        if (!m_have_reference) {
            m_prev_msb = 0;
            m_prev_lsb = lsb;
        }
        const std::int64_t msb = order_msb(lsb, m_prev_lsb, m_prev_msb, max_lsb);
        top = msb + lsb;
        bottom = h.field_pic ? top : wrapped(as_bits(top) + as_bits(h.delta_pic_order_cnt_bottom));
        // Until a reference picture comes, the first picture stands in for
        // one, so that the pictures of a cut stream count on from it.
        if (reference || !m_have_reference) {
            m_have_reference = true;
            m_prev_msb = msb;
            m_prev_lsb = lsb;
        }
    } else {
        const std::int64_t max_frame_num = std::int64_t(1) << sps->log2_max_frame_num;
        std::int64_t offset = 0;
        if (!idr && m_have_frame_num)
            offset = m_prev_frame_num > h.frame_num ? m_prev_frame_num_offset + max_frame_num : m_prev_frame_num_offset;
        m_have_frame_num = true;
        m_prev_frame_num_offset = offset;
        m_prev_frame_num = h.frame_num;

        if (sps->poc_type == 1) {
            const std::uint64_t cycle = sps->offset_for_ref_frame.size();
            std::int64_t abs_frame_num = cycle != 0 ? offset + h.frame_num : 0;
            if (!reference && abs_frame_num > 0)
                --abs_frame_num;
            std::uint64_t expected = 0;
            if (abs_frame_num > 0) {
                std::uint64_t per_cycle = 0;
                for (const std::int32_t d : sps->offset_for_ref_frame)
                    per_cycle += as_bits(d);
                const std::uint64_t n = std::uint64_t(abs_frame_num - 1);
                expected = (n / cycle) * per_cycle;
                for (std::uint64_t i = 0; i <= n % cycle; ++i)
                    expected += as_bits(sps->offset_for_ref_frame[i]);
            }
            if (!reference)
                expected += as_bits(sps->offset_for_non_ref_pic);
            if (!h.field_pic) {
                top = wrapped(expected + as_bits(h.delta_pic_order_cnt[0]));
                bottom = wrapped(as_bits(top) + as_bits(sps->offset_for_top_to_bottom_field)
                                 + as_bits(h.delta_pic_order_cnt[1]));
            } else if (!h.bottom_field) {
                top = bottom = wrapped(expected + as_bits(h.delta_pic_order_cnt[0]));
            } else {
                top = bottom = wrapped(expected + as_bits(sps->offset_for_top_to_bottom_field)
                                       + as_bits(h.delta_pic_order_cnt[0]));
            }
        } else {
            top = idr ? 0 : 2 * (offset + h.frame_num) - (reference ? 0 : 1);
            bottom = top;
        }
    }
    if (!h.field_pic)
        *poc = std::min(top, bottom);
    else
        *poc = h.bottom_field ? bottom : top;
    return true;
}

PictureOrder::Picture PictureOrder::h265_picture(const unsigned char *nal, std::size_t size)
{
    Picture picture;
    const unsigned type = m_nal.type(nal[0]);
    const unsigned temporal_id = (nal[1] & 0x07) - 1u;
    const bool idr = type == 19 || type == 20;
    picture.key = type >= 16 && type <= 23;
    // BLA and IDR always drop what came before; a CRA only where a coded
    // sequence starts.
    picture.resets = picture.key && (type <= 20 || m_sequence_start);
    m_sequence_start = false;
    if (idr) {
        m_have_tid0 = true;
        m_tid0_msb = m_tid0_lsb = 0;
    }
    // Reserved types are not read: their headers may not be what they seem.
    if (!(type <= 9 || (type >= 16 && type <= 21)))
        return picture;

    H265SliceHeader h;
    const H265Sps *sps = nullptr;
    if (!parse_h265_slice_header(nal + 2, size - 2, type, m_h265_sets, &h, &sps) || h.dependent_slice_segment)
        return picture;
    m_active_sps = int(sps->id);

    const std::int64_t lsb = h.pic_order_cnt_lsb;
    std::int64_t msb = 0;
    if (!picture.resets) {
        // A stream cut before its first IRAP counts from its first picture,
        // which stands in for the missing one of temporal id 0 until one comes.
        if (!m_have_tid0) {
            m_tid0_msb = 0;
            m_tid0_lsb = lsb;
        }
        msb = order_msb(lsb, m_tid0_lsb, m_tid0_msb, std::int64_t(1) << sps->log2_max_poc_lsb);
    }
    if ((temporal_id == 0 && h265_is_tid0_candidate(type)) || !m_have_tid0) {
        m_have_tid0 = true;
        m_tid0_msb = msb;
        m_tid0_lsb = lsb;
    }
    picture.parsed = true;
    picture.poc = msb + lsb;
    return picture;
}

std::vector<std::uint32_t> display_order(const std::vector<PictureOrder::Picture> &pictures)
{
    const std::size_t n = pictures.size();
    std::vector<std::uint32_t> order(n);
    std::vector<std::size_t> parsed;
    std::size_t start = 0;
    for (std::size_t end = 1; end <= n; ++end) {
        if (end < n && !pictures[end].resets)
            continue;
        // The run [start, end): its parsed pictures take, in order of their
        // counts, the places in the run that they hold in decode order.
        parsed.clear();
        for (std::size_t i = start; i < end; ++i) {
            if (pictures[i].parsed)
                parsed.push_back(i);
            else
                order[i] = std::uint32_t(i);
        }
        std::vector<std::size_t> by_count = parsed;
        std::stable_sort(by_count.begin(), by_count.end(),
                         [&](std::size_t a, std::size_t b) { return pictures[a].poc < pictures[b].poc; });
        for (std::size_t k = 0; k < parsed.size(); ++k)
            order[by_count[k]] = std::uint32_t(parsed[k]);
        start = end;
    }
    return order;
}
