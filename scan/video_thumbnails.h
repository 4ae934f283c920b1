// Video thumbnails: ffmpeg writes the frame at one second of each work copy
// n.mp4 as n.png (120 x 90) in the work folder, one run after another.
#pragma once

#include "scan/scan_progress.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// The ffmpeg to run: the copy in the work folder when there is one, else
// ffmpeg from PATH; empty when there is neither.
QString ffmpeg_program();

// The argument list for video i (no shell: paths may hold any character).
QStringList thumbnail_arguments(std::uint32_t i);

// Emits 20002, then runs ffmpeg for videos 0 .. count - 1, emitting
// 20002 + i after each whatever came of it.
void video_thumbnail_step(std::uint32_t count, ScanProgress &progress);
