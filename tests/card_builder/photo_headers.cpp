#include "card_builder/photo_headers.h"

namespace card {

namespace {

// The header-free rest of a JPEG: everything after SOI and the APPn and
// comment segments that follow it. Empty if the segments do not add up.
QByteArray body_of(const QByteArray &jpeg)
{
    const auto *d = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const int size = jpeg.size();
    if (size < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return {};
    int pos = 2;
    while (pos + 4 <= size && d[pos] == 0xFF && ((d[pos + 1] & 0xF0) == 0xE0 || d[pos + 1] == 0xFE)) {
        const int len = (d[pos + 2] << 8) | d[pos + 3];
        if (len < 2 || len > size - pos - 2)
            return {};
        pos += 2 + len;
    }
    if (pos + 2 > size || d[pos] != 0xFF)
        return {};
    return jpeg.mid(pos);
}

const char SOI[] = "\xFF\xD8";

}  // namespace

QByteArray with_exif_header(const QByteArray &jpeg, std::uint16_t length)
{
    // "Exif\0\0" and a big-endian TIFF header whose one IFD has no entries.
    static const QByteArray exif("Exif\0\0" "MM\0\x2A\0\0\0\x08" "\0\0" "\0\0\0\0", 20);
    const QByteArray body = body_of(jpeg);
    if (body.isEmpty() || length < 2 + exif.size())
        return {};
    QByteArray out(SOI, 2);
    out += '\xFF';
    out += '\xE1';
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
    out += exif;
    out += QByteArray(length - 2 - exif.size(), '\0');
    return out + body;
}

QByteArray with_photo_header(const QByteArray &jpeg, PhotoHeader header)
{
    switch (header) {
    case PhotoHeader::Exif2044:
        return with_exif_header(jpeg, 0x07FC);
    case PhotoHeader::Exif14831:
        return with_exif_header(jpeg, 0x39EF);
    case PhotoHeader::Jfif: {
        const QByteArray body = body_of(jpeg);
        if (body.isEmpty())
            return {};
        // Version 1.1, no density units, 1:1 aspect, no thumbnail.
        static const QByteArray app0("\xFF\xE0\x00\x10" "JFIF\0" "\x01\x01\x00" "\x00\x01\x00\x01" "\x00\x00", 18);
        return QByteArray(SOI, 2) + app0 + body;
    }
    case PhotoHeader::Plain: {
        const QByteArray body = body_of(jpeg);
        return body.isEmpty() ? QByteArray() : QByteArray(SOI, 2) + body;
    }
    }
    return {};
}

}  // namespace card
