// Which disks the running system lives on, from mountinfo and swaps, and
// where the other volumes are mounted.
#pragma once

#include "drives/block_devices.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <vector>

struct MountEntry {
    QString devnum;       // "major:minor"; 0:N for btrfs and other anonymous devices
    QString mount_point;  // unescaped
    QString source;       // the mounted device path, for example /dev/sda1
};

// The entries of a mountinfo file; malformed lines are left out.
std::vector<MountEntry> read_mountinfo(const QString &path);

// The file names listed in a swaps file (its first column, unescaped).
QStringList read_swaps(const QString &path);

// The device a mount entry stands for; empty when it is no listed device.
QString mounted_device(const BlockTree &tree, const MountEntry &mount, const QString &dev_root);

// Every disk that holds a mounted system file system (/, /boot, /boot/efi,
// /usr, /var, /home) or active swap, followed down stacked devices.
QSet<QString> system_disks(const BlockTree &tree, const std::vector<MountEntry> &mounts,
                           const QStringList &swaps, const QString &dev_root);

// The first mount point of each mounted device, by kernel name.
QHash<QString, QString> mount_points(const BlockTree &tree, const std::vector<MountEntry> &mounts,
                                     const QString &dev_root);
