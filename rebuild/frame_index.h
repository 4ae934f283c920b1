// The index of the frames found in one group's stretch, through which the
// rebuild puts chunks back: a frame stands for a chunk when its position
// agrees with the chunk's offset in the low 12 bits and the lengths are equal.
//
// Frames are kept in the order they were entered. Lookups go through a table
// sorted by (bucket, length, order entered), built on the first lookup after
// an insert, so a Find costs a binary search however full its bucket is, and
// the earliest entered frame of a (bucket, length) still wins.
#pragma once

#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct FrameNode {
    std::uint64_t position;  // where the frame starts on the source
    std::uint64_t length;    // bytes up to the next frame start
};

constexpr std::uint32_t FRAME_BUCKETS = 4096;
constexpr std::uint64_t FRAME_BUCKET_MASK = FRAME_BUCKETS - 1;
// A card full of frame starts must not exhaust memory: past this many
// frames (about 420 MB with the lookup table) further frames are counted and
// dropped.
constexpr std::uint64_t FRAME_NODE_LIMIT = std::uint64_t(1) << 24;
// Frames that end where a moov box starts; a card can hold only a few real
// ones, so a hostile card's excess is dropped.
constexpr std::uint64_t TAIL_LIMIT = 65536;

class FrameIndex
{
public:
    explicit FrameIndex(std::uint64_t node_limit = FRAME_NODE_LIMIT);

    // Forgets every frame and zeroes the counts.
    void Empty();
    // Enters a frame. Equal positions and equal lengths are all kept. False
    // (and counted in dropped()) when the index is full.
    bool Insert(std::uint64_t position, std::uint64_t length);
    // The earliest entered frame still in the index of the key's bucket
    // with exactly this length; the key selects the bucket only. Pointers
    // stay valid until the next Insert or Empty.
    const FrameNode *Find(std::uint64_t key, std::uint64_t length) const;
    // The same, but the first such frame at or after `from` when there is
    // one (frames entered in increasing position order): where a recording
    // goes on after a piece of it.
    const FrameNode *FindFrom(std::uint64_t key, std::uint64_t length, std::uint64_t from) const;
    // Takes out the frame that Find(key, length) returns, if any.
    void Remove(std::uint64_t key, std::uint64_t length);

    // The earliest entered frame still in the index that starts at
    // `position`. Needs the frames entered in increasing position order, as
    // the region analysis enters them; nothing otherwise.
    const FrameNode *FindAt(std::uint64_t position) const;
    // Calls visit(frame) for the frames still in the index that start in
    // [from, to), in position order. Needs the frames entered in increasing
    // position order; nothing otherwise.
    template <typename Visit>
    void visit_range(std::uint64_t from, std::uint64_t to, Visit &&visit) const
    {
        if (!m_ascending)
            return;
        auto it = std::lower_bound(m_frames.begin(), m_frames.end(), from,
                                   [](const FrameNode &f, std::uint64_t p) { return f.position < p; });
        for (; it != m_frames.end() && it->position < to; ++it)
            if (!m_gone[std::size_t(it - m_frames.begin())])
                visit(*it);
    }
    // The frame still in the index that starts last before `position`, no
    // earlier than `from`, looking past at most `steps` taken frames; needs
    // the frames entered in increasing position order.
    const FrameNode *LastBefore(std::uint64_t position, std::uint64_t from, std::uint32_t steps) const;
    // Takes out a frame that Find, FindAt or visit_bucket returned, or last().
    void Take(const FrameNode *frame);
    // Calls visit(frame) for the frames still in the index of the key's
    // bucket, shortest first and, within a length, earliest first, until it
    // returns false or `limit` frames were visited.
    template <typename Visit>
    void visit_bucket(std::uint64_t key, std::uint32_t limit, Visit &&visit) const;

    // A frame that ends where a moov box of `moov_size` bytes starts.
    bool InsertTail(std::uint64_t position, std::uint64_t length, std::uint64_t moov_size);
    // The earliest such frame still in the index at `position` whose moov
    // box has that size (tails entered in increasing position order).
    const FrameNode *FindTailAt(std::uint64_t position, std::uint64_t moov_size) const;
    // Calls visit(tail) for such frames still in the index of the key's
    // bucket whose moov box has that size, earliest first, until it returns
    // false.
    template <typename Visit>
    void visit_tails(std::uint64_t key, std::uint64_t moov_size, Visit &&visit) const
    {
        for (const Tail &t : m_tails)
            if (!t.gone && t.moov_size == moov_size
                && (t.frame.position & FRAME_BUCKET_MASK) == (key & FRAME_BUCKET_MASK) && !visit(t.frame))
                return;
    }
    void TakeTail(const FrameNode *tail);
    // Calls f(tail, moov_size) for every tail still in the index, in the
    // order entered.
    template <typename F>
    void for_each_tail(F &&f) const
    {
        for (const Tail &t : m_tails)
            if (!t.gone)
                f(t.frame, t.moov_size);
    }

    // The last frame start of the stretch, which has no next one, with the
    // bytes from it to the end of what was read. Not a frame: Find, FindAt
    // and visit_bucket never give it; null once taken or emptied.
    void SetLast(std::uint64_t position, std::uint64_t length);
    const FrameNode *last() const { return m_has_last ? &m_last : nullptr; }

    // Calls f(frame) for every frame still in the index, in the order entered.
    template <typename F>
    void for_each(F &&f) const
    {
        for (std::size_t i = 0; i < m_frames.size(); ++i)
            if (!m_gone[i])
                f(m_frames[i]);
    }
    std::uint64_t size() const { return m_live; }
    std::uint64_t tails() const { return m_tails.size(); }
    std::uint64_t dropped() const { return m_dropped; }

private:
    struct Tail {
        FrameNode frame;
        std::uint64_t moov_size;
        bool gone;
    };

    void build() const;
    // The first slot at or after `slot` of the sorted table whose frame is
    // still in the index.
    std::uint32_t live_from(std::uint32_t slot) const;
    // Slots [first, last) of the sorted table that hold the bucket.
    std::uint32_t bucket_begin(std::uint64_t key) const { return m_bucket_begin[key & FRAME_BUCKET_MASK]; }
    std::uint32_t bucket_end(std::uint64_t key) const { return m_bucket_begin[(key & FRAME_BUCKET_MASK) + 1]; }
    std::uint32_t lower_slot(std::uint64_t key, std::uint64_t length) const;

    std::vector<FrameNode> m_frames;  // in the order entered
    std::vector<unsigned char> m_gone;
    bool m_ascending = true;          // positions entered in increasing order
    std::uint64_t m_limit;
    std::uint64_t m_live = 0;
    std::uint64_t m_dropped = 0;
    std::vector<Tail> m_tails;
    FrameNode m_last{0, 0};
    bool m_has_last = false;

    // The lookup table: frame numbers sorted by (bucket, length, number),
    // each bucket's first slot, and for each slot the next slot that may
    // still hold a frame (a taken frame points past itself, and the links
    // are shortened as they are followed).
    mutable bool m_built = false;
    mutable std::vector<std::uint32_t> m_sorted;
    mutable std::vector<std::uint32_t> m_next;
    mutable std::uint32_t m_bucket_begin[FRAME_BUCKETS + 1] = {};
};

template <typename Visit>
void FrameIndex::visit_bucket(std::uint64_t key, std::uint32_t limit, Visit &&visit) const
{
    if (!m_built)
        build();
    const std::uint32_t end = bucket_end(key);
    std::uint32_t slot = live_from(bucket_begin(key));
    for (std::uint32_t n = 0; slot < end && n < limit; ++n) {
        if (!visit(m_frames[m_sorted[slot]]))
            return;
        slot = live_from(slot + 1);
    }
}

class CardMap;

// The indexes of the process, one per codec, so that a chunk is only ever
// matched with frames of its own track's codec (a camera's H.265 recording
// and its H.264 proxy lie side by side). A track of no known codec is read
// as H.264.
//
// The frames of the stretch being analysed; they serve one group at a time.
FrameIndex &stretch_frames(VideoCodec codec);
void empty_stretch_frames();
// The frames of the whole card, each from its start to the next frame start
// of either codec on the card, for recordings that go on outside their
// group's stretch; filled afresh from the map.
FrameIndex &card_frames(VideoCodec codec);
void index_card_frames(const CardMap &map);
