// The current cell of the video grid: video number video_row * 6 + video_col
// is the one a preview plays. GUI thread only.
#pragma once

constexpr int GRID_COLUMNS = 6;

extern int video_row;
extern int video_col;
