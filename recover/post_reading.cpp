#include "recover/post_reading.h"

#include "recover/extraction_step.h"
#include "scan/grouping.h"
#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"
#include "scan/video_thumbnails.h"

#include <QDebug>

void after_reading_phase(ScanProgress &progress)
{
    group_scan();
    video_total = count_videos();
    report_dropped_finds();
    extraction_step(progress);
    video_thumbnail_step(video_total, progress);
    photo_thumbnail_step(progress);
    if (unreadable_bytes != 0)
        qDebug().nospace() << "unreadable bytes of the source, read as zeros: " << unreadable_bytes;
    progress.code(CODE_SCAN_DONE);
}
