#include "scan/reading_phase.h"

#include "scan/card_map.h"
#include "scan/chunk_rule.h"
#include "scan/photo_work.h"
#include "scan/scan_tables.h"
#include "scan/signatures.h"
#include "scan/step_grids.h"

#include <cstring>

void test_chunk_steps(std::uint64_t chunk_start, bool first_only, std::uint32_t &starts,
                      std::uint32_t &qts, std::uint32_t &photos, std::vector<std::uint64_t> *finds,
                      const StepGrids &grids)
{
    // All steps of the buffer, whatever the chunk size: past the bytes read
    // the buffer is zero and matches nothing.
    grids.visit(chunk_start, chunk_start + READ_BUF_SIZE, [&](std::uint64_t position) {
        const unsigned char *b = read_buf + (position - chunk_start);
        bool found = true;
        if (is_quicktime_start(b))
            append_qt(qts, position);
        else if (is_video_start(b))
            append_start(starts, position, KIND_VIDEO);
        else
            found = false;
        if (is_photo_start(b)) {
            if (is_marker_photo(b))
                append_start(starts, position, KIND_MARKER_PHOTO);
            append_photo(photos, position);
            found = true;
        }
        if (found && finds)
            finds->push_back(position);
        return !first_only;
    });
}

void reading_phase(ByteSource &source, std::uint64_t size, ScanProgress &progress, PhotoWork *photos)
{
    std::memset(read_buf, 0, sizeof read_buf);
    scan_flag = 1;
    scan_grids = StepGrids();

    // The same bytes go through the stream search that maps the card's
    // frames and moov boxes.
    CardMapBuilder map(card_map, 0);
    std::uint64_t offset = 0;
    std::uint64_t remaining = size;
    std::vector<std::uint64_t> finds;  // of one chunk: 512 at most
    finds.reserve(READ_BUF_SIZE / UNIT);
    while (remaining != 0) {
        const std::uint64_t chunk = chunk_size_for(remaining);
        const bool last = remaining < CHUNK_SIZE;
        const std::uint64_t chunk_start = offset;

        // read_source zero-fills whatever of the chunk the source did not
        // deliver; with the tail past a short last chunk cleared as well, the
        // buffer is what clearing it whole after every chunk would give.
        const ReadOutcome got = read_source(source, chunk_start, read_buf, chunk, size);
        if (chunk < READ_BUF_SIZE)
            std::memset(read_buf + chunk, 0, READ_BUF_SIZE - chunk);
        unreadable_bytes += got.unreadable;
        offset += chunk;
        map.feed(read_buf, chunk);
        // A partition table lies in the first chunk; it is read from there.
        if (chunk_start == 0)
            scan_grids = StepGrids(read_partition_table(read_buf, chunk, size));

        const bool cancelled = scan_flag == 0;
        std::uint32_t starts = start_num, qts = qt_num, photo_count = photo_num;
        finds.clear();
        test_chunk_steps(chunk_start, cancelled, starts, qts, photo_count, &finds, scan_grids);
        start_num = starts;
        qt_num = qts;
        photo_num = photo_count;
        if (photos)
            photos->take_chunk(read_buf, chunk_start, chunk, finds);

        if (last) {
            remaining = 0;
            break;
        }
        remaining -= chunk;
        progress.bytes_read(offset);
        progress.code(static_cast<int>(offset * 50 / size));
        if (scan_flag != 1)
            break;
    }
    if (photos)
        photos->end_of_reading();
    map.finish(remaining == 0);
    progress.code(CODE_READING_DONE);
}
