// The scan's extraction step: every group's stretch is analysed and the
// beginning of each of its videos rebuilt into save_dir as n.mp4, with the
// progress 51 to 100.
#pragma once

#include "scan/scan_progress.h"

void extraction_step(ScanProgress &progress);
