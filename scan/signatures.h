// The start signatures tested at every 32 KiB step of the source. Each test
// looks at the first ten bytes of the step only.
#pragma once

#include <cstdint>

constexpr unsigned SIGNATURE_BYTES = 10;

// b[4..7] = "ftyp" and b[8..9] = "qt".
bool is_quicktime_start(const unsigned char *b);
// b[4..7] = "ftyp" and b[8..9] one of "mp", "av", "MS".
bool is_video_start(const unsigned char *b);
// b[0..2] = FF D8 FF.
bool is_photo_start(const unsigned char *b);
// A photo start whose b[3..7] is one of the camera's three marker headers:
// JFIF APP0 of length 16, Exif APP1 of length 2044 or 14831.
bool is_marker_photo(const unsigned char *b);
