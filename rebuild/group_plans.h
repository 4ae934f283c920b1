// The plans of a group's videos: its stretch taken from the card map, then
// each piece planned in order, so that a piece never reuses the frames an
// earlier piece of the group took.
#pragma once

#include "scan/byte_source.h"

#include <cstdint>

// Appends the plans of group g's pieces to video_plans. Without a source
// (null: it could not be opened) each plan says so and no file is made.
void plan_group(std::uint32_t g, ByteSource *source, std::uint64_t end);

// Plans every group's videos afresh, in file-number order.
void plan_all_groups(ByteSource *source, std::uint64_t end);
