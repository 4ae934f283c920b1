// Sizes of scan sources that are given by path rather than by a drive row.
#pragma once

#include <QString>
#include <cstdint>

// The byte size of a block device (asked of the device itself, or of sysfs
// when the user may not open it) or of a regular file. False with the reason
// when it cannot be told.
bool source_byte_size(const QString &path, std::uint64_t *size, QString *error);

// Whether the path names a block device.
bool is_block_device(const QString &path);
