#include "drives/volume_enumeration.h"

#include "drives/device_size.h"
#include "drives/natural_order.h"
#include "drives/system_disks.h"
#include "drives/volume_probe.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/statvfs.h>

namespace {

const char *const VIRTUAL_PREFIXES[] = {"ram", "zram", "dm-", "md", "sr"};

// Copies at most size - 1 bytes and the terminating zero, without cutting
// a UTF-8 sequence in two.
void copy_text(char *field, size_t size, const QByteArray &text)
{
    size_t len = std::min(static_cast<size_t>(text.size()), size - 1);
    if (len < static_cast<size_t>(text.size())) {
        while (len > 0 && (static_cast<unsigned char>(text[static_cast<int>(len)]) & 0xC0) == 0x80)
            --len;
    }
    std::memset(field, 0, size);
    std::memcpy(field, text.constData(), len);
}

std::uint64_t free_bytes(const QString &mount_point)
{
    struct statvfs st{};
    if (mount_point.isEmpty() || statvfs(QFile::encodeName(mount_point).constData(), &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

} // namespace

bool is_candidate_volume(const BlockTree &tree, const BlockDevice &device, const QSet<QString> &system_disks)
{
    if (device.sectors == 0 || system_disks.contains(device.disk) || tree.is_hidden(device))
        return false;
    for (const char *prefix : VIRTUAL_PREFIXES) {
        if (device.disk.startsWith(QLatin1String(prefix)))
            return false;
    }
    if (device.disk.startsWith(QLatin1String("loop"))) {
        if (tree.loop_backing_file(device).isEmpty())
            return false;
    } else if (tree.is_virtual_path(device)) {
        return false;  // nbd, nullb and the like
    }
    return device.partition || !tree.has_partitions(device);
}

bool fill_disk_record(DiskInfo *record, const BlockDevice &device, const QHash<QString, QString> &mount_points,
                      const BlockTree &tree, const PlatformPaths &paths)
{
    const QByteArray name = QFile::encodeName(device.name);
    if (static_cast<size_t>(name.size()) >= sizeof record->device)
        return false;  // a cut name would open another device
    if (device.sectors > std::numeric_limits<std::uint64_t>::max() / 512)
        return false;

    // The device itself knows its size to the byte; sysfs counts 512-byte units.
    const QString dev_path = QDir(paths.dev).filePath(device.name);
    std::uint64_t size = device.sectors * 512;
    if (is_block_device(dev_path)) {
        std::uint64_t asked = 0;
        QString error;
        if (source_byte_size(dev_path, &asked, &error))
            size = asked;
    }
    if (size == 0)
        return false;

    const VolumeProbe probe = probe_volume(dev_path);
    std::memset(record, 0, sizeof *record);
    copy_text(record->device, sizeof record->device, name);
    copy_text(record->volume_name, sizeof record->volume_name, probe.label);
    copy_text(record->fs_name, sizeof record->fs_name, probe.type);
    copy_text(record->free_text, sizeof record->free_text,
              gigabyte_text(free_bytes(mount_points.value(device.name))).toLatin1());
    copy_text(record->total_text, sizeof record->total_text, gigabyte_text(size).toLatin1());
    record->total_size = size;
    record->sector_size = tree.logical_block_size(device);
    return true;
}

int get_disk_list(DiskInfo *table, const PlatformPaths &paths)
{
    std::memset(table, 0, sizeof(DiskInfo) * DISK_SLOTS);

    const BlockTree tree(paths.sysfs);
    const std::vector<MountEntry> mounts = read_mountinfo(paths.mountinfo);
    const QSet<QString> system = system_disks(tree, mounts, read_swaps(paths.swaps), paths.dev);
    const QHash<QString, QString> points = mount_points(tree, mounts, paths.dev);

    std::vector<const BlockDevice *> devices;
    for (const BlockDevice &device : tree.devices())
        devices.push_back(&device);
    std::sort(devices.begin(), devices.end(),
              [](const BlockDevice *a, const BlockDevice *b) { return natural_less(a->name, b->name); });

    int count = 0;
    for (const BlockDevice *device : devices) {
        if (count == DISK_SLOTS)
            break;
        if (is_candidate_volume(tree, *device, system) && fill_disk_record(&table[count], *device, points, tree, paths))
            ++count;
    }
    return count;
}
