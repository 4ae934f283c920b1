#include "recover/recovery_thread.h"

#include "drives/drive_table.h"
#include "rebuild/group_plans.h"
#include "rebuild/video_plan.h"
#include "recover/photo_extraction.h"
#include "recover/plan_writer.h"
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

    // The scan planned every video; only a recovery without one plans them.
    if (video_plans.size() != count_videos())
        plan_all_groups(source.get(), end);
    for (std::size_t n = 0; n < video_plans.size(); ++n) {
        const RebuildResult r = write_plan(*source, end, int(n), video_plans[n], ALL_CHUNKS);
        unreadable += r.unreadable;
        emit fileJudged(r.file_name, verdict_name(r.verdict()), int(r.located()), int(r.table_entries));
        account(r.file_name, r.written, r.error);
        emit UpdateSignal_rec(int(n + 1));
    }

    // Photos are written even when no video was found: they are what the
    // user came for as much as the videos.
    const std::uint32_t photos = photo_num;
    for (std::uint32_t j = 0; j < photos; ++j) {
        const PhotoResult r = extract_photo(*source, end, int(j));
        unreadable += r.unreadable;
        emit fileJudged(r.file_name, verdict_name(r.verdict()), -1, -1);
        account(r.file_name, r.written, r.error);
    }
    emit recoveryFinished(failed, first_error, unreadable);
}
