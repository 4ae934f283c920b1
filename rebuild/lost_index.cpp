#include "rebuild/lost_index.h"

#include "rebuild/counted_window.h"
#include "rebuild/index_writer.h"
#include "rebuild/mdat_walk.h"
#include "rebuild/picture_order.h"
#include "rebuild/sample_decode.h"
#include "rebuild/video_track.h"
#include "scan/card_map.h"
#include "scan/scan_tables.h"

#include <QByteArray>
#include <algorithm>

namespace {

// Siblings whose parameter sets are tried on the first key frame, nearest
// first: each try is one ffmpeg run.
constexpr std::size_t SIBLINGS_TRIED = 8;

// The first position > Q of a table sorted by position, or `end`.
template <typename Table, typename Position>
std::uint64_t first_after(const Table &table, std::uint32_t count, std::uint64_t Q, std::uint64_t end, Position position)
{
    std::uint32_t lo = 0, hi = count;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (position(table[mid]) <= Q)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < count ? std::min(end, position(table[lo])) : end;
}

struct Sibling {
    std::vector<unsigned char> moov;
    VideoTrack track;
};

// The box of the card whose video track decodes the first key frame, of the
// walk's codec; nearest the recording first.
bool choose_sibling(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, VideoCodec codec,
                    const QByteArray &key_frame, Sibling *chosen)
{
    std::vector<std::size_t> order(map.moovs().size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto distance = [&](std::size_t i) {
        const std::uint64_t p = map.moovs()[i].position;
        return p > Q ? p - Q : Q - p;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return distance(a) < distance(b); });
    std::size_t tried = 0;
    for (const std::size_t i : order) {
        const MapMoov &box = map.moovs()[i];
        if (box.size < MOOV_MIN_SIZE || box.size > MOOV_BUF_SIZE)
            continue;
        Sibling s;
        s.moov.resize(box.size);
        map.moov_bytes(box, &source, end, s.moov.data());
        s.track = VideoTrack::parse(s.moov.data(), s.moov.size());
        if (s.track.codec() != codec || s.track.parameter_sets().empty())
            continue;
        if (++tried > SIBLINGS_TRIED)
            return false;
        const Decoded d = decode_key_frame(s.track, key_frame);
        // Without ffmpeg the nearest of the codec is the best guess.
        if (d == Decoded::Clean || d == Decoded::Unknown) {
            *chosen = std::move(s);
            // The track points into the box's bytes, which moved with it.
            chosen->track = VideoTrack::parse(chosen->moov.data(), chosen->moov.size());
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint64_t next_start_after(std::uint64_t Q, std::uint64_t end)
{
    std::uint64_t next = first_after(start_list, start_num, Q, end, [](const StartMark &m) { return m.position; });
    next = std::min(next, first_after(qt_list, qt_num, Q, end, [](std::uint64_t p) { return p; }));
    return std::min(next, first_after(photo_list, photo_num, Q, end, [](const PhotoInfo &p) { return p.position; }));
}

bool plan_lost_index(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, VideoPlan *plan)
{
    const MdatWalk walk = walk_mdat(source, end, map, Q, next_start_after(Q, end));
    if (walk.samples.size() < LOST_INDEX_MIN_SAMPLES || walk.codec == VideoCodec::None)
        return false;

    std::uint64_t read = 0, unreadable = 0;
    CountedWindow card(source, end, &read, &unreadable, WALK_WINDOW);
    auto sample_bytes = [&](const WalkedSample &s) {
        const unsigned char *b = card.at(Q + s.offset, s.size);
        return b ? QByteArray(reinterpret_cast<const char *>(b), int(s.size)) : QByteArray();
    };
    const auto key = std::find_if(walk.samples.begin(), walk.samples.end(), [](const WalkedSample &s) { return s.key; });
    Sibling sibling;
    const bool have_sibling = key != walk.samples.end()
                              && choose_sibling(source, end, map, Q, walk.codec, sample_bytes(*key), &sibling);

    VideoPlan p;
    p.piece = Q;
    p.index = have_sibling ? IndexOrigin::Rebuilt : IndexOrigin::None;
    p.codec = walk.codec;
    p.lead_kept = true;
    p.head_length = walk.samples.front().offset;
    p.data_start = p.head_length;
    p.mdat_at = walk.lead.mdat_at;
    p.mdat_header = walk.lead.header;
    for (const WalkedSample &s : walk.samples) {
        PlannedChunk c;
        c.offset = s.offset;
        c.card_pos = Q + s.offset;
        c.length = s.size;
        c.first = s.size;
        c.located = ChunkSource::Frame;
        p.chunks.push_back(c);
    }
    p.table_chunks = static_cast<std::uint32_t>(p.chunks.size());
    p.walk_end = walk.samples.back().offset + walk.samples.back().size;
    p.unreadable = walk.unreadable;

    if (have_sibling) {
        PictureOrder order(walk.codec);
        for (const VideoTrack::ParameterSet &set : sibling.track.parameter_sets())
            order.add_parameter_set(set.bytes, set.size);
        std::vector<PictureOrder::Picture> pictures;
        pictures.reserve(walk.samples.size());
        for (const WalkedSample &s : walk.samples) {
            const unsigned char *b = card.at(Q + s.offset, s.size);
            pictures.push_back(b ? order.next(b, s.size) : PictureOrder::Picture{});
        }
        p.moov = write_index(sibling.moov.data(), sibling.moov.size(), walk.samples, display_order(pictures));
        if (p.moov.empty())
            p.index = IndexOrigin::None;
    }
    p.unreadable += unreadable;
    *plan = std::move(p);
    return true;
}
