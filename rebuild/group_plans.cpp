#include "rebuild/group_plans.h"

#include "rebuild/frame_index.h"
#include "rebuild/lost_index.h"
#include "rebuild/moov_pairing.h"
#include "rebuild/region_analysis.h"
#include "rebuild/video_plan.h"
#include "scan/card_map.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

#include <vector>

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
        // The box the pairing chose, when it is not the stretch's own.
        const std::size_t n = video_plans.size();
        const unsigned char *moov = moov_buf[k];
        std::uint64_t moov_size = group.moov_size[k];
        std::uint64_t moov_at = moov_size != 0 ? group.moov_pos[k] : 0;
        std::vector<unsigned char> chosen;
        // No box on the card is left for the piece: its index may never
        // have been written, its frames standing in an mdat box of their
        // own. (A box that fits no chunk may still be its own: a recording
        // in one chunk that starts with no frame start fits so.)
        const bool no_fit = n < moov_choices.size() ? !moov_choices[n].found : moov_size == 0;
        VideoPlan lost;
        if (no_fit && plan_lost_index(*source, end, card_map, group.piece_pos[k], &lost)) {
            video_plans.push_back(std::move(lost));
            continue;
        }
        if (n < moov_choices.size()) {
            const MoovChoice &c = moov_choices[n];
            moov_size = c.found ? c.size : 0;
            moov_at = c.found ? c.position : 0;
            if (c.found && !(c.from_stretch && c.position == group.moov_pos[k])) {
                chosen.resize(c.size);
                card_map.moov_bytes(card_map.moovs()[c.box], source, end, chosen.data());
                moov = chosen.data();
            }
        }
        video_plans.push_back(plan_video(*source, end, group.piece_pos[k], moov, moov_size, true, moov_at));
    }
}

void plan_all_groups(ByteSource *source, std::uint64_t end)
{
    video_plans.clear();
    moov_choices = pair_moovs(card_map, source, end);
    index_card_frames(card_map);
    for (std::uint32_t g = 0; g < group_count(); ++g)
        plan_group(g, source, end);
}
