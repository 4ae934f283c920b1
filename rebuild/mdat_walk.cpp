#include "rebuild/mdat_walk.h"

#include "rebuild/card_window.h"
#include "rebuild/nal_syntax.h"
#include "scan/card_map.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes looked at for the ftyp box and the boxes before the mdat header.
constexpr std::uint64_t HEAD_BYTES = 65536;
constexpr std::uint64_t FTYP_LONGEST = 4096;

struct Chain {
    std::uint64_t end = 0;  // where the last unit that fits ends
    bool key = false;
};

// The NAL units from `at` on, each with a valid header and ending no later
// than `bound` (the next frame start): the other tracks' bytes that follow a
// sample almost never begin with a length that ends by then.
Chain walk_chain(CardWindowReader &card, const NalSyntax &nal, std::uint64_t at, std::uint64_t bound)
{
    Chain chain{at, false};
    const unsigned header = nal.header_bytes();
    std::uint64_t p = at;
    while (p + 4 + header <= bound && p - at < WALK_SAMPLE_LONGEST) {
        const unsigned char *b = card.at(p, 4 + header);
        if (!b)
            break;
        const std::uint64_t n = be32(b);
        if (n < header || n > bound - p - 4 || !nal.header_valid(b[4], header == 2 ? b[5] : 0))
            break;
        chain.key = chain.key || nal.is_key(nal.type(b[4]));
        p += 4 + n;
        chain.end = p;
    }
    if (chain.end - at > WALK_SAMPLE_LONGEST)
        chain.end = at;
    return chain;
}

}  // namespace

MdatWalk walk_mdat(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, std::uint64_t limit)
{
    MdatWalk walk;
    limit = std::min(limit, end);
    if (Q >= limit)
        return walk;
    CardWindowReader card(source, end);
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

    // The first sample may have no frame start of its own; when the payload
    // begins with something else (a camera's own data), the first frame
    // start begins it.
    std::uint64_t s = payload;
    std::uint64_t bound = next_frame(s);
    Chain chain = walk_chain(card, nal, s, bound);
    if (chain.end == s && bound != limit && bound - s <= WALK_GAP_LONGEST) {
        s = bound;
        bound = next_frame(s);
        chain = walk_chain(card, nal, s, bound);
    }
    while (chain.end > s && walk.samples.size() < WALK_SAMPLE_CEILING) {
        walk.samples.push_back(WalkedSample{s - Q, std::uint32_t(chain.end - s), chain.key});
        if (bound == limit || bound - chain.end > WALK_GAP_LONGEST)
            break;
        s = bound;
        bound = next_frame(s);
        chain = walk_chain(card, nal, s, bound);
    }
    if (!walk.samples.empty()) {
        walk.samples.pop_back();
        walk.dropped_last = true;
    }
    walk.unreadable = card.unreadable();
    return walk;
}
