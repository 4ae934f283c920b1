// Where the scan's steps send their progress: the scan thread turns these
// into its signals; tests record them.
#pragma once

#include <cstdint>

class ScanProgress
{
public:
    virtual ~ScanProgress() = default;
    virtual void bytes_read(std::uint64_t offset) = 0;  // UpdateSignal
    virtual void code(int value) = 0;                   // UpdateSignal_num
};

// The phase codes of UpdateSignal_num beyond the percentages.
constexpr int CODE_READING_DONE = 50;
constexpr int CODE_SCAN_DONE = 20001;
constexpr int CODE_VIDEO_THUMBS = 20002;  // then 20002 + i after video i
constexpr int CODE_PHOTO_THUMB = 30000;   // 30000 + i after photo i
