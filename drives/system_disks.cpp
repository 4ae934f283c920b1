#include "drives/system_disks.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

const char *const SYSTEM_MOUNT_POINTS[] = {"/", "/boot", "/boot/efi", "/usr", "/var", "/home"};

// mountinfo and swaps write blanks, tabs, newlines and backslashes in
// paths as \ooo octal escapes.
QString unescape_octal(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QFile::decodeName(out);
}

QList<QByteArray> fields_of(const QByteArray &line)
{
    return line.simplified().split(' ');
}

QList<QByteArray> read_lines(const QString &path)
{
    QList<QByteArray> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    // proc files report size 0, so read line by line until the end.
    while (true) {
        const QByteArray line = file.readLine();
        if (line.isEmpty())
            break;
        lines.append(line);
    }
    return lines;
}

QString devnum_of(dev_t dev)
{
    return QStringLiteral("%1:%2").arg(major(dev)).arg(minor(dev));
}

} // namespace

std::vector<MountEntry> read_mountinfo(const QString &path)
{
    std::vector<MountEntry> mounts;
    for (const QByteArray &line : read_lines(path)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const QList<QByteArray> f = fields_of(line);
        const int dash = f.indexOf("-", 6);
        if (f.size() < 7 || dash < 0 || dash + 2 >= f.size())
            continue;
        MountEntry mount;
        mount.devnum = QString::fromLatin1(f[2]);
        mount.mount_point = unescape_octal(f[4]);
        mount.source = unescape_octal(f[dash + 2]);
        mounts.push_back(mount);
    }
    return mounts;
}

QStringList read_swaps(const QString &path)
{
    QStringList swaps;
    const QList<QByteArray> lines = read_lines(path);
    for (int i = 1; i < lines.size(); ++i) {  // the first line is the column header
        const QList<QByteArray> f = fields_of(lines[i]);
        if (!f.isEmpty() && !f[0].isEmpty())
            swaps.append(unescape_octal(f[0]));
    }
    return swaps;
}

QString mounted_device(const BlockTree &tree, const MountEntry &mount, const QString &dev_root)
{
    // btrfs reports an anonymous 0:N number, so fall back to the source path.
    if (const BlockDevice *device = tree.by_devnum(mount.devnum))
        return device->name;
    return tree.resolve_dev_path(mount.source, dev_root);
}

QSet<QString> system_disks(const BlockTree &tree, const std::vector<MountEntry> &mounts,
                           const QStringList &swaps, const QString &dev_root)
{
    QStringList system_devices;
    for (const MountEntry &mount : mounts) {
        for (const char *point : SYSTEM_MOUNT_POINTS) {
            if (mount.mount_point == QLatin1String(point)) {
                system_devices.append(mounted_device(tree, mount, dev_root));
                break;
            }
        }
    }
    for (const QString &swap : swaps) {
        QString name = tree.resolve_dev_path(swap, dev_root);
        if (name.isEmpty()) {
            // A swap file: the disk to keep away from is the one holding it.
            struct stat st{};
            if (stat(QFile::encodeName(swap).constData(), &st) == 0 && S_ISREG(st.st_mode))
                if (const BlockDevice *device = tree.by_devnum(devnum_of(st.st_dev)))
                    name = device->name;
        }
        system_devices.append(name);
    }

    QSet<QString> disks;
    for (const QString &name : system_devices) {
        if (name.isEmpty())
            continue;
        for (const QString &disk : tree.disks_beneath(name))
            disks.insert(disk);
    }
    return disks;
}

QHash<QString, QString> mount_points(const BlockTree &tree, const std::vector<MountEntry> &mounts,
                                     const QString &dev_root)
{
    QHash<QString, QString> points;
    for (const MountEntry &mount : mounts) {
        const QString name = mounted_device(tree, mount, dev_root);
        if (!name.isEmpty() && !points.contains(name))
            points.insert(name, mount.mount_point);
    }
    return points;
}
