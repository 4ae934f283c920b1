#include "rebuild/region_analysis.h"

#include "drives/drive_table.h"
#include "rebuild/frame_index.h"
#include "scan/card_map.h"
#include "scan/chunk_rule.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstring>

namespace {

// Enters what the map holds of a stretch into the stretch's frame index of
// each frame's codec and the group's moov pairs, in position order, as a
// walk over the stretch's bytes would. A frame runs to the next frame start
// of either codec.
class StretchTake
{
public:
    StretchTake(const CardMap &map, ByteSource *source, std::uint64_t end, VideoGroup &group, RegionReport &report)
        : m_map(map), m_source(source), m_end(end), m_group(group), m_report(report)
    {
    }

    void frame_start(const MapFrame &frame)
    {
        if (m_have_frame) {
            if (stretch_frames(m_codec).Insert(m_frame, frame.position - m_frame))
                ++m_report.frames;
            else
                ++m_report.frames_dropped;
        }
        m_frame = frame.position;
        m_codec = codec_of(frame.signature);
        m_have_frame = true;
    }

    void moov_start(const MapMoov &moov)
    {
        const std::uint64_t found = m_report.moov_found++;
        if (found >= MOOV_SLOTS)
            return;
        const int k = static_cast<int>(found);
        m_group.moov_pos[k] = moov.position;
        if (moov.size < MOOV_MIN_SIZE || moov.size > MOOV_BUF_SIZE) {
            zero_buffer(moov_buf[k], MOOV_BUF_SIZE);
            ++m_report.moov_unfit;
            return;
        }
        m_group.moov_size[k] = moov.size;
        ++m_report.moov_kept;
        // The bytes from the last frame start up to a moov box are the last
        // chunk of a recording that ends right before its moov box. The
        // frame start still runs on to the next one as well.
        if (m_have_frame && stretch_frames(m_codec).InsertTail(m_frame, moov.position - m_frame, moov.size))
            ++m_report.tails;
        zero_buffer(moov_buf[k] + moov.size, MOOV_BUF_SIZE - moov.size);
        m_report.unreadable += m_map.moov_bytes(moov, m_source, m_end, moov_buf[k]);
    }

    // The last frame start has no next one: its recording may go on
    // elsewhere on the card.
    void finish(std::uint64_t read_end)
    {
        if (m_have_frame)
            stretch_frames(m_codec).SetLast(m_frame, read_end - m_frame);
    }

private:
    const CardMap &m_map;
    ByteSource *m_source;
    std::uint64_t m_end;
    VideoGroup &m_group;
    RegionReport &m_report;
    std::uint64_t m_frame = 0;
    VideoCodec m_codec = VideoCodec::None;
    bool m_have_frame = false;
};

// Empties the index and the group's pairs; false with the reason when g is
// no slot of the group table.
bool begin_region(int g, RegionReport &report)
{
    empty_stretch_frames();
    if (g < 0 || !group_list.room(static_cast<std::uint32_t>(g))) {
        report.error = QStringLiteral("group %1 is not a slot of the group table").arg(g);
        return false;
    }
    VideoGroup &group = group_list[std::size_t(g)];
    std::fill(group.moov_pos, group.moov_pos + MOOV_SLOTS, 0);
    std::fill(group.moov_size, group.moov_size + MOOV_SLOTS, 0);
    return true;
}

}  // namespace

RegionReport analyse_region(const CardMap &map, ByteSource *source, std::uint64_t end, int g, std::uint64_t L,
                            std::uint64_t P)
{
    RegionReport report;
    if (!begin_region(g, report))
        return report;
    // Past the source's end there is nothing but zeros to search.
    L = P < end ? std::min(L, end - P) : 0;
    if (L == 0)
        return report;
    // The stretch is what its reading in the scan's chunks would cover, but
    // for the last START_SPAN bytes, where no start can be recognised.
    const std::uint64_t read_end = P + read_length_for(L);
    const std::uint64_t search_end = read_end - START_SPAN;

    StretchTake take(map, source, end, group_list[std::size_t(g)], report);
    const std::vector<MapFrame> &frames = map.frames();
    const std::vector<MapMoov> &moovs = map.moovs();
    auto [f, f_end] = map.frames_in(P, search_end);
    auto [m, m_end] = map.moovs_in(P, search_end);
    while (f < f_end || m < m_end) {
        if (m == m_end || (f < f_end && frames[f].position < moovs[m].position))
            take.frame_start(frames[f++]);
        else
            take.moov_start(moovs[m++]);
    }
    take.finish(read_end);
    return report;
}

RegionReport analyse_region(ByteSource &source, std::uint64_t end, int g, std::uint64_t L, std::uint64_t P)
{
    CardMap stretch;
    CardMapBuilder builder(stretch, P);
    const std::uint64_t len = P < end ? std::min(L, end - P) : 0;
    std::uint64_t unreadable = 0;
    std::uint64_t at = P;
    for (std::uint64_t remaining = len; remaining != 0;) {
        const std::uint64_t n = chunk_size_for(remaining);
        unreadable += read_source(source, at, read_buf, n, end).unreadable;
        builder.feed(read_buf, n);
        at += n;
        remaining -= std::min(n, remaining);
    }
    builder.finish(false);
    RegionReport report = analyse_region(stretch, &source, end, g, L, P);
    report.unreadable += unreadable;
    return report;
}

namespace {

RegionReport from_card_map(ByteSource *source, std::uint64_t end, int g, std::uint64_t L, std::uint64_t P)
{
    const std::uint64_t len = P < end ? std::min(L, end - P) : 0;
    if (source && len != 0 && !card_map.covers(P + read_length_for(len) - START_SPAN))
        return analyse_region(*source, end, g, L, P);
    return analyse_region(card_map, source, end, g, L, P);
}

}  // namespace

RegionReport analyse_group(std::uint32_t g, ByteSource *source, std::uint64_t end)
{
    const VideoGroup &group = group_list[g];
    return from_card_map(source, source ? end : 0, int(g), group.tail_pos - group.head_pos, group.head_pos);
}

RegionReport analyse_region(int g, std::uint64_t L, std::uint64_t P)
{
    QString why;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &why);
    return from_card_map(source.get(), source ? source_size() : 0, g, L, P);
}
