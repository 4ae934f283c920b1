// The region analysis and the rebuild of every piece over a stretch of
// arbitrary card bytes, and the piece planned as a recording whose index
// was never written: the walk of its mdat, a sibling among the stretch's
// moov boxes, the new index and the file written from it.
#include "rebuild/frame_index.h"
#include "rebuild/lost_index.h"
#include "rebuild/region_analysis.h"
#include "recover/plan_writer.h"
#include "recover/video_rebuild.h"
#include "scan/card_map.h"
#include "scan/scan_tables.h"

#include <QDir>
#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <unistd.h>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

void remove_work_copies()
{
    QDir(save_dir).removeRecursively();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    // No ffmpeg: a sibling is chosen without decoding, as the nearest of
    // the codec, so that every input runs in-process.
    setenv("PATH", "/nonexistent", 1);
    // Work copies go to memory; each input overwrites the previous ones.
    save_dir = QStringLiteral("/dev/shm/tessaro-fuzz-%1").arg(getpid());
    QDir().mkpath(save_dir);
    std::atexit(remove_work_copies);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    MemorySource source(data, size);
    std::memset(&group_list[0], 0, sizeof group_list[0]);
    analyse_region(source, size, 0, size, 0);

    // The piece: the first step on the grid that holds an ftyp box, else 0.
    std::uint64_t piece = 0;
    for (std::uint64_t at = 0; at + 8 <= size; at += 32768)
        if (std::memcmp(data + at + 4, "ftyp", 4) == 0) {
            piece = at;
            break;
        }
    for (int k = 0; k < MOOV_SLOTS; ++k) {
        const std::uint64_t moov_size = group_list[0].moov_size[k];
        if (moov_size > MOOV_BUF_SIZE)
            std::abort();
        rebuild_video(source, size, k, piece, moov_buf[k], moov_size, true);
    }

    CardMap map;
    CardMapBuilder builder(map, 0);
    std::vector<unsigned char> padded(data, data + size);
    padded.resize(std::max<std::size_t>(size, START_SPAN));
    builder.feed(padded.data(), padded.size());
    builder.finish(true);
    VideoPlan plan;
    if (plan_lost_index(source, size, map, piece, &plan))
        write_plan(source, size, MOOV_SLOTS, plan, ALL_CHUNKS);
    return 0;
}
