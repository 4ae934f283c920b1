// Which block devices are candidate volumes, and the record of each.
// get_disk_list (drive_table.h) puts the two together.
#pragma once

#include "drives/block_devices.h"
#include "drives/drive_table.h"

#include <QHash>
#include <QSet>

// A partition, or a whole disk without partitions, with a nonzero size, on
// no system disk, and no virtual device (a loop device with a backing file
// counts as real: that is how an image is attached as a device).
bool is_candidate_volume(const BlockTree &tree, const BlockDevice &device, const QSet<QString> &system_disks);

// Fills `record` for `device`; false when the device cannot be recorded
// (its name does not fit, or it turns out to have no bytes).
bool fill_disk_record(DiskInfo *record, const BlockDevice &device, const QHash<QString, QString> &mount_points,
                      const BlockTree &tree, const PlatformPaths &paths);
