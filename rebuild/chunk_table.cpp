#include "rebuild/chunk_table.h"

#include "scan/stream_signatures.h"

#include <algorithm>
#include <cstring>

ChunkTable find_chunk_table(const unsigned char *moov, std::uint64_t size)
{
    if (size < 8)
        return {};
    const void *hit = memmem(moov + 4, size - 4, "stco", 4);
    if (!hit)
        return {};
    const std::uint64_t at = static_cast<const unsigned char *>(hit) - moov - 4;
    return read_chunk_table(moov + at, size - at);
}

ChunkTable read_chunk_table(const unsigned char *box, std::uint64_t held)
{
    ChunkTable table;
    // Header, version and flags, entry count: 16 bytes before the entries.
    if (held < 16)
        return table;
    const std::uint64_t box_size = be32(box);
    const std::uint64_t claimed = box_size / 4 >= 4 ? box_size / 4 - 4 : 0;
    const std::uint64_t room = (held - 16) / 4;
    const std::uint64_t counted = be32(box + 12);
    const std::uint64_t entries = std::min({claimed, room, counted});
    table.clipped = entries < claimed || entries < counted;
    table.entries = static_cast<std::uint32_t>(entries);
    table.offsets = box + 16;
    return table;
}

std::uint32_t chunk_offset(const ChunkTable &table, std::uint32_t j)
{
    return be32(table.offsets + std::uint64_t(j) * 4);
}
