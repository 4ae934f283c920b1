// A recording whose moov box was never written, planned as a file with a
// new index: its samples walked in its mdat (mdat_walk.h), a sibling
// recording on the card whose sample entry decodes its first key frame, and
// a moov box made from the two (index_writer.h). Without such a sibling the
// samples are planned as a raw stream that players still open.
#pragma once

#include "rebuild/video_plan.h"
#include "scan/byte_source.h"

#include <cstdint>

class CardMap;

// Samples fewer than this are no recording worth a file of its own.
constexpr std::size_t LOST_INDEX_MIN_SAMPLES = 2;

// Plans the recording whose ftyp box is at Q when its ftyp box is followed
// by an mdat box whose frames walk; false, leaving `plan` alone, otherwise.
bool plan_lost_index(ByteSource &source, std::uint64_t end, const CardMap &map, std::uint64_t Q, VideoPlan *plan);

// Where the next file on the card's grid after Q starts (a video, QuickTime
// or photo start of the scan's tables), or `end`.
std::uint64_t next_start_after(std::uint64_t Q, std::uint64_t end);
