// The chunk-offset table ("stco") of a copied moov box, bounded by the box:
// only entries whose four bytes lie inside both the stco box and the copy
// are ever read.
#pragma once

#include <cstdint>

struct ChunkTable {
    const unsigned char *offsets = nullptr;  // first entry, big-endian 32-bit each
    std::uint32_t entries = 0;
    // The box size and the entry count disagree, or claim more entries than
    // the copy holds; the table was cut to what all three allow.
    bool clipped = false;
};

// The first "stco" in `size` bytes of `moov`; no entries when there is none.
ChunkTable find_chunk_table(const unsigned char *moov, std::uint64_t size);

// The stco box at `box`, of which `held` bytes are in memory.
ChunkTable read_chunk_table(const unsigned char *box, std::uint64_t held);

std::uint32_t chunk_offset(const ChunkTable &table, std::uint32_t j);
