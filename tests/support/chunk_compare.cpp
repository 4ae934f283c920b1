#include "support/chunk_compare.h"

#include "rebuild/chunk_table.h"


ChunkMatch compare_chunks(const QByteArray &original, const QByteArray &rebuilt)
{
    ChunkMatch match;
    const int moov = original.lastIndexOf("moov") - 4;
    if (moov < 0)
        return match;
    const auto *box = reinterpret_cast<const unsigned char *>(original.constData()) + moov;
    const ChunkTable table = find_chunk_table(box, std::uint64_t(original.size() - moov));
    const QByteArray delimiter("\0\0\0\x02\x09", 5);
    for (std::uint32_t j = 0; j + 1 < table.entries; ++j) {
        ++match.chunks;
        const int at = int(chunk_offset(table, j)), length = int(chunk_offset(table, j + 1)) - at;
        const QByteArray chunk = original.mid(at, length);
        if (!chunk.startsWith(delimiter) || chunk.indexOf(delimiter, 1) >= 0)
            continue;
        ++match.single_frame;
        match.exact += rebuilt.mid(at, length) == chunk;
    }
    return match;
}

