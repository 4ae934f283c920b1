// The last step of a scan: every photo gets its length and a small PNG
// preview "ab" + index + ".png" in the work folder.
#pragma once

#include "scan/byte_source.h"
#include "scan/scan_progress.h"

#include <QString>
#include <cstdint>

// Reads the first 4 MiB of photo i into photo_buf and sets its length by
// photo_length_on_card (which reads on from the source for a longer photo).
// Returns the bytes that could not be read (the reading phase has counted
// them for the card already).
std::uint64_t measure_photo(ByteSource &source, std::uint64_t source_end, std::uint32_t i);

// Scales the photo's bytes into 120 x 90 and saves them as `png_path`.
// False when the bytes do not decode.
bool save_photo_thumbnail(const unsigned char *data, std::uint64_t length, const QString &png_path);

// Measures photo i and saves the thumbnail of all its bytes as `png_path`.
bool make_photo_thumbnail(ByteSource &source, std::uint64_t source_end, std::uint32_t i, const QString &png_path);

// For every photo in table order: length, thumbnail, then code 30000 + i.
// The source is the current scan source.
void photo_thumbnail_step(ScanProgress &progress);
