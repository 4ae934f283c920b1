#include "drives/drive_table.h"
#include <cstring>
int get_disk_list(DiskInfo *table, const PlatformPaths &)
{
    std::memset(table, 0, sizeof(DiskInfo) * DISK_SLOTS);
    return 0;
}
