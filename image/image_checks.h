// The checks made before a drive copy starts, and the measuring of an image
// file that is loaded as a scan source.
#pragma once

#include <QString>
#include <cstdint>

enum class ImageRefusal {
    None,
    NoSpace,      // "no have available space."
    WrongFormat,  // "disk format is wrong": over 4 GiB onto FAT32
};

// Whole gigabytes (2^30 bytes), truncated.
std::uint64_t whole_gigabytes(std::uint64_t bytes);

// Whether a copy of `source_bytes` may go to `destination` (a file path):
// the source's whole gigabytes against the whole free gigabytes of the
// destination's folder, and no source over 4 whole gigabytes onto a
// FAT32/vfat file system.
ImageRefusal check_image_destination(std::uint64_t source_bytes, const QString &destination);

// The size of an image file to load, opened read-only. False with the reason
// when it cannot be opened.
bool measure_image(const QString &path, std::uint64_t *size, QString *error);

// "%0.2f GB " of an image's size, as its drive-list row shows it.
QString image_row_text(const QString &path, std::uint64_t size);
