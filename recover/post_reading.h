// What the scan does with its finds once the reading phase is over:
// grouping and extraction (51 to 100), video thumbnails (20002 + i), photo
// lengths and thumbnails (30000 + i, made by `photos` since the reading
// pass), and the final 20001.
#pragma once

#include "scan/scan_progress.h"

class PhotoWork;

void after_reading_phase(ScanProgress &progress, PhotoWork &photos);
