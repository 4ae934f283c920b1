#include "drives/volume_probe.h"

#include "drives/device_size.h"

#include <QDir>
#include <QFile>

#include <blkid/blkid.h>
#include <cstdio>

namespace {

QByteArray lookup(blkid_probe probe, const char *name)
{
    const char *value = nullptr;
    size_t len = 0;
    if (blkid_probe_lookup_value(probe, name, &value, &len) != 0 || !value)
        return QByteArray();
    return QByteArray(value);  // len counts the terminating zero
}

} // namespace

VolumeProbe probe_volume(const QString &path)
{
    VolumeProbe result;
    if (!is_block_device(path))
        return result;
    // Opens the device O_RDONLY; the card is never written.
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(path).constData());
    if (!probe)
        return result;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_UUID);
    if (blkid_do_safeprobe(probe) == 0) {
        result.label = lookup(probe, "LABEL");
        result.type = lookup(probe, "TYPE");
        result.uuid = lookup(probe, "UUID");
    }
    blkid_free_probe(probe);
    return result;
}

std::int32_t volume_serial_from_uuid(const QByteArray &type, const QByteArray &uuid)
{
    if (type != "vfat" && type != "exfat" && type != "ntfs")
        return 0;
    QByteArray digits = uuid;
    digits.replace('-', QByteArray());
    if (digits.size() == 16)
        digits = digits.right(8);  // Windows reports the low 32 bits of NTFS's serial
    if (digits.size() != 8)
        return 0;
    std::uint32_t serial = 0;
    for (const char c : digits) {
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else
            return 0;
        serial = serial << 4 | static_cast<std::uint32_t>(nibble);
    }
    return static_cast<std::int32_t>(serial);
}

QByteArray disk_serial_lines(const DiskInfo *table, int count, const PlatformPaths &paths)
{
    QByteArray lines;
    for (int i = 0; i < count && i < DISK_SLOTS; ++i) {
        const VolumeProbe probe = probe_volume(QDir(paths.dev).filePath(QString::fromLocal8Bit(table[i].device)));
        lines += "disksernum = " + QByteArray::number(volume_serial_from_uuid(probe.type, probe.uuid)) + " \n";
    }
    return lines;
}

void print_disk_serials(const DiskInfo *table, int count, const PlatformPaths &paths)
{
    const QByteArray lines = disk_serial_lines(table, count, paths);
    std::fwrite(lines.constData(), 1, static_cast<size_t>(lines.size()), stdout);
    std::fflush(stdout);
}
