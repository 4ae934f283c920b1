// The chunk-offset table of a copied moov box, "stco" (32-bit entries) or
// "co64" (64-bit, in files past 4 GiB), bounded by the box: only entries
// whose bytes lie inside both the box and the copy are ever read.
#pragma once

#include <cstdint>

struct ChunkTable {
    const unsigned char *offsets = nullptr;  // first entry, big-endian
    std::uint32_t entries = 0;
    std::uint32_t entry_size = 4;            // 4 (stco) or 8 (co64)
    // The box size and the entry count disagree, or claim more entries than
    // the copy holds; the table was cut to what all three allow.
    bool clipped = false;
};

// The first "stco" or "co64" in `size` bytes of `moov`; no entries when
// there is none.
ChunkTable find_chunk_table(const unsigned char *moov, std::uint64_t size);

// The stco or co64 box at `box`, of which `held` bytes are in memory.
ChunkTable read_chunk_table(const unsigned char *box, std::uint64_t held);

std::uint64_t chunk_offset(const ChunkTable &table, std::uint32_t j);
