// The rebuild of one video in a single call: plan it from the frame index
// of the group just analysed, then write the plan. The scan and the
// recovery keep plans instead (rebuild/video_plan.h); tests and tools that
// rebuild one piece use this.
#pragma once

#include "recover/plan_writer.h"
#include "scan/byte_source.h"

#include <cstdint>

// Writes save_dir/n.mp4 for the piece at Q, with the V-byte moov box at
// `moov` (V at most MOOV_BUF_SIZE). With short_rebuild the file holds the
// first SHORT_REBUILD_CHUNKS chunks (the last one follows when the table
// ends right after them), as a work copy does. Takes the frames the plan
// uses out of the frame indexes.
RebuildResult rebuild_video(ByteSource &source, std::uint64_t end, int n, std::uint64_t Q,
                            const unsigned char *moov, std::uint64_t moov_size, bool short_rebuild);

// The same on the scan source (source_path(), opened read-only).
RebuildResult rebuild_video(int n, std::uint64_t Q, const unsigned char *moov, std::uint64_t moov_size,
                            bool short_rebuild);
