// The index of the frames found in one group's stretch, through which the
// rebuild puts chunks back: a frame stands for a chunk when its position
// agrees with the chunk's offset in the low 12 bits and the lengths are equal.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct FrameNode {
    std::uint64_t position;  // where the frame starts on the source
    std::uint64_t length;    // bytes up to the next frame start
    FrameNode *next;         // next node of the same bucket, in insertion order
};

constexpr std::uint32_t FRAME_BUCKETS = 4096;
constexpr std::uint64_t FRAME_BUCKET_MASK = FRAME_BUCKETS - 1;
// A card full of frame starts must not exhaust memory: past this many live
// nodes (about 400 MB) further frames are counted and dropped.
constexpr std::uint64_t FRAME_NODE_LIMIT = std::uint64_t(1) << 24;

class FrameIndex
{
public:
    explicit FrameIndex(std::uint64_t node_limit = FRAME_NODE_LIMIT);
    ~FrameIndex();
    FrameIndex(const FrameIndex &) = delete;
    FrameIndex &operator=(const FrameIndex &) = delete;

    // Makes every chain empty and zeroes the counts.
    void Empty();
    // Appends a node to the chain of the position's bucket. Equal positions
    // and equal lengths are all kept. False (and counted in dropped()) when
    // the index is full.
    bool Insert(std::uint64_t position, std::uint64_t length);
    // First node, in chain order, of the key's bucket with exactly this
    // length; the key selects the bucket only.
    const FrameNode *Find(std::uint64_t key, std::uint64_t length) const;
    // Unlinks and frees the node that Find(key, length) returns, if any.
    void Remove(std::uint64_t key, std::uint64_t length);

    // Head of a bucket's chain, for walks in insertion order.
    const FrameNode *first(std::uint32_t bucket) const { return m_head[bucket & FRAME_BUCKET_MASK]; }
    std::uint64_t size() const { return m_live; }
    std::uint64_t dropped() const { return m_dropped; }

private:
    FrameNode *allocate();
    void release(FrameNode *node);

    FrameNode *m_head[FRAME_BUCKETS];
    FrameNode *m_tail[FRAME_BUCKETS];  // so an insert need not walk the chain
    // Nodes come from blocks that live until the index is emptied; removed
    // nodes go to a free list and are reused.
    std::vector<std::unique_ptr<FrameNode[]>> m_blocks;
    std::size_t m_current = 0;     // block now handing out nodes
    std::size_t m_block_used = 0;  // nodes handed out from it
    FrameNode *m_free = nullptr;
    std::uint64_t m_limit;
    std::uint64_t m_live = 0;
    std::uint64_t m_dropped = 0;
};

// The one index of the process; it serves one group at a time.
extern FrameIndex frame_index;
