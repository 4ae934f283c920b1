#include "recover/extraction_step.h"

#include "rebuild/region_analysis.h"
#include "rebuild/video_rebuild.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

#include <QDebug>

namespace {

void extract_group(std::uint32_t g, ScanProgress &progress)
{
    const VideoGroup &group = group_list[g];
    analyse_region(static_cast<int>(g), group.tail_pos - group.head_pos, group.head_pos);
    const int pieces = group_pieces(g);
    for (int k = 0; k < pieces; ++k) {
        rebuild_video(static_cast<int>(video_done), group.piece_pos[k], moov_buf[k], group.moov_size[k], true);
        ++video_done;
    }
    progress.code(static_cast<int>(50 + video_done * 50u / video_total));
}

}  // namespace

void extraction_step(ScanProgress &progress)
{
    std::uint32_t g = 0;
    for (int k = 1; k <= MAX_KIND; ++k)
        for (std::uint32_t i = 0; i < group_num[k - 1]; ++i)
            extract_group(g++, progress);

    qDebug() << "ftyp_ftyp_ftyp_loop_new" << triple_num;
    for (std::uint32_t i = 0; i < triple_num; ++i) {
        qDebug() << i;
        extract_group(g++, progress);
    }
    qDebug() << "ftyp_ftyp_ftyp_loop_new end " << triple_num;

    qDebug() << "mov_loop_new_cc start" << qt_group_num;
    for (std::uint32_t i = 0; i < qt_group_num; ++i) {
        qDebug() << i;
        extract_group(g++, progress);
    }
    qDebug() << "mov_loop_new_cc start end" << qt_group_num;
}
