#include "rebuild/group_plans.h"

#include "rebuild/region_analysis.h"
#include "rebuild/video_plan.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

void plan_group(std::uint32_t g, ByteSource *source, std::uint64_t end)
{
    analyse_group(g, source, end);
    const VideoGroup &group = group_list[g];
    for (int k = 0; k < group_pieces(g); ++k) {
        if (!source) {
            VideoPlan plan;
            plan.piece = group.piece_pos[k];
            plan.error = QStringLiteral("the source cannot be read");
            video_plans.push_back(std::move(plan));
            continue;
        }
        video_plans.push_back(plan_video(*source, end, group.piece_pos[k], moov_buf[k], group.moov_size[k]));
    }
}

void plan_all_groups(ByteSource *source, std::uint64_t end)
{
    video_plans.clear();
    for (std::uint32_t g = 0; g < group_count(); ++g)
        plan_group(g, source, end);
}
