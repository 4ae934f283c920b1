#include "cli/commands.h"

#include "drives/drive_table.h"

#include <cstdio>

int drives_command(const QStringList &args)
{
    if (!args.isEmpty()) {
        std::fprintf(stderr, "usage: tessaro-cli drives\n");
        return EXIT_USAGE;
    }
    disk_num = get_disk_list(disk_list);
    if (disk_num == 0)
        std::printf("No eligible drive (the system disk is never listed).\n");
    for (int i = 0; i < disk_num; ++i) {
        const DiskInfo &d = disk_list[i];
        std::printf("%d  /dev/%-12s %14llu bytes  %-8s %s\n", i, d.device,
                    static_cast<unsigned long long>(d.total_size), d.fs_name,
                    qPrintable(disk_display_text(d)));
    }
    return EXIT_OK;
}
