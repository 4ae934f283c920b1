// Where the reading pass tests for file starts. A file system puts its
// files on clusters counted from its own first byte, so inside a partition
// the 32 KiB steps run from the partition's start; outside partitions, and
// on a source without a partition table, from the source's first byte.
// Positions stay absolute on the source either way.
#pragma once

#include "scan/byte_source.h"
#include "scan/partition_table.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <vector>

struct GridRegion {
    std::uint64_t from;
    std::uint64_t to;      // exclusive; the last region runs to the end of any source
    std::uint64_t origin;  // steps at origin + k × UNIT; a multiple of 512
    int partition;         // the table's number, 0 outside partitions
};

class StepGrids
{
public:
    // The source's own grid throughout: a source without a partition table.
    StepGrids();
    explicit StepGrids(const PartitionTable &table);

    // Calls step(position) for each step in [from, to), in increasing
    // order, until it returns false. With `from` on the 32 KiB grid, the
    // first SECTOR bytes from each step lie before `to`.
    template <typename Step>
    void visit(std::uint64_t from, std::uint64_t to, Step &&step) const
    {
        for (const GridRegion &r : m_regions) {
            if (r.to <= from || r.from >= to)
                continue;
            const std::uint64_t first = std::max(from, r.from);
            const std::uint64_t last = std::min(to, r.to);
            for (std::uint64_t p = first + (r.origin + UNIT - first % UNIT) % UNIT; p < last; p += UNIT)
                if (!step(p))
                    return;
        }
    }

    TableKind kind() const { return m_kind; }
    const std::vector<GridRegion> &regions() const { return m_regions; }
    // For the scan's summary: "no partition table: the disk's grid", or each
    // partition and its grid, then the space outside them.
    QString describe() const;

private:
    TableKind m_kind = TableKind::None;
    bool m_checksum_mismatch = false;
    std::vector<GridRegion> m_regions;
};

// The grids of the last reading pass, set from its first chunk.
extern StepGrids scan_grids;
