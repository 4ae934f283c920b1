// Turns the raw finds of the reading phase into video groups: a stretch of
// the card between two marker photos with one to nine video starts in it,
// or, failing any such group, three video starts in a row; and the stretch
// between two consecutive QuickTime starts. Every video or QuickTime start
// that is a piece of none of these then gets a group of its own, so that no
// recording is left out (the last one on a card, those of a camera that
// writes no marker photos); the groups before them keep their numbers.
#pragma once

#include <cstdint>

// Fills group_list and its counters from start_list and qt_list. The tables
// must have been reset. A start of its own group stretches to the next find
// of either list, the last one to `card_end`. Groups beyond the table's
// ceiling are dropped and counted in dropped_finds.
void group_scan(std::uint64_t card_end = ~std::uint64_t(0));

// Number of video files the groups give: k per group of kind k, one per
// triple and QuickTime group.
std::uint32_t count_videos();

// Kind of group g, by its place in the table: 1 to 9, or GROUP_TRIPLE,
// GROUP_QUICKTIME, GROUP_SINGLE; GROUP_NONE past the last group.
int group_kind(std::uint32_t g);

// Number of pieces (video files) of group g.
int group_pieces(std::uint32_t g);

// Number of groups in the table.
std::uint32_t group_count();

constexpr int GROUP_TRIPLE = 0;
constexpr int GROUP_QUICKTIME = -1;
constexpr int GROUP_NONE = -2;
constexpr int GROUP_SINGLE = -3;
