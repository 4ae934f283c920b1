#include "drives/destination_check.h"

#include "drives/system_disks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString devnum_of(dev_t dev)
{
    return QStringLiteral("%1:%2").arg(major(dev)).arg(minor(dev));
}

// The path itself, or the nearest parent that exists, made canonical.
QString nearest_existing(const QString &path)
{
    QString at = QDir::cleanPath(QDir(path).absolutePath());
    while (!QFileInfo::exists(at) && at != QLatin1String("/"))
        at = QFileInfo(at).path();
    const QString canonical = QFileInfo(at).canonicalFilePath();
    return canonical.isEmpty() ? at : canonical;
}

bool under(const QString &path, const QString &mount_point)
{
    return mount_point == QLatin1String("/") || path == mount_point
           || path.startsWith(mount_point + QLatin1Char('/'));
}

}  // namespace

bool shares_device(const BlockTree &tree, const QString &destination, const QString &source)
{
    if (destination.isEmpty() || source.isEmpty())
        return false;
    if (destination == source)
        return true;
    const BlockDevice *d = tree.by_name(destination);
    const BlockDevice *s = tree.by_name(source);
    if (!d || !s)
        return false;
    // Two partitions of one disk are apart; a disk and any of its
    // partitions are not.
    return (!s->partition && d->disk == s->name) || (!d->partition && s->disk == d->name);
}

QString device_holding(const BlockTree &tree, const QString &path, const PlatformPaths &paths)
{
    const QString existing = nearest_existing(path);
    struct stat st{};
    if (stat(QFile::encodeName(existing).constData(), &st) == 0)
        if (const BlockDevice *device = tree.by_devnum(devnum_of(st.st_dev)))
            return device->name;
    // btrfs and others give their files an anonymous device number: the
    // mount holding the path names the device.
    const MountEntry *holder = nullptr;
    const std::vector<MountEntry> mounts = read_mountinfo(paths.mountinfo);
    for (const MountEntry &mount : mounts)
        if (under(existing, mount.mount_point)
            && (!holder || mount.mount_point.size() >= holder->mount_point.size()))
            holder = &mount;
    return holder ? mounted_device(tree, *holder, paths.dev) : QString();
}

QString destination_on_source(const QString &folder, const QString &source, const PlatformPaths &paths)
{
    struct stat st{};
    if (stat(QFile::encodeName(source).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return QString();  // an image file: writing beside it harms nothing
    const BlockTree tree(paths.sysfs);
    const BlockDevice *read = tree.by_devnum(devnum_of(st.st_rdev));
    const QString source_name = read ? read->name : tree.resolve_dev_path(source, paths.dev);
    const QString holder = device_holding(tree, folder, paths);
    if (!shares_device(tree, holder, source_name))
        return QString();
    return QStringLiteral("%1 lies on %2, the drive being recovered: writing there would overwrite the very "
                          "files being rescued. Choose a folder on another drive.")
            .arg(QDir::cleanPath(QDir(folder).absolutePath()), QStringLiteral("/dev/") + holder);
}
