// The reading phase of a scan: the whole source in 16 MiB chunks, the first
// bytes of every 32 KiB step tested for a video, QuickTime or photo start.
#pragma once

#include "scan/byte_source.h"
#include "scan/scan_progress.h"
#include "scan/step_grids.h"

#include <cstdint>
#include <vector>

class PhotoWork;

// Fills start_list, qt_list and photo_list from `size` bytes of `source`
// (the tables must have been reset), and card_map from the same bytes.
// Steps run on the grids of the partition table the first chunk holds,
// which scan_grids keeps. Emits the progress after every chunk
// but the last, then 50. Stops early, within one chunk, when scan_flag
// drops to 0. Adds what could not be read to unreadable_bytes. With
// `photos`, every photo found goes to its workers with the bytes of it
// that the pass reads.
void reading_phase(ByteSource &source, std::uint64_t size, ScanProgress &progress, PhotoWork *photos = nullptr);

// Tests the steps of one chunk in read_buf, whose first byte is at
// `chunk_start` (on the 32 KiB grid), on `grids`; with `first_only` only
// the first step (a cancelled scan). `finds` (when given) gets the position
// of every step where a start was found, kept or not, in increasing order.
void test_chunk_steps(std::uint64_t chunk_start, bool first_only, std::uint32_t &starts,
                      std::uint32_t &qts, std::uint32_t &photos, std::vector<std::uint64_t> *finds = nullptr,
                      const StepGrids &grids = StepGrids());
