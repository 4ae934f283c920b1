// Turns the raw finds of the reading phase into video groups: a stretch of
// the card between two marker photos with one to nine video starts in it,
// or, failing any such group, three video starts in a row; and the stretch
// between two consecutive QuickTime starts.
#pragma once

#include <cstdint>

// Fills group_list and its counters from start_list and qt_list. The tables
// must have been reset. Groups beyond the table's capacity are dropped and
// counted in dropped_finds.
void group_scan();

// Number of video files the groups give: k per group of kind k, one per
// triple and QuickTime group.
std::uint32_t count_videos();

// Kind of group g, by its place in the table: 1 to 9, or 0 for a triple
// group and -1 for a QuickTime group; -2 past the last group.
int group_kind(std::uint32_t g);

// Number of pieces (video files) of group g.
int group_pieces(std::uint32_t g);

// Number of groups in the table.
std::uint32_t group_count();

constexpr int GROUP_TRIPLE = 0;
constexpr int GROUP_QUICKTIME = -1;
constexpr int GROUP_NONE = -2;
