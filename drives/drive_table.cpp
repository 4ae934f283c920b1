#include "drives/drive_table.h"

DiskInfo disk_list[DISK_SLOTS];
int disk_num = 0;
int select_disk = -1;
QString image_path;
std::uint64_t image_size = 0;

QString disk_display_text(const DiskInfo &disk)
{
    return QString::fromLocal8Bit(disk.volume_name) + QStringLiteral(" (") + QString::fromLocal8Bit(disk.device)
           + QStringLiteral(":)    ") + QString::fromLatin1(disk.free_text) + QStringLiteral(" free of ")
           + QString::fromLatin1(disk.total_text);
}

QString gigabyte_text(std::uint64_t bytes)
{
    const long double gb = static_cast<long double>(bytes) / (1024.0L * 1024.0L * 1024.0L);
    return QString::asprintf("%0.2f GB ", static_cast<double>(gb));
}

QString source_path()
{
    if (select_disk < 0)
        return QString();
    if (select_disk < disk_num)
        return QStringLiteral("/dev/") + QString::fromLocal8Bit(disk_list[select_disk].device);
    return image_path;
}

std::uint64_t source_size()
{
    if (select_disk < 0)
        return 0;
    if (select_disk < disk_num)
        return disk_list[select_disk].total_size;
    return image_size;
}
