#include "rebuild/mdat_walk.h"

#include "rebuild/counted_window.h"
#include "rebuild/nal_syntax.h"
#include "scan/card_map.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes looked at for the ftyp box and the boxes before the mdat header.
constexpr std::uint64_t HEAD_BYTES = 65536;
constexpr std::uint64_t FTYP_LONGEST = 4096;

struct Chain {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // where the last unit that fits ends
    bool key = false;
    bool picture = false;   // holds a unit of coded picture data
};

// Walks on from the chain's end through NAL units, each with a valid header
// and ending no later than `bound` (the next frame start): the other tracks'
// bytes that follow a sample almost never begin with a length that ends by
// then.
void extend_chain(CountedWindow &card, const NalSyntax &nal, Chain &chain, std::uint64_t bound)
{
    const unsigned header = nal.header_bytes();
    std::uint64_t p = chain.end;
    while (p + 4 + header <= bound && p - chain.start < WALK_SAMPLE_LONGEST) {
        const unsigned char *b = card.at(p, 4 + header);
        if (!b)
            break;
        const std::uint64_t n = be32(b);
        if (n < header || n > bound - p - 4 || !nal.header_valid(b[4], header == 2 ? b[5] : 0))
            break;
        const unsigned type = nal.type(b[4]);
        chain.key = chain.key || nal.is_key(type);
        chain.picture = chain.picture || nal.is_slice(type);
        p += 4 + n;
        chain.end = p;
    }
}

// Whether the last sample walked is whole. The cut that ended the
// recording falls on a cluster boundary (of the recording's own grid, from
// Q), and the bytes after it are foreign: a last sample that ends in the
// cluster where it starts is whole; one that runs over a boundary may have
// run into the foreign bytes, whose first few look like the rest of a unit.
bool last_sample_whole(const WalkedSample &last)
{
    return last.offset / UNIT == (last.offset + last.size - 1) / UNIT;
}

}  // namespace

MdatWalk walk_mdat(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, std::uint64_t limit)
{
    MdatWalk walk;
    limit = std::min(limit, end);
    if (Q >= limit)
        return walk;
    std::uint64_t read = 0;
    CountedWindow card(source, end, &read, &walk.unreadable, WALK_WINDOW);
    const std::uint64_t held = std::min(HEAD_BYTES, limit - Q);
    const unsigned char *head = card.at(Q, held);
    if (!head || held < 16 || std::memcmp(head + 4, "ftyp", 4) != 0)
        return walk;
    walk.ftyp_size = be32(head);
    if (walk.ftyp_size < 8 || walk.ftyp_size > FTYP_LONGEST || walk.ftyp_size >= held)
        return walk;
    walk.lead = find_mdat_lead(head, held, walk.ftyp_size, held);
    if (!walk.lead.found)
        return walk;
    const std::uint64_t payload = Q + walk.lead.mdat_at + walk.lead.header;

    // The frame starts of the recording, in order, and its codec from the
    // first of them.
    const std::pair<std::size_t, std::size_t> range = map.frames_in(payload, limit);
    std::size_t f = range.first;
    const std::size_t f_end = range.second;
    if (f == f_end)
        return walk;
    const std::vector<MapFrame> &frames = map.frames();
    walk.codec = codec_of(frames[f].signature);
    const NalSyntax nal(walk.codec);
    auto next_frame = [&](std::uint64_t after) {
        while (f < f_end && frames[f].position <= after)
            ++f;
        return f < f_end && codec_of(frames[f].signature) == walk.codec ? frames[f].position : limit;
    };

    // One sample from s on; `bound` becomes the frame start after it. Units
    // ahead of its picture (x264 writes its version SEI before the first
    // frame's delimiter) leave the delimiter that follows them inside it.
    std::uint64_t bound = limit;
    auto walk_sample = [&](std::uint64_t s) {
        bound = next_frame(s);
        Chain chain{s, s};
        extend_chain(card, nal, chain, bound);
        while (!chain.picture && chain.end == bound && bound != limit) {
            bound = next_frame(bound);
            const std::uint64_t before = chain.end;
            extend_chain(card, nal, chain, bound);
            if (chain.end == before)
                break;
        }
        if (chain.end - chain.start > WALK_SAMPLE_LONGEST)
            chain.end = chain.start;
        return chain;
    };

    // The first sample may have no frame start of its own; when the payload
    // begins with something else (a camera's own data), the first frame
    // start begins it.
    Chain chain = walk_sample(payload);
    if (chain.end == chain.start && bound != limit && bound - payload <= WALK_GAP_LONGEST)
        chain = walk_sample(bound);
    while (chain.end > chain.start && walk.samples.size() < WALK_SAMPLE_CEILING) {
        walk.samples.push_back(WalkedSample{chain.start - Q, std::uint32_t(chain.end - chain.start), chain.key});
        if (bound == limit || bound - chain.end > WALK_GAP_LONGEST)
            break;
        chain = walk_sample(bound);
    }
    if (!walk.samples.empty() && !last_sample_whole(walk.samples.back())) {
        walk.samples.pop_back();
        walk.dropped_last = true;
    }
    return walk;
}
