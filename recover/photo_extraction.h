// Writes one photo found by the scan as a JPEG file: the contiguous bytes
// from its position up to the end its length rule gives.
#pragma once

#include "scan/byte_source.h"

#include <QString>
#include <cstdint>

struct PhotoResult {
    QString file_name;
    bool written = false;       // the file holds all `length` bytes
    std::uint64_t length = 0;   // 0: no end marker was found, the file is empty
    QString error;
    std::uint64_t unreadable = 0;
};

// save_dir + "/" + j + ".jpg", with one separator.
QString photo_file_name(int j);

// Writes save_dir/j.jpg (truncated first), reading each byte of the photo
// once. A photo the scan has measured is one extent, its position and
// length; one without a length is measured first, as the scan does, and
// its length set.
PhotoResult extract_photo(ByteSource &source, std::uint64_t end, int j);

// The same on the scan source (source_path(), opened read-only); no file is
// written when it cannot be opened.
PhotoResult extract_photo(int j);
