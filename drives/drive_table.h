// The table of candidate drives and the rules that name the scan source.
// Written on the GUI thread only; workers read it when they open the source.
#pragma once

#include <QString>
#include <cstdint>

constexpr int DISK_SLOTS = 26;

struct DiskInfo {
    char device[32];        // kernel name, for example "sdb1" or "mmcblk0p1"; zero-terminated
    char volume_name[100];  // label from libblkid; empty when none
    char fs_name[100];      // file-system type from libblkid; recorded only
    char free_text[32];     // "%0.2f GB "
    char total_text[32];    // "%0.2f GB "
    std::uint64_t total_size;  // the volume's byte size: every byte a reader processes
    std::uint32_t sector_size; // logical sector size; recorded only
};

extern DiskInfo disk_list[DISK_SLOTS];
extern int disk_num;
extern int select_disk;       // -1 until a row is selected; >= disk_num selects the image
extern QString image_path;
extern std::uint64_t image_size;

// Where the platform is read from; tests point these at a fake tree.
struct PlatformPaths {
    QString sysfs = QStringLiteral("/sys");
    QString dev = QStringLiteral("/dev");
    QString mountinfo = QStringLiteral("/proc/self/mountinfo");
    QString swaps = QStringLiteral("/proc/swaps");
};

// Zeroes all DISK_SLOTS records of `table`, fills it with the eligible
// volumes in name order and returns their number.
int get_disk_list(DiskInfo *table, const PlatformPaths &paths = PlatformPaths());

// "label (device:)    free GB  free of total GB "
QString disk_display_text(const DiskInfo &disk);

// "%0.2f GB " of a byte count in gigabytes of 2^30 bytes.
QString gigabyte_text(std::uint64_t bytes);

// The scan source: the selected drive's /dev path and size, or the image.
// Empty path and size 0 while nothing is selected.
QString source_path();
std::uint64_t source_size();
