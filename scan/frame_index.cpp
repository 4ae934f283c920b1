#include "scan/frame_index.h"

#include <new>

FrameIndex frame_index;

namespace {

constexpr std::size_t BLOCK_NODES = 65536;  // 1.5 MB per block
// Blocks kept for the next group when the index is emptied; a hostile
// group's hundreds of megabytes are given back.
constexpr std::size_t KEPT_BLOCKS = 16;

}  // namespace

FrameIndex::FrameIndex(std::uint64_t node_limit) : m_limit(node_limit)
{
    for (std::uint32_t b = 0; b < FRAME_BUCKETS; ++b)
        m_head[b] = m_tail[b] = nullptr;
}

FrameIndex::~FrameIndex() = default;

void FrameIndex::Empty()
{
    for (std::uint32_t b = 0; b < FRAME_BUCKETS; ++b)
        m_head[b] = m_tail[b] = nullptr;
    if (m_blocks.size() > KEPT_BLOCKS)
        m_blocks.resize(KEPT_BLOCKS);
    m_current = 0;
    m_block_used = 0;
    m_free = nullptr;
    m_live = 0;
    m_dropped = 0;
}

FrameNode *FrameIndex::allocate()
{
    if (m_free) {
        FrameNode *node = m_free;
        m_free = node->next;
        return node;
    }
    if (!m_blocks.empty() && m_block_used == BLOCK_NODES) {
        ++m_current;
        m_block_used = 0;
    }
    if (m_current == m_blocks.size()) {
        FrameNode *block = new (std::nothrow) FrameNode[BLOCK_NODES];
        if (!block)
            return nullptr;
        m_blocks.emplace_back(block);
    }
    return &m_blocks[m_current][m_block_used++];
}

void FrameIndex::release(FrameNode *node)
{
    node->next = m_free;
    m_free = node;
}

bool FrameIndex::Insert(std::uint64_t position, std::uint64_t length)
{
    FrameNode *node = m_live < m_limit ? allocate() : nullptr;
    if (!node) {
        ++m_dropped;
        return false;
    }
    *node = FrameNode{position, length, nullptr};
    const std::uint32_t b = position & FRAME_BUCKET_MASK;
    if (m_tail[b])
        m_tail[b]->next = node;
    else
        m_head[b] = node;
    m_tail[b] = node;
    ++m_live;
    return true;
}

const FrameNode *FrameIndex::Find(std::uint64_t key, std::uint64_t length) const
{
    for (const FrameNode *n = m_head[key & FRAME_BUCKET_MASK]; n; n = n->next)
        if (n->length == length)
            return n;
    return nullptr;
}

void FrameIndex::Remove(std::uint64_t key, std::uint64_t length)
{
    const std::uint32_t b = key & FRAME_BUCKET_MASK;
    FrameNode *prev = nullptr;
    for (FrameNode *n = m_head[b]; n; prev = n, n = n->next) {
        if (n->length != length)
            continue;
        (prev ? prev->next : m_head[b]) = n->next;
        if (m_tail[b] == n)
            m_tail[b] = prev;
        release(n);
        --m_live;
        return;
    }
}
