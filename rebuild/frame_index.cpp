#include "rebuild/frame_index.h"

#include "scan/card_map.h"

#include <algorithm>
#include <new>

namespace {

FrameIndex stretch_indexes[2];
FrameIndex card_indexes[2];

std::size_t slot_of(VideoCodec codec)
{
    return codec == VideoCodec::H265 ? 1 : 0;
}

}  // namespace

FrameIndex &stretch_frames(VideoCodec codec)
{
    return stretch_indexes[slot_of(codec)];
}

void empty_stretch_frames()
{
    for (FrameIndex &index : stretch_indexes)
        index.Empty();
}

FrameIndex &card_frames(VideoCodec codec)
{
    return card_indexes[slot_of(codec)];
}

void index_card_frames(const CardMap &map)
{
    for (FrameIndex &index : card_indexes)
        index.Empty();
    const std::vector<MapFrame> &frames = map.frames();
    for (std::size_t i = 0; i + 1 < frames.size(); ++i)
        card_frames(codec_of(frames[i].signature)).Insert(frames[i].position, frames[i + 1].position - frames[i].position);
    if (!frames.empty())
        card_frames(codec_of(frames.back().signature))
                .SetLast(frames.back().position, map.searched_end() - frames.back().position);
}

namespace {

// Memory kept for the next group when the index is emptied; a hostile
// group's hundreds of megabytes are given back.
constexpr std::size_t KEPT_FRAMES = std::size_t(1) << 20;

template <typename T>
void clear_and_trim(std::vector<T> &v)
{
    if (v.capacity() > KEPT_FRAMES)
        std::vector<T>().swap(v);
    else
        v.clear();
}

}  // namespace

// Frame numbers are 32-bit.
FrameIndex::FrameIndex(std::uint64_t node_limit) : m_limit(std::min<std::uint64_t>(node_limit, 0x7FFFFFF0u)) {}

void FrameIndex::Empty()
{
    clear_and_trim(m_frames);
    clear_and_trim(m_gone);
    clear_and_trim(m_sorted);
    clear_and_trim(m_next);
    m_tails.clear();
    m_has_last = false;
    m_ascending = true;
    m_live = 0;
    m_dropped = 0;
    m_built = false;
}

bool FrameIndex::Insert(std::uint64_t position, std::uint64_t length)
{
    // Taken frames keep their place until the index is emptied, so a bound
    // on all that was entered keeps the memory bounded too.
    if (m_live >= m_limit || m_frames.size() >= 2 * m_limit) {
        ++m_dropped;
        return false;
    }
    try {
        m_frames.push_back(FrameNode{position, length});
        m_gone.push_back(0);
    } catch (const std::bad_alloc &) {
        m_frames.resize(m_gone.size());
        ++m_dropped;
        return false;
    }
    if (m_frames.size() > 1 && position < m_frames[m_frames.size() - 2].position)
        m_ascending = false;
    ++m_live;
    m_built = false;
    return true;
}

void FrameIndex::build() const
{
    m_built = true;
    const std::size_t n = m_frames.size();
    try {
        m_sorted.resize(n);
        m_next.resize(n + 1);
    } catch (const std::bad_alloc &) {
        // No table: every lookup finds nothing, as for an empty index.
        std::vector<std::uint32_t>().swap(m_sorted);
        std::vector<std::uint32_t>().swap(m_next);
        std::fill(m_bucket_begin, m_bucket_begin + FRAME_BUCKETS + 1, 0);
        return;
    }
    // Counting sort by bucket keeps the order entered within a bucket; a
    // stable sort by length then keeps it within a length.
    std::fill(m_bucket_begin, m_bucket_begin + FRAME_BUCKETS + 1, 0);
    for (const FrameNode &f : m_frames)
        ++m_bucket_begin[(f.position & FRAME_BUCKET_MASK) + 1];
    for (std::uint32_t b = 0; b < FRAME_BUCKETS; ++b)
        m_bucket_begin[b + 1] += m_bucket_begin[b];
    std::uint32_t fill[FRAME_BUCKETS];
    std::copy(m_bucket_begin, m_bucket_begin + FRAME_BUCKETS, fill);
    for (std::uint32_t i = 0; i < n; ++i)
        m_sorted[fill[m_frames[i].position & FRAME_BUCKET_MASK]++] = i;
    for (std::uint32_t b = 0; b < FRAME_BUCKETS; ++b)
        std::stable_sort(m_sorted.begin() + m_bucket_begin[b], m_sorted.begin() + m_bucket_begin[b + 1],
                         [this](std::uint32_t x, std::uint32_t y) { return m_frames[x].length < m_frames[y].length; });
    for (std::uint32_t s = 0; s < n; ++s)
        m_next[s] = m_gone[m_sorted[s]] ? s + 1 : s;
    m_next[n] = std::uint32_t(n);
}

std::uint32_t FrameIndex::live_from(std::uint32_t slot) const
{
    if (slot >= m_sorted.size())
        return slot;
    std::uint32_t root = slot;
    while (m_next[root] != root)
        root = m_next[root];
    while (m_next[slot] != root) {
        const std::uint32_t next = m_next[slot];
        m_next[slot] = root;
        slot = next;
    }
    return root;
}

std::uint32_t FrameIndex::lower_slot(std::uint64_t key, std::uint64_t length) const
{
    const auto first = m_sorted.begin() + bucket_begin(key), last = m_sorted.begin() + bucket_end(key);
    return std::uint32_t(std::lower_bound(first, last, length, [this](std::uint32_t i, std::uint64_t len) {
                             return m_frames[i].length < len;
                         }) - m_sorted.begin());
}

const FrameNode *FrameIndex::FindFrom(std::uint64_t key, std::uint64_t length, std::uint64_t from) const
{
    if (!m_built)
        build();
    if (m_ascending && length != ~std::uint64_t(0)) {
        // Within a bucket and a length, slots run in the order entered, so
        // by position.
        const auto first = m_sorted.begin() + lower_slot(key, length);
        const auto last = m_sorted.begin() + lower_slot(key, length + 1);
        const auto at = std::lower_bound(first, last, from,
                                         [this](std::uint32_t i, std::uint64_t p) { return m_frames[i].position < p; });
        const std::uint32_t slot = live_from(std::uint32_t(at - m_sorted.begin()));
        if (slot < std::uint32_t(last - m_sorted.begin()))
            return &m_frames[m_sorted[slot]];
    }
    return Find(key, length);
}

const FrameNode *FrameIndex::Find(std::uint64_t key, std::uint64_t length) const
{
    if (!m_built)
        build();
    const std::uint32_t slot = live_from(lower_slot(key, length));
    if (slot >= bucket_end(key) || m_frames[m_sorted[slot]].length != length)
        return nullptr;
    return &m_frames[m_sorted[slot]];
}

void FrameIndex::Remove(std::uint64_t key, std::uint64_t length)
{
    if (const FrameNode *f = Find(key, length))
        Take(f);
}

const FrameNode *FrameIndex::FindAt(std::uint64_t position) const
{
    if (!m_ascending)
        return nullptr;
    auto it = std::lower_bound(m_frames.begin(), m_frames.end(), position,
                               [](const FrameNode &f, std::uint64_t p) { return f.position < p; });
    for (; it != m_frames.end() && it->position == position; ++it)
        if (!m_gone[std::size_t(it - m_frames.begin())])
            return &*it;
    return nullptr;
}

const FrameNode *FrameIndex::LastBefore(std::uint64_t position, std::uint64_t from, std::uint32_t steps) const
{
    if (!m_ascending)
        return nullptr;
    auto it = std::lower_bound(m_frames.begin(), m_frames.end(), position,
                               [](const FrameNode &f, std::uint64_t p) { return f.position < p; });
    for (std::uint32_t n = 0; it != m_frames.begin() && n <= steps; ++n) {
        --it;
        if (it->position < from)
            return nullptr;
        if (!m_gone[std::size_t(it - m_frames.begin())])
            return &*it;
    }
    return nullptr;
}

void FrameIndex::SetLast(std::uint64_t position, std::uint64_t length)
{
    m_last = FrameNode{position, length};
    m_has_last = true;
}

void FrameIndex::Take(const FrameNode *frame)
{
    if (frame == &m_last) {
        m_has_last = false;
        return;
    }
    if (frame < m_frames.data() || frame >= m_frames.data() + m_frames.size())
        return;
    const std::uint32_t i = std::uint32_t(frame - m_frames.data());
    if (m_gone[i])
        return;
    m_gone[i] = 1;
    --m_live;
    if (!m_built)
        return;  // the next build sees it taken
    // Its slot: within its bucket, ordered by length and then by number.
    const auto first = m_sorted.begin() + bucket_begin(frame->position);
    const auto last = m_sorted.begin() + bucket_end(frame->position);
    const auto it = std::lower_bound(first, last, i, [this](std::uint32_t x, std::uint32_t y) {
        return m_frames[x].length != m_frames[y].length ? m_frames[x].length < m_frames[y].length : x < y;
    });
    if (it != last && *it == i)
        m_next[std::size_t(it - m_sorted.begin())] = std::uint32_t(it - m_sorted.begin()) + 1;
}

bool FrameIndex::InsertTail(std::uint64_t position, std::uint64_t length, std::uint64_t moov_size)
{
    if (m_tails.size() >= TAIL_LIMIT || (!m_tails.empty() && position < m_tails.back().frame.position)) {
        ++m_dropped;
        return false;
    }
    try {
        m_tails.push_back(Tail{FrameNode{position, length}, moov_size, false});
    } catch (const std::bad_alloc &) {
        ++m_dropped;
        return false;
    }
    return true;
}

const FrameNode *FrameIndex::FindTailAt(std::uint64_t position, std::uint64_t moov_size) const
{
    auto it = std::lower_bound(m_tails.begin(), m_tails.end(), position,
                               [](const Tail &t, std::uint64_t p) { return t.frame.position < p; });
    for (; it != m_tails.end() && it->frame.position == position; ++it)
        if (!it->gone && it->moov_size == moov_size)
            return &it->frame;
    return nullptr;
}

void FrameIndex::TakeTail(const FrameNode *tail)
{
    for (Tail &t : m_tails)
        if (&t.frame == tail)
            t.gone = true;
}
