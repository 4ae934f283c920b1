#include "scan/grouping.h"

#include "scan/scan_tables.h"

namespace {

std::uint32_t stored_groups = 0;

// Appends a group, or counts it as dropped when the table is full.
VideoGroup *next_group()
{
    if (!group_list.room(stored_groups)) {
        ++dropped_finds.groups;
        return nullptr;
    }
    return &group_list[stored_groups++];
}

bool kind_group_at(std::uint32_t i, int k)
{
    if (start_kind_at(i) != KIND_MARKER_PHOTO || start_kind_at(i + k + 1) != KIND_MARKER_PHOTO)
        return false;
    for (int j = 1; j <= k; ++j)
        if (start_kind_at(i + j) != KIND_VIDEO)
            return false;
    return true;
}

}  // namespace

void group_scan()
{
    stored_groups = 0;
    const std::uint32_t starts = start_num;

    bool any_kind_group = false;
    for (int k = 1; k <= MAX_KIND && starts > 0; ++k) {
        for (std::uint32_t i = 0; i < starts; ++i) {
            if (!kind_group_at(i, k))
                continue;
            any_kind_group = true;
            VideoGroup *group = next_group();
            if (!group)
                continue;
            group->head_pos = start_list[i].position;
            for (int j = 1; j <= k; ++j)
                group->piece_pos[j - 1] = start_list[i + j].position;
            group->tail_pos = start_list[i + k + 1].position;
            ++group_num[k - 1];
        }
    }

    if (!any_kind_group) {
        for (std::uint32_t i = 0; i + 2 < starts; ++i) {
            if (start_kind_at(i) != KIND_VIDEO || start_kind_at(i + 1) != KIND_VIDEO
                || start_kind_at(i + 2) != KIND_VIDEO)
                continue;
            VideoGroup *group = next_group();
            if (!group)
                continue;
            group->head_pos = start_list[i].position;
            group->piece_pos[0] = start_list[i + 1].position;
            group->tail_pos = start_list[i + 2].position;
            ++triple_num;
        }
    }

    const std::uint32_t qts = qt_num;
    if (qts > 2) {
        for (std::uint32_t j = 0; j + 1 < qts; ++j) {
            VideoGroup *group = next_group();
            if (!group)
                continue;
            group->head_pos = qt_list[j];
            group->piece_pos[0] = qt_list[j];
            group->tail_pos = qt_list[j + 1];
            ++qt_group_num;
        }
    }
}

std::uint32_t count_videos()
{
    std::uint32_t total = triple_num + qt_group_num;
    for (int k = 1; k <= MAX_KIND; ++k)
        total += static_cast<std::uint32_t>(k) * group_num[k - 1];
    return total;
}

int group_kind(std::uint32_t g)
{
    for (int k = 1; k <= MAX_KIND; ++k) {
        if (g < group_num[k - 1])
            return k;
        g -= group_num[k - 1];
    }
    if (g < triple_num)
        return GROUP_TRIPLE;
    g -= triple_num;
    return g < qt_group_num ? GROUP_QUICKTIME : GROUP_NONE;
}

int group_pieces(std::uint32_t g)
{
    const int kind = group_kind(g);
    if (kind == GROUP_NONE)
        return 0;
    return kind >= 1 ? kind : 1;
}

std::uint32_t group_count()
{
    std::uint32_t n = triple_num + qt_group_num;
    for (int k = 1; k <= MAX_KIND; ++k)
        n += group_num[k - 1];
    return n;
}
