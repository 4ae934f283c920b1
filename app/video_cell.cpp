#include "app/video_cell.h"

int video_row = 0;
int video_col = 0;
