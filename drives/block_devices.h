// The block devices the kernel lists under <sysfs>/class/block, as a tree of
// disks and their partitions. Reads sysfs only; nothing is opened in /dev.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

struct BlockDevice {
    QString name;         // kernel name: "sdb1", "mmcblk0p1", "dm-0"
    QString sys_dir;      // canonical sysfs directory of the device
    QString disk;         // the whole disk it lies on; its own name for a disk
    QString disk_dir;     // canonical sysfs directory of that disk
    QString devnum;       // "major:minor" as in the dev attribute
    bool partition = false;
    std::uint64_t sectors = 0;  // size attribute, in 512-byte units whatever the sector size
};

class BlockTree
{
public:
    explicit BlockTree(const QString &sysfs_root);

    const std::vector<BlockDevice> &devices() const { return m_devices; }
    const BlockDevice *by_name(const QString &name) const;
    const BlockDevice *by_devnum(const QString &devnum) const;

    // The device a /dev path names: by its device number when the node
    // exists under `dev_root`, else by kernel name or device-mapper name.
    // Empty when it is not one of the listed devices.
    QString resolve_dev_path(const QString &path, const QString &dev_root) const;

    // The physical disks under a device: its own disk and, through the
    // slaves links of stacked devices (dm, md), every disk beneath.
    QStringList disks_beneath(const QString &name) const;

    // True when the disk directory holds partition subdirectories.
    bool has_partitions(const BlockDevice &device) const;
    // The loop backing file of the device's disk; empty when none.
    QString loop_backing_file(const BlockDevice &device) const;
    // True when the disk lies under devices/virtual (dm, md, ram, zram, loop, nbd).
    bool is_virtual_path(const BlockDevice &device) const;
    // queue/logical_block_size of the device's disk; 512 when unknown.
    std::uint32_t logical_block_size(const BlockDevice &device) const;
    bool is_hidden(const BlockDevice &device) const;

private:
    void collect_disks(const QString &name, int depth, QStringList *disks) const;

    QString m_root;  // canonical sysfs root
    std::vector<BlockDevice> m_devices;
    QHash<QString, int> m_by_name;
    QHash<QString, int> m_by_devnum;
};

// The trimmed text of a small sysfs attribute; empty when unreadable.
QString read_sysfs_text(const QString &path);
