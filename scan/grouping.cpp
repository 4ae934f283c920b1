#include "scan/grouping.h"

#include "scan/scan_tables.h"

#include <algorithm>
#include <vector>

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

namespace {

// The starts that no group above took as a piece, each a group of its own,
// in position order.
void single_groups(std::uint64_t card_end)
{
    std::vector<std::uint64_t> pieces;
    for (std::uint32_t g = 0; g < stored_groups; ++g)
        for (int k = 0; k < group_pieces(g); ++k)
            pieces.push_back(group_list[g].piece_pos[k]);
    std::sort(pieces.begin(), pieces.end());

    // Every find of both lists, by position: what ends a lone start's stretch.
    struct Find {
        std::uint64_t position;
        bool start;  // a video or QuickTime start
    };
    std::vector<Find> finds;
    finds.reserve(std::size_t(start_num) + qt_num);
    for (std::uint32_t i = 0; i < start_num; ++i)
        finds.push_back(Find{start_list[i].position, start_kind_at(i) == KIND_VIDEO});
    for (std::uint32_t j = 0; j < qt_num; ++j)
        finds.push_back(Find{qt_list[j], true});
    std::stable_sort(finds.begin(), finds.end(), [](const Find &a, const Find &b) { return a.position < b.position; });

    for (std::size_t i = 0; i < finds.size(); ++i) {
        const std::uint64_t at = finds[i].position;
        if (!finds[i].start || std::binary_search(pieces.begin(), pieces.end(), at)
            || (i > 0 && finds[i - 1].position == at && finds[i - 1].start))
            continue;
        std::size_t next = i + 1;
        while (next < finds.size() && finds[next].position == at)
            ++next;
        VideoGroup *group = next_group();
        if (!group)
            continue;
        group->head_pos = at;
        group->piece_pos[0] = at;
        group->tail_pos = next < finds.size() ? finds[next].position : std::max(card_end, at);
        ++single_num;
    }
}

}  // namespace

void group_scan(std::uint64_t card_end)
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

    single_groups(card_end);
}

std::uint32_t count_videos()
{
    std::uint32_t total = triple_num + qt_group_num + single_num;
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
    if (g < qt_group_num)
        return GROUP_QUICKTIME;
    g -= qt_group_num;
    return g < single_num ? GROUP_SINGLE : GROUP_NONE;
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
    std::uint32_t n = triple_num + qt_group_num + single_num;
    for (int k = 1; k <= MAX_KIND; ++k)
        n += group_num[k - 1];
    return n;
}
