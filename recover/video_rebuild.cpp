#include "recover/video_rebuild.h"

#include "drives/drive_table.h"
#include "rebuild/video_plan.h"

#include <QDebug>

RebuildResult rebuild_video(ByteSource &source, std::uint64_t end, int n, std::uint64_t Q, const unsigned char *moov,
                            std::uint64_t moov_size, bool short_rebuild)
{
    const VideoPlan plan = plan_video(source, end, Q, moov, moov_size);
    RebuildResult result = write_plan(source, end, n, plan, short_rebuild ? SHORT_REBUILD_CHUNKS : ALL_CHUNKS);
    result.unreadable += plan.unreadable;
    return result;
}

RebuildResult rebuild_video(int n, std::uint64_t Q, const unsigned char *moov, std::uint64_t moov_size,
                            bool short_rebuild)
{
    QString why;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &why);
    if (!source) {
        RebuildResult result;
        result.file_name = rebuild_file_name(n);
        qDebug().noquote() << "filename_save ==" << result.file_name;
        result.error = QStringLiteral("cannot open %1: %2").arg(source_path(), why);
        return result;
    }
    return rebuild_video(*source, source_size(), n, Q, moov, moov_size, short_rebuild);
}
