#include "scan/signatures.h"

#include <cstring>

namespace {

bool has_ftyp(const unsigned char *b)
{
    return std::memcmp(b + 4, "ftyp", 4) == 0;
}

bool brand_is(const unsigned char *b, const char *two)
{
    return b[8] == static_cast<unsigned char>(two[0]) && b[9] == static_cast<unsigned char>(two[1]);
}

}  // namespace

bool is_quicktime_start(const unsigned char *b)
{
    return has_ftyp(b) && brand_is(b, "qt");
}

bool is_video_start(const unsigned char *b)
{
    return has_ftyp(b) && (brand_is(b, "mp") || brand_is(b, "av") || brand_is(b, "MS"));
}

bool is_photo_start(const unsigned char *b)
{
    return b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}

bool is_marker_photo(const unsigned char *b)
{
    static const unsigned char headers[3][5] = {
        {0xE0, 0x00, 0x10, 'J', 'F'},
        {0xE1, 0x07, 0xFC, 'E', 'x'},
        {0xE1, 0x39, 0xEF, 'E', 'x'},
    };
    if (!is_photo_start(b))
        return false;
    for (const auto &h : headers)
        if (std::memcmp(b + 3, h, sizeof h) == 0)
            return true;
    return false;
}
