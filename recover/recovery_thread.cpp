#include "recover/recovery_thread.h"

#include "drives/drive_table.h"
#include "rebuild/group_plans.h"
#include "rebuild/video_plan.h"
#include "recover/photo_extraction.h"
#include "recover/plan_writer.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

#include <algorithm>

namespace {

std::vector<int> chosen_below(bool everything, std::vector<int> numbers, std::uint32_t count)
{
    if (everything) {
        numbers.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
            numbers[i] = int(i);
        return numbers;
    }
    numbers.erase(std::remove_if(numbers.begin(), numbers.end(),
                                 [count](int n) { return n < 0 || std::uint32_t(n) >= count; }),
                  numbers.end());
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

}  // namespace

RecoveryChoice RecoveryChoice::only(std::vector<int> videos, std::vector<int> photos)
{
    RecoveryChoice choice;
    choice.everything = false;
    choice.videos = std::move(videos);
    choice.photos = std::move(photos);
    return choice;
}

std::vector<int> RecoveryChoice::videos_below(std::uint32_t count) const
{
    return chosen_below(everything, videos, count);
}

std::vector<int> RecoveryChoice::photos_below(std::uint32_t count) const
{
    return chosen_below(everything, photos, count);
}

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

    const std::vector<int> videos = m_choice.videos_below(count_videos());
    const std::vector<int> photos = m_choice.photos_below(photo_num);
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    if (!source) {
        emit recoveryFinished(int(videos.size() + photos.size()),
                              QStringLiteral("cannot open %1: %2").arg(source_path(), error), 0);
        return;
    }
    const std::uint64_t end = source_size();

    // The scan planned every video; only a recovery without one plans them.
    if (video_plans.size() != count_videos())
        plan_all_groups(source.get(), end);
    for (std::size_t i = 0; i < videos.size() && std::size_t(videos[i]) < video_plans.size(); ++i) {
        const int n = videos[i];
        const RebuildResult r = write_plan(*source, end, n, video_plans[std::size_t(n)], ALL_CHUNKS);
        unreadable += r.unreadable;
        emit fileJudged(r.file_name, verdict_name(r.verdict()), int(r.located()), int(r.table_entries));
        account(r.file_name, r.written, r.error);
        emit UpdateSignal_rec(int(i + 1));
    }

    // Photos are written even when no video was found: they are what the
    // user came for as much as the videos.
    for (const int j : photos) {
        const PhotoResult r = extract_photo(*source, end, j);
        unreadable += r.unreadable;
        emit fileJudged(r.file_name, verdict_name(r.verdict()), -1, -1);
        account(r.file_name, r.written, r.error);
    }
    emit recoveryFinished(failed, first_error, unreadable);
}
