#include "drives/block_devices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Stacked devices nest a few levels at most (dm on md on partitions); the
// bound only guards against a looping fake or broken tree.
constexpr int MAX_STACK_DEPTH = 16;

QString child(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

} // namespace

QString read_sysfs_text(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.read(4096)).trimmed();
}

BlockTree::BlockTree(const QString &sysfs_root)
{
    m_root = QFileInfo(sysfs_root).canonicalFilePath();
    const QDir class_dir(child(sysfs_root, QStringLiteral("class/block")));
    // System: the entries are symlinks, and QDir hides broken ones otherwise.
    const QStringList names = class_dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        BlockDevice device;
        device.name = name;
        device.sys_dir = QFileInfo(class_dir.filePath(name)).canonicalFilePath();
        if (device.sys_dir.isEmpty())
            continue;
        device.partition = QFileInfo::exists(child(device.sys_dir, QStringLiteral("partition")));
        device.disk_dir = device.partition ? QFileInfo(device.sys_dir).path() : device.sys_dir;
        device.disk = QFileInfo(device.disk_dir).fileName();
        device.devnum = read_sysfs_text(child(device.sys_dir, QStringLiteral("dev")));
        device.sectors = read_sysfs_text(child(device.sys_dir, QStringLiteral("size"))).toULongLong();
        m_by_name.insert(device.name, static_cast<int>(m_devices.size()));
        if (!device.devnum.isEmpty())
            m_by_devnum.insert(device.devnum, static_cast<int>(m_devices.size()));
        m_devices.push_back(device);
    }
}

const BlockDevice *BlockTree::by_name(const QString &name) const
{
    const auto it = m_by_name.constFind(name);
    return it == m_by_name.constEnd() ? nullptr : &m_devices[static_cast<size_t>(*it)];
}

const BlockDevice *BlockTree::by_devnum(const QString &devnum) const
{
    const auto it = m_by_devnum.constFind(devnum);
    return it == m_by_devnum.constEnd() ? nullptr : &m_devices[static_cast<size_t>(*it)];
}

QString BlockTree::resolve_dev_path(const QString &path, const QString &dev_root) const
{
    if (!path.startsWith(QLatin1String("/dev/")))
        return QString();
    const QString relative = path.mid(5);
    struct stat st{};
    if (stat(QFile::encodeName(child(dev_root, relative)).constData(), &st) == 0 && S_ISBLK(st.st_mode)) {
        const QString devnum = QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
        if (const BlockDevice *device = by_devnum(devnum))
            return device->name;
    }
    const QString base = relative.section(QLatin1Char('/'), -1);
    if (relative.startsWith(QLatin1String("mapper/"))) {
        for (const BlockDevice &device : m_devices) {
            if (read_sysfs_text(child(device.sys_dir, QStringLiteral("dm/name"))) == base)
                return device.name;
        }
        return QString();
    }
    return by_name(base) ? base : QString();
}

QStringList BlockTree::disks_beneath(const QString &name) const
{
    QStringList disks;
    collect_disks(name, 0, &disks);
    return disks;
}

void BlockTree::collect_disks(const QString &name, int depth, QStringList *disks) const
{
    const BlockDevice *device = by_name(name);
    if (!device || depth > MAX_STACK_DEPTH || disks->contains(device->disk))
        return;
    disks->append(device->disk);
    // The slaves links sit on the disk of a stacked device (dm-0, md0), also
    // when one of its partitions (md0p1) is what is mounted.
    const QDir slaves(child(device->disk_dir, QStringLiteral("slaves")));
    const QStringList names = slaves.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &slave : names)
        collect_disks(slave, depth + 1, disks);
}

bool BlockTree::has_partitions(const BlockDevice &device) const
{
    const QDir dir(device.disk_dir);
    const QStringList subdirs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &sub : subdirs) {
        if (QFileInfo::exists(child(dir.filePath(sub), QStringLiteral("partition"))))
            return true;
    }
    return false;
}

QString BlockTree::loop_backing_file(const BlockDevice &device) const
{
    return read_sysfs_text(child(device.disk_dir, QStringLiteral("loop/backing_file")));
}

bool BlockTree::is_virtual_path(const BlockDevice &device) const
{
    return !m_root.isEmpty() && device.disk_dir.startsWith(m_root + QStringLiteral("/devices/virtual/"));
}

std::uint32_t BlockTree::logical_block_size(const BlockDevice &device) const
{
    const uint size = read_sysfs_text(child(device.disk_dir, QStringLiteral("queue/logical_block_size"))).toUInt();
    return size ? size : 512;
}

bool BlockTree::is_hidden(const BlockDevice &device) const
{
    return read_sysfs_text(child(device.disk_dir, QStringLiteral("hidden"))) == QLatin1String("1");
}
