#include "rebuild/chunk_table.h"

#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstring>

ChunkTable find_chunk_table(const unsigned char *moov, std::uint64_t size)
{
    if (size < 8)
        return {};
    const unsigned char *first = nullptr;
    for (const char *type : {"stco", "co64"}) {
        const void *hit = memmem(moov + 4, size - 4, type, 4);
        const auto *at = static_cast<const unsigned char *>(hit);
        if (at && (!first || at < first))
            first = at;
    }
    if (!first)
        return {};
    const std::uint64_t at = std::uint64_t(first - moov) - 4;
    return read_chunk_table(moov + at, size - at);
}

ChunkTable read_chunk_table(const unsigned char *box, std::uint64_t held)
{
    ChunkTable table;
    // Header, version and flags, entry count: 16 bytes before the entries.
    if (held < 16)
        return table;
    table.entry_size = std::memcmp(box + 4, "co64", 4) == 0 ? 8 : 4;
    const std::uint64_t box_size = be32(box);
    const std::uint64_t claimed = box_size >= 16 ? (box_size - 16) / table.entry_size : 0;
    const std::uint64_t room = (held - 16) / table.entry_size;
    const std::uint64_t counted = be32(box + 12);
    const std::uint64_t entries = std::min({claimed, room, counted});
    table.clipped = entries < claimed || entries < counted;
    table.entries = static_cast<std::uint32_t>(entries);
    table.offsets = box + 16;
    return table;
}

std::uint64_t chunk_offset(const ChunkTable &table, std::uint32_t j)
{
    const unsigned char *e = table.offsets + std::uint64_t(j) * table.entry_size;
    return table.entry_size == 8 ? std::uint64_t(be32(e)) << 32 | be32(e + 4) : be32(e);
}
