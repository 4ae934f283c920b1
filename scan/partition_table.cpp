#include "scan/partition_table.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t SECTOR = 512;
constexpr std::size_t MBR_ENTRIES = 446;
constexpr unsigned char PROTECTIVE = 0xEE;
// A GPT's entries, bounded well past any real table (128 of 128 bytes).
constexpr std::uint64_t GPT_ENTRIES_MOST = 4096;
constexpr std::uint64_t GPT_ENTRY_LARGEST = 4096;
constexpr std::uint64_t GPT_HEADER_SMALLEST = 92;

std::uint32_t le32(const unsigned char *b)
{
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

std::uint64_t le64(const unsigned char *b) { return le32(b) | std::uint64_t(le32(b + 4)) << 32; }

std::uint32_t crc32(const unsigned char *b, std::size_t n, std::size_t skip_from = 0, std::size_t skip_to = 0)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= i >= skip_from && i < skip_to ? 0u : b[i];  // a CRC field counts as zeros
        for (int k = 0; k < 8; ++k)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A volume's own boot sector at byte 0 (a card formatted without a
// partition table) ends in 55 AA as an MBR does; its boot code is no table.
bool is_volume_boot_sector(const unsigned char *s)
{
    return std::memcmp(s + 82, "FAT32   ", 8) == 0 || std::memcmp(s + 54, "FAT1", 4) == 0
           || std::memcmp(s + 3, "EXFAT   ", 8) == 0 || std::memcmp(s + 3, "NTFS    ", 8) == 0;
}

bool is_extended(unsigned char type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Sorts and cuts the partitions at the source's end; false when two overlap.
bool settle(std::vector<Partition> &parts, std::uint64_t size)
{
    std::sort(parts.begin(), parts.end(), [](const Partition &a, const Partition &b) { return a.start < b.start; });
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Partition &p = parts[i];
        p.length = std::min(p.length, size - p.start);
        if (i > 0 && parts[i - 1].start + parts[i - 1].length > p.start)
            return false;
    }
    return true;
}

PartitionTable read_gpt(const unsigned char *head, std::size_t len, std::uint64_t size, std::uint64_t sector)
{
    PartitionTable table;
    if (len < 2 * sector)
        return table;
    const unsigned char *h = head + sector;
    if (std::memcmp(h, "EFI PART", 8) != 0)
        return table;
    const std::uint64_t header_size = le32(h + 12);
    const std::uint64_t count = le32(h + 80), entry_size = le32(h + 84), entries_lba = le64(h + 72);
    if (header_size < GPT_HEADER_SMALLEST || header_size > sector || le64(h + 24) != 1 || entry_size < 128
        || entry_size > GPT_ENTRY_LARGEST || entry_size % 8 != 0 || count == 0 || count > GPT_ENTRIES_MOST
        || entries_lba < 2 || entries_lba > len / sector)
        return table;
    const std::uint64_t array_at = entries_lba * sector, array_bytes = count * entry_size;
    if (array_bytes > len - array_at)
        return table;
    const unsigned char *entries = head + array_at;
    table.checksum_mismatch = crc32(h, header_size, 16, 20) != le32(h + 16)
                              || crc32(entries, array_bytes) != le32(h + 88);

    static const unsigned char unused[16] = {};
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned char *e = entries + i * entry_size;
        if (std::memcmp(e, unused, 16) == 0)
            continue;
        const std::uint64_t first = le64(e + 32), last = le64(e + 40);
        // Past the header and the entries, before the end of the source.
        if (last < first || first >= size / sector || first * sector < array_at + array_bytes)
            continue;
        const std::uint64_t sectors = std::min(last - first + 1, size / sector);
        table.partitions.push_back(Partition{int(i + 1), first * sector, sectors * sector});
    }
    if (table.partitions.empty() || !settle(table.partitions, size))
        return PartitionTable{};
    table.kind = TableKind::Gpt;
    return table;
}

}  // namespace

PartitionTable read_partition_table(const unsigned char *head, std::size_t len, std::uint64_t size)
{
    PartitionTable none;
    len = std::size_t(std::min<std::uint64_t>(len, size));
    if (len < SECTOR || head[510] != 0x55 || head[511] != 0xAA || is_volume_boot_sector(head))
        return none;

    PartitionTable table;
    bool protective = false;
    for (int slot = 0; slot < 4; ++slot) {
        const unsigned char *e = head + MBR_ENTRIES + 16 * slot;
        const unsigned char status = e[0], type = e[4];
        // Boot code that happens to end in 55 AA has other bytes here.
        if (status != 0x00 && status != 0x80)
            return none;
        if (type == 0)
            continue;
        const std::uint64_t first = le32(e + 8), sectors = le32(e + 12);
        if (first == 0 || sectors == 0)
            return none;
        if (type == PROTECTIVE) {
            protective = true;
            continue;
        }
        if (is_extended(type) || first * SECTOR >= size)
            continue;
        table.partitions.push_back(Partition{slot + 1, first * SECTOR, sectors * SECTOR});
    }
    if (protective) {
        PartitionTable gpt = read_gpt(head, len, size, SECTOR);
        return gpt.kind != TableKind::None ? gpt : read_gpt(head, len, size, 4096);
    }
    if (table.partitions.empty() || !settle(table.partitions, size))
        return none;
    table.kind = TableKind::Mbr;
    return table;
}
