// What libblkid tells of a volume, and the volume serial derived from it.
#pragma once

#include "drives/drive_table.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

struct VolumeProbe {
    QByteArray label;  // LABEL, as libblkid gives it
    QByteArray type;   // TYPE: "vfat", "exfat", "ntfs", "ext4", ...
    QByteArray uuid;   // UUID: "ABCD-1234" for FAT and exFAT, 16 hex digits for NTFS
};

// Probes the block device at `path` read-only. Everything stays empty for a
// path that is no block device, cannot be opened, or holds no known file system.
VolumeProbe probe_volume(const QString &path);

// The 32-bit volume serial of a FAT, exFAT or NTFS volume (the low half of
// NTFS's 64-bit one), from libblkid's UUID; 0 for other file systems or a
// malformed UUID.
std::int32_t volume_serial_from_uuid(const QByteArray &type, const QByteArray &uuid);

// One "disksernum = %d \n" line per listed volume, probed under paths.dev.
QByteArray disk_serial_lines(const DiskInfo *table, int count, const PlatformPaths &paths = PlatformPaths());

// Writes disk_serial_lines to standard output.
void print_disk_serials(const DiskInfo *table, int count, const PlatformPaths &paths = PlatformPaths());
