// Rewrites the header of a JPEG so that it starts as the camera's photos do.
// The scan tells a "marker photo" (one the camera writes around each
// recording) from an ordinary one by the five bytes after FF D8 FF.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace card {

enum class PhotoHeader {
    Jfif,       // FF E0 00 10 "JFIF": APP0 of length 16
    Exif2044,   // FF E1 07 FC "Exif": APP1 of length 0x07FC
    Exif14831,  // FF E1 39 EF "Exif": APP1 of length 0x39EF
    Plain,      // no APPn at all: FF D8 is followed by the first table (FF DB)
};

// A copy of `jpeg` whose APPn and comment segments right after SOI are
// replaced by the chosen header; the image data is left as it was, so the
// photo still decodes. Empty if `jpeg` is not a JPEG with sound segments.
QByteArray with_photo_header(const QByteArray &jpeg, PhotoHeader header);

// The same with an Exif APP1 segment of any `length` (the segment's length
// field, which counts itself) from 22 on; empty below that.
QByteArray with_exif_header(const QByteArray &jpeg, std::uint16_t length);

}  // namespace card
