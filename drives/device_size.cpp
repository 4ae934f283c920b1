#include "drives/device_size.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool is_block_device(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

namespace {

// A block device's size as sysfs counts it, in 512-byte units whatever the
// logical block size.
bool sysfs_block_size(const QString &path, std::uint64_t *size)
{
    struct stat st{};
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    QFile file(QStringLiteral("/sys/dev/block/%1:%2/size").arg(major(st.st_rdev)).arg(minor(st.st_rdev)));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const std::uint64_t sectors = file.readAll().trimmed().toULongLong(&ok);
    if (ok)
        *size = sectors * 512;
    return ok;
}

}  // namespace

bool source_byte_size(const QString &path, std::uint64_t *size, QString *error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        // A card the user may only read through udisks2 is measured without
        // asking for the password.
        if ((err == EACCES || err == EPERM) && sysfs_block_size(path, size))
            return true;
        *error = QString::fromLocal8Bit(std::strerror(err));
        return false;
    }
    struct stat st{};
    bool ok = fstat(fd, &st) == 0;
    if (ok && S_ISBLK(st.st_mode)) {
        std::uint64_t bytes = 0;
        ok = ioctl(fd, BLKGETSIZE64, &bytes) == 0;
        *size = bytes;
    } else if (ok && S_ISREG(st.st_mode)) {
        *size = static_cast<std::uint64_t>(st.st_size);
    } else if (ok) {
        errno = EINVAL;
        ok = false;
    }
    if (!ok)
        *error = S_ISDIR(st.st_mode) ? QStringLiteral("Is a directory") : QString::fromLocal8Bit(std::strerror(errno));
    close(fd);
    return ok;
}
