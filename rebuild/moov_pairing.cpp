#include "rebuild/moov_pairing.h"

#include "rebuild/counted_window.h"
#include "rebuild/sample_check.h"
#include "rebuild/video_track.h"
#include "scan/card_map.h"
#include "scan/chunk_rule.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"

#include <algorithm>
#include <unordered_map>

std::vector<MoovChoice> moov_choices;

namespace {

// How far from a start its first chunks are looked for: the bytes before
// them (ftyp, free boxes, a camera's own data) stay well below this.
constexpr std::uint64_t FIT_REACH = std::uint64_t(16) << 20;
// Fewer chunks found than this is no fit when another box does better.
constexpr std::uint32_t SURE_FIT = 2;
// Boxes whose chains are walked at a start that no box fits by its frame
// starts, nearest first; the video bytes of a box's first chunks read for
// it, a few frames' worth; and the bytes read for all starts of a card.
constexpr std::size_t CHAIN_BOXES = 16;
constexpr std::uint64_t CHAIN_BYTES = CountedWindow::SPAN - UNIT;
constexpr std::uint64_t CHAIN_READ_LIMIT = std::uint64_t(256) << 20;
constexpr std::size_t CHAIN_ESCAPES = std::size_t(1) << 16;

struct BoxInfo {
    bool usable = false;
    VideoCodec codec = VideoCodec::None;
    std::vector<std::uint64_t> offsets;  // the first chunk offsets of its video track
    // The video sample sizes of those chunks, as far as the tables tell.
    std::vector<std::vector<std::uint32_t>> samples;
};

BoxInfo box_info(const CardMap &map, const MapMoov &moov, ByteSource *source, std::uint64_t end)
{
    BoxInfo info;
    if (moov.size < MOOV_MIN_SIZE || moov.size > MOOV_BUF_SIZE)
        return info;
    std::vector<unsigned char> read;
    const unsigned char *bytes = map.moov_copy(moov);
    if (!bytes) {
        if (!source)
            return info;
        read.resize(moov.size);
        map.moov_bytes(moov, source, end, read.data());
        bytes = read.data();
    }
    const VideoTrack track = VideoTrack::parse(bytes, moov.size);
    const ChunkTable &table = track.chunks();
    info.codec = track.codec();
    for (std::uint32_t j = 0; j < table.entries && j < FIT_CHUNKS; ++j) {
        info.offsets.push_back(chunk_offset(table, j));
        std::uint32_t first = 0, count = 0;
        std::vector<std::uint32_t> sizes;
        if (track.has_samples() && track.chunk_samples(j, &first, &count) && count <= 4096)
            for (std::uint32_t i = 0; i < count; ++i)
                sizes.push_back(track.sample_size(first + i));
        info.samples.push_back(std::move(sizes));
    }
    info.usable = !info.offsets.empty();
    return info;
}

// A frame start of the box's codec (of any, when the box names none).
bool frame_at(const CardMap &map, std::uint64_t position, VideoCodec codec)
{
    const auto range = map.frames_in(position, position + 1);
    return range.first != range.second
           && (codec == VideoCodec::None || codec_of(map.frames()[range.first].signature) == codec);
}

// Chunks found in a row from the start at the box's offsets. The first
// may have no frame start of its own (an SEI or parameter set first).
std::uint32_t fit(const CardMap &map, std::uint64_t start, const BoxInfo &box)
{
    std::uint32_t found = 0;
    for (std::size_t j = 0; j < box.offsets.size(); ++j) {
        if (box.offsets[j] > ~std::uint64_t(0) - start)
            break;
        if (frame_at(map, start + box.offsets[j], box.codec))
            ++found;
        else if (j != 0)
            break;
    }
    return found;
}

// Chunks in a row from the start whose video samples' NAL chains walk at
// the box's offsets: the fit of a recording whose chunks no frame start
// leads. Bytes from `card`, which holds the start's first bytes.
std::uint32_t chain_fit(CountedWindow &card, std::uint64_t start, const BoxInfo &box)
{
    std::uint32_t walked = 0;
    std::uint64_t read = 0;
    std::vector<std::uint32_t> marks;
    const std::vector<std::uint32_t> none;
    for (std::size_t j = 0; j < box.offsets.size() && j < box.samples.size(); ++j) {
        const std::vector<std::uint32_t> &sizes = box.samples[j];
        std::uint64_t video = 0;
        for (const std::uint32_t s : sizes)
            video += s;
        if (sizes.empty() || std::find(sizes.begin(), sizes.end(), 0u) != sizes.end()
            || box.offsets[j] > ~std::uint64_t(0) - start || video > CHAIN_BYTES - read)
            break;
        read += video;
        const unsigned char *bytes = card.at(start + box.offsets[j], video);
        if (!bytes || !find_escapes(bytes, 0, video, CHAIN_ESCAPES, &marks)
            || !samples_hold(box.codec, ChunkBytes{bytes, bytes, video, video}, sizes, marks, none))
            break;
        ++walked;
    }
    return walked;
}

// The index in the map of the box that group g's stretch gives its piece k,
// as the analysis of the stretch finds it; -1 when there is none.
long stretch_box(const CardMap &map, std::uint32_t g, int k, std::uint64_t end)
{
    const VideoGroup &group = group_list[g];
    const std::uint64_t P = group.head_pos;
    const std::uint64_t L = P < end ? std::min(group.tail_pos - P, end - P) : 0;
    if (L == 0)
        return -1;
    const std::uint64_t search_end = P + read_length_for(L) - START_SPAN;
    const auto range = map.moovs_in(P, search_end);
    if (range.first + std::size_t(k) >= range.second)
        return -1;
    const MapMoov &box = map.moovs()[range.first + std::size_t(k)];
    return box.size < MOOV_MIN_SIZE || box.size > MOOV_BUF_SIZE ? -1 : long(range.first) + k;
}

}  // namespace

std::vector<MoovChoice> pair_moovs(const CardMap &map, ByteSource *source, std::uint64_t end)
{
    const std::vector<MapMoov> &moovs = map.moovs();
    std::vector<BoxInfo> boxes;
    boxes.reserve(moovs.size());
    // Boxes by their first and second chunk offset, to find the candidates
    // for a start from the frames that follow it.
    std::unordered_multimap<std::uint64_t, std::uint32_t> by_offset;
    for (std::uint32_t i = 0; i < moovs.size(); ++i) {
        boxes.push_back(box_info(map, moovs[i], source, end));
        for (std::size_t j = 0; j < boxes.back().offsets.size() && j < 2; ++j)
            by_offset.emplace(boxes.back().offsets[j], i);
    }

    struct Piece {
        std::uint64_t start;
        long stretch;
    };
    std::vector<Piece> pieces;
    for (std::uint32_t g = 0; g < group_count(); ++g)
        for (int k = 0; k < group_pieces(g); ++k)
            pieces.push_back(Piece{group_list[g].piece_pos[k], stretch_box(map, g, k, end)});

    std::vector<MoovChoice> choices(pieces.size());
    std::vector<bool> taken(moovs.size(), false);
    auto take = [&](std::size_t n, std::uint32_t box, std::uint32_t fitted) {
        taken[box] = true;
        MoovChoice &c = choices[n];
        c.found = true;
        c.box = box;
        c.position = moovs[box].position;
        c.size = moovs[box].size;
        c.from_stretch = long(box) == pieces[n].stretch;
        c.fit = fitted;
    };
    // The best free box for a piece: most chunks found, then the nearest.
    auto best_free = [&](std::size_t n, std::uint32_t *fitted) -> long {
        const std::uint64_t Q = pieces[n].start;
        long best = -1;
        std::uint32_t best_fit = 0;
        const auto frames = map.frames_in(Q, Q + FIT_REACH);
        for (std::size_t f = frames.first; f < frames.second; ++f) {
            const auto range = by_offset.equal_range(map.frames()[f].position - Q);
            for (auto it = range.first; it != range.second; ++it) {
                const std::uint32_t box = it->second;
                if (taken[box] || !boxes[box].usable)
                    continue;
                const std::uint32_t got = fit(map, Q, boxes[box]);
                const auto distance = [&](long b) {
                    const std::uint64_t p = moovs[std::size_t(b)].position;
                    return p >= Q ? p - Q : (std::uint64_t(1) << 63) + (Q - p);
                };
                if (got > best_fit || (got == best_fit && got != 0 && best >= 0 && distance(long(box)) < distance(best))) {
                    best = long(box);
                    best_fit = got;
                }
            }
        }
        *fitted = best_fit;
        return best;
    };

    // A piece keeps its stretch's box when the box surely fits it.
    for (std::size_t n = 0; n < pieces.size(); ++n) {
        const long box = pieces[n].stretch;
        if (box < 0 || taken[std::size_t(box)] || !boxes[std::size_t(box)].usable)
            continue;
        const std::uint32_t got = fit(map, pieces[n].start, boxes[std::size_t(box)]);
        if (got >= SURE_FIT)
            take(n, std::uint32_t(box), got);
    }
    // Else the box from anywhere that surely fits it best.
    for (std::size_t n = 0; n < pieces.size(); ++n) {
        if (choices[n].found)
            continue;
        std::uint32_t got = 0;
        const long box = best_free(n, &got);
        if (box >= 0 && got >= SURE_FIT)
            take(n, std::uint32_t(box), got);
    }
    // Else, for a start no box fits by frame starts, the box whose first
    // chunks' chains walk there: its stretch's first, then the nearest.
    std::uint64_t chain_read = 0, chain_unreadable = 0;
    if (source) {
        for (std::size_t n = 0; n < pieces.size() && chain_read < CHAIN_READ_LIMIT; ++n) {
            if (choices[n].found)
                continue;
            const std::uint64_t Q = pieces[n].start;
            std::vector<std::uint32_t> order;
            for (std::uint32_t b = 0; b < boxes.size(); ++b)
                if (!taken[b] && boxes[b].usable && boxes[b].codec != VideoCodec::None && long(b) != pieces[n].stretch)
                    order.push_back(b);
            const auto distance = [&](std::uint32_t b) {
                const std::uint64_t p = moovs[b].position;
                return p >= Q ? p - Q : (std::uint64_t(1) << 63) + (Q - p);
            };
            const std::size_t tried = std::min(order.size(), CHAIN_BOXES - 1);
            std::partial_sort(order.begin(), order.begin() + long(tried), order.end(),
                              [&](std::uint32_t a, std::uint32_t b) { return distance(a) < distance(b); });
            order.resize(tried);
            const long stretch = pieces[n].stretch;
            if (stretch >= 0 && !taken[std::size_t(stretch)] && boxes[std::size_t(stretch)].usable)
                order.insert(order.begin(), std::uint32_t(stretch));
            CountedWindow card(*source, end, &chain_read, &chain_unreadable);
            long best = -1;
            std::uint32_t best_fit = 0;
            for (const std::uint32_t b : order) {
                const std::uint32_t got = chain_fit(card, Q, boxes[b]);
                if (got > best_fit) {
                    best = long(b);
                    best_fit = got;
                }
            }
            if (best >= 0 && best_fit >= SURE_FIT)
                take(n, std::uint32_t(best), best_fit);
        }
    }
    // Else its stretch's box as before, unless another piece took it; else
    // whatever fits at all.
    for (std::size_t n = 0; n < pieces.size(); ++n) {
        if (choices[n].found)
            continue;
        const long box = pieces[n].stretch;
        if (box >= 0 && !taken[std::size_t(box)]) {
            take(n, std::uint32_t(box), boxes[std::size_t(box)].usable ? fit(map, pieces[n].start, boxes[std::size_t(box)]) : 0);
            continue;
        }
        std::uint32_t got = 0;
        const long other = best_free(n, &got);
        if (other >= 0 && got >= 1)
            take(n, std::uint32_t(other), got);
    }
    return choices;
}
