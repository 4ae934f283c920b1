#include "recover/recovery_thread.h"

#include "drives/drive_table.h"
#include "rebuild/region_analysis.h"
#include "rebuild/video_rebuild.h"
#include "recover/photo_extraction.h"
#include "scan/card_map.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

void savefile_new::run()
{
    int failed = 0;
    QString first_error;
    std::uint64_t unreadable = 0;
    auto account = [&](const QString &name, bool complete, const QString &error) {
        if (!complete) {
            ++failed;
            if (first_error.isEmpty())
                first_error = name + QStringLiteral(": ") + error;
        }
        emit fileWritten(name, complete, error);
    };

    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    if (!source) {
        emit recoveryFinished(int(video_total + photo_num), QStringLiteral("cannot open %1: %2").arg(source_path(), error), 0);
        return;
    }
    const std::uint64_t end = source_size();

    int n = 0;
    for (std::uint32_t g = 0; g < group_count(); ++g) {
        const VideoGroup &group = group_list[g];
        unreadable += analyse_region(card_map, source.get(), end, int(g), group.tail_pos - group.head_pos, group.head_pos).unreadable;
        for (int k = 0; k < group_pieces(g); ++k) {
            const RebuildResult r = rebuild_video(*source, end, n, group.piece_pos[k], moov_buf[k], group.moov_size[k], false);
            unreadable += r.unreadable;
            account(r.file_name, r.written, r.error);
            ++n;
            emit UpdateSignal_rec(n);
        }
    }

    // Photos are written even when no video was found: they are what the
    // user came for as much as the videos.
    const std::uint32_t photos = photo_num;
    for (std::uint32_t j = 0; j < photos; ++j) {
        const PhotoResult r = extract_photo(*source, end, int(j));
        unreadable += r.unreadable;
        account(r.file_name, r.written, r.error);
    }
    emit recoveryFinished(failed, first_error, unreadable);
}
