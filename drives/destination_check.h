// Whether a folder chosen for recovered files lies on the device being
// recovered: writing there would overwrite the very data being rescued.
#pragma once

#include "drives/block_devices.h"
#include "drives/drive_table.h"

#include <QString>

// The refusal: the folder lies on the same device, on a partition of it or
// on the disk it is a partition of. Kernel names ("sdb", "sdb1").
bool shares_device(const BlockTree &tree, const QString &destination, const QString &source);

// The kernel name of the device holding `path` (or, when it does not exist
// yet, its nearest existing parent): by the file system's device number,
// else through the mount that holds it. Empty when no listed device does.
QString device_holding(const BlockTree &tree, const QString &path, const PlatformPaths &paths);

// Why `folder` must not receive what is recovered from `source` (a block
// device or an image file); empty when it may.
QString destination_on_source(const QString &folder, const QString &source,
                              const PlatformPaths &paths = PlatformPaths());
