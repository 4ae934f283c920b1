#include "scan/post_reading.h"

#include "scan/scan_tables.h"

void after_reading_phase(ScanProgress &progress)
{
    report_dropped_finds();
    progress.code(CODE_VIDEO_THUMBS);
    for (std::uint32_t i = 0; i < photo_num; ++i)
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
    progress.code(CODE_SCAN_DONE);
}
