#include "image/image_checks.h"

#include "drives/device_size.h"
#include "drives/drive_table.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace {
constexpr long FAT_MAGIC = 0x4d44;  // MSDOS_SUPER_MAGIC: FAT12/16/32 (vfat)
constexpr std::uint64_t FAT_LIMIT_GB = 4;
}

std::uint64_t whole_gigabytes(std::uint64_t bytes)
{
    return bytes >> 30;
}

ImageRefusal check_image_destination(std::uint64_t source_bytes, const QString &destination)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(destination).absolutePath());
    struct statvfs vfs;
    // A folder whose space cannot be told is not refused here; the copy
    // itself reports what goes wrong.
    if (statvfs(folder.constData(), &vfs) != 0)
        return ImageRefusal::None;
    const std::uint64_t free_bytes = std::uint64_t(vfs.f_bavail) * vfs.f_frsize;
    if (whole_gigabytes(source_bytes) > whole_gigabytes(free_bytes))
        return ImageRefusal::NoSpace;
    struct statfs fs;
    if (whole_gigabytes(source_bytes) > FAT_LIMIT_GB && statfs(folder.constData(), &fs) == 0 && fs.f_type == FAT_MAGIC)
        return ImageRefusal::WrongFormat;
    return ImageRefusal::None;
}

bool measure_image(const QString &path, std::uint64_t *size, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    file.close();
    return source_byte_size(path, size, error);
}

QString image_row_text(const QString &path, std::uint64_t size)
{
    return path + QStringLiteral("   total size ") + gigabyte_text(size);
}
