// The partitions of a whole disk, or of an image of one, as the MBR or the
// GPT at its start lists them. Only what decides where files can start is
// read: each partition's first byte and length. Every field comes from the
// card and is bounded before it is used; a table that does not add up is
// no table, and the source is read as a disk without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class TableKind { None, Mbr, Gpt };

struct Partition {
    int number;            // as the table numbers it: MBR slot 1 to 4, GPT entry 1 to n
    std::uint64_t start;   // bytes from the source's first byte, a multiple of 512
    std::uint64_t length;  // bytes, cut at the source's end
};

struct PartitionTable {
    TableKind kind = TableKind::None;
    std::vector<Partition> partitions;  // by start, none overlapping
    // GPT: the header's or the entries' CRC did not match. The table is
    // still taken, entry by entry, where each entry makes sense on its own.
    bool checksum_mismatch = false;
};

// The table in `head`, the first `len` bytes of a source of `size` bytes.
// A GPT is read from its primary header (LBA 1 of 512- or 4096-byte
// sectors) and entries within `head`; the backup at the disk's end is not
// read, so that the table costs no read of its own. MBR extended
// partitions are not followed: their space counts as outside partitions.
PartitionTable read_partition_table(const unsigned char *head, std::size_t len, std::uint64_t size);
