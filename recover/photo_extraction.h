// Writes one photo found by the scan as a JPEG file: the contiguous bytes
// from its position up to the end its length rule gives.
#pragma once

#include "recover/file_verdict.h"
#include "scan/byte_source.h"

#include <QString>
#include <cstdint>

struct PhotoResult {
    QString file_name;
    bool written = false;       // the file holds all `length` bytes
    std::uint64_t length = 0;   // 0: no end marker was found, the file is empty
    bool walked = false;        // its JPEG structure ran to its end marker
    QString error;
    std::uint64_t unreadable = 0;

    // Intact when the structure was walked to its end and the card gave
    // every byte; a length from the end-marker rule alone may cut the photo
    // short or run into what follows it.
    Verdict verdict() const;
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

// The bytes of photo `j` as the scan measured it, for showing it: at most
// PHOTO_MAX_LENGTH of them; empty for a photo without a length, or when
// the source cannot be opened (with the reason in `error`).
QByteArray photo_bytes(int j, QString *error);
