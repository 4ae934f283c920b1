#include "recover/post_reading.h"

#include "drives/drive_table.h"
#include "recover/extraction_step.h"
#include "scan/grouping.h"
#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"
#include "scan/video_thumbnails.h"

#include <QDebug>

void after_reading_phase(ScanProgress &progress, PhotoWork &photos)
{
    group_scan(source_size());
    video_total = count_videos();
    report_dropped_finds();
    // Each video's thumbnail starts as soon as its work copy is written.
    VideoThumbnails thumbnails;
    extraction_step(progress, [&](std::uint32_t n) { thumbnails.start(n); });
    thumbnails.finish(video_total, progress);
    photo_thumbnail_step(photos, progress);
    if (unreadable_bytes != 0)
        qDebug().nospace() << "unreadable bytes of the source, read as zeros: " << unreadable_bytes;
    progress.code(CODE_SCAN_DONE);
}
