#include "cli/source_choice.h"

#include "drives/device_open.h"
#include "drives/device_size.h"
#include "drives/drive_table.h"

#include <QFileInfo>
#include <cstdio>

bool choose_source(const QString &source, QString *error)
{
    disk_num = get_disk_list(disk_list);
    const QString wanted = QFileInfo(source).canonicalFilePath();
    for (int i = 0; i < disk_num; ++i) {
        const QString listed = QStringLiteral("/dev/") + QString::fromLocal8Bit(disk_list[i].device);
        if (source == listed || (!wanted.isEmpty() && wanted == QFileInfo(listed).canonicalFilePath())) {
            select_disk = i;
            return true;
        }
    }
    std::uint64_t size = 0;
    if (!source_byte_size(source, &size, error))
        return false;
    image_path = source;
    image_size = size;
    select_disk = disk_num;
    return true;
}

void report_cannot_open(const QString &source, const QString &reason)
{
    std::fprintf(stderr, "tessaro-cli: cannot open %s: %s\n", qPrintable(source), qPrintable(reason));
    if (needs_udisks(source))
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(read_permission_advice()));
}
