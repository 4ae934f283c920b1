// The signature tests of the reading phase over whatever a chunk may hold,
// on the grids of whatever partition table it may begin with.
#include "scan/partition_table.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "scan/step_grids.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static size_t dirty = 0;  // bytes of read_buf the previous input left
    const size_t n = size < READ_BUF_SIZE ? size : READ_BUF_SIZE;
    std::memcpy(read_buf, data, n);
    if (dirty > n)
        std::memset(read_buf + n, 0, dirty - n);
    dirty = n;

    // Start near the tables' ends now and then, so that overflowing them is
    // exercised too.
    const bool crowded = n > 0 && (data[0] & 1);
    // A low ceiling, so that reaching it costs no memory.
    constexpr std::uint32_t CEILING = 2000;
    start_list.set_ceiling(CEILING);
    qt_list.set_ceiling(CEILING);
    photo_list.set_ceiling(CEILING);
    std::uint32_t starts = crowded ? CEILING - 2 : 0;
    std::uint32_t qts = crowded ? CEILING - 2 : 0;
    std::uint32_t photos = crowded ? CEILING - 2 : 0;
    const StepGrids grids(read_partition_table(read_buf, n, READ_BUF_SIZE));
    test_chunk_steps(0, false, starts, qts, photos, nullptr, grids);
    auto on_grid = [&](std::uint64_t position) {
        for (const GridRegion &r : grids.regions())
            if (position >= r.from && position < r.to)
                return (position - r.origin) % 32768 == 0;
        return false;
    };

    if (starts > CEILING || qts > CEILING || photos > CEILING)
        std::abort();
    for (std::uint32_t i = crowded ? CEILING - 2 : 0; i < starts; ++i)
        if (!on_grid(start_list[i].position) || (start_list[i].kind != 1 && start_list[i].kind != 2))
            std::abort();
    if (start_kind_at(CEILING) != 0)
        std::abort();
    return 0;
}
