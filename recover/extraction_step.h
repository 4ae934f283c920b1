// The scan's extraction step: every group's videos are planned from the card
// map, in file-number order, and the beginning of each is written into
// save_dir as its work copy n.mp4, with the progress 51 to 100.
#pragma once

#include "scan/scan_progress.h"

#include <cstdint>
#include <functional>

// `written(n)` is called once work copy n is in save_dir.
void extraction_step(ScanProgress &progress, const std::function<void(std::uint32_t)> &written = {});
