// Every photo's length and its small PNG preview "ab" + index + ".png" in
// the work folder, reported by the last step of a scan.
#pragma once

#include "scan/byte_source.h"
#include "scan/photo_length.h"
#include "scan/photo_work.h"
#include "scan/scan_progress.h"

#include <QString>
#include <cstdint>

// Sets the length of photo i by photo_length_on_card, and whether its
// structure held, reading only what that needs. Returns the bytes that
// could not be read (the reading phase has counted them for the card
// already).
std::uint64_t measure_photo(ByteSource &source, std::uint64_t source_end, std::uint32_t i);

// Decodes the photo's bytes at a scale that fits 120 x 90 and saves them
// as `png_path`. False when the bytes do not decode.
bool save_photo_thumbnail(const unsigned char *data, std::uint64_t length, const QString &png_path);

// The work folder's "ab" + i + ".png".
QString photo_thumbnail_path(std::uint32_t i);

struct PhotoMeasure {
    std::uint64_t length = 0;
    bool walked = false;     // the length is where the JPEG structure ends
    bool thumbnail = false;  // the thumbnail was saved
};

// Measures the photo that `read` reads by photo_length_on_card and saves
// the thumbnail of its bytes as `png_path`. Touches nothing shared.
PhotoMeasure measure_and_thumbnail(PhotoRead &read, const QString &png_path);

// Measures photo i and saves the thumbnail of the bytes the measure read.
// Safe to run for different photos at once: it writes photo i's length
// (and whether its structure held) and nothing else that is shared.
bool make_photo_thumbnail(ByteSource &source, std::uint64_t source_end, std::uint32_t i, const QString &png_path);

// For every photo: length and thumbnail, made by `parallel` workers at once
// (0: one per core), and code 30000 + i from the calling thread in table
// order once photo i is done. Reads each photo from the card.
void photo_thumbnail_step(ByteSource &source, std::uint64_t source_end, ScanProgress &progress, int parallel = 0);

// The same for a scan whose reading pass handed its photos to `photos`:
// waits for what is still running and emits the codes.
void photo_thumbnail_step(PhotoWork &photos, ScanProgress &progress);
