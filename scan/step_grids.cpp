#include "scan/step_grids.h"

#include <QStringList>
#include <limits>

StepGrids scan_grids;

namespace {

constexpr std::uint64_t SOURCE_END = std::numeric_limits<std::uint64_t>::max();

}  // namespace

StepGrids::StepGrids() : m_regions{GridRegion{0, SOURCE_END, 0, 0}} {}

StepGrids::StepGrids(const PartitionTable &table) : m_kind(table.kind), m_checksum_mismatch(table.checksum_mismatch)
{
    std::uint64_t at = 0;
    for (const Partition &p : table.partitions) {
        // The table's partitions come sorted, apart and on 512-byte sectors;
        // anything else would put a step's bytes past its chunk.
        if (p.start < at || p.start % 512 != 0 || p.length == 0) {
            *this = StepGrids();
            return;
        }
        if (p.start > at)
            m_regions.push_back(GridRegion{at, p.start, 0, 0});
        m_regions.push_back(GridRegion{p.start, p.start + p.length, p.start, p.number});
        at = p.start + p.length;
    }
    m_regions.push_back(GridRegion{at, SOURCE_END, 0, 0});
}

QString StepGrids::describe() const
{
    if (m_kind == TableKind::None)
        return QStringLiteral("no partition table: the disk's grid");
    QStringList parts;
    for (const GridRegion &r : m_regions) {
        if (r.partition == 0)
            continue;
        parts << QStringLiteral("partition %1 at %2: its own grid%3")
                         .arg(r.partition)
                         .arg(r.from)
                         .arg(r.origin % UNIT == 0 ? QStringLiteral(" (the disk's)") : QString());
    }
    const QString kind = m_kind == TableKind::Gpt ? QStringLiteral("GPT") : QStringLiteral("MBR");
    const QString warning = m_checksum_mismatch ? QStringLiteral(" (checksums do not match)") : QString();
    return QStringLiteral("%1%2: %3; outside partitions: the disk's grid").arg(kind, warning, parts.join("; "));
}
