#include "scan/scan_tables.h"

#include "scan/card_map.h"
#include "scan/work_folder.h"

#include <QDebug>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

volatile int scan_flag = 1;
QString save_dir;

unsigned char read_buf[READ_BUF_SIZE];
unsigned char moov_buf[MOOV_SLOTS][MOOV_BUF_SIZE];
unsigned char chunk_buf[CHUNK_BUF_SIZE];
unsigned char fill_buf[FILL_BUF_SIZE];
unsigned char photo_buf[PHOTO_BUF_SIZE];

GrowingTable<StartMark> start_list(START_CEILING);
std::uint32_t start_num = 0;
GrowingTable<std::uint64_t> qt_list(QT_CEILING);
std::uint32_t qt_num = 0;
GrowingTable<PhotoInfo> photo_list(PHOTO_CEILING);
std::uint32_t photo_num = 0;
GrowingTable<VideoGroup> group_list(GROUP_CEILING);

std::uint32_t group_num[MAX_KIND];
std::uint32_t triple_num = 0;
std::uint32_t qt_group_num = 0;
std::uint32_t single_num = 0;
std::uint32_t video_total = 0;
std::uint32_t video_done = 0;

DroppedFinds dropped_finds;
std::uint64_t unreadable_bytes = 0;

void zero_buffer(unsigned char *buf, std::size_t size)
{
    // Whole pages handed back to the system read as zeros again and cost
    // no memory until they are written; the edges are cleared by hand.
    const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = std::uintptr_t(buf), end = begin + size;
    const std::uintptr_t first = (begin + page - 1) / page * page, last = end / page * page;
    if (first < last && madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED) == 0) {
        std::memset(buf, 0, first - begin);
        std::memset(reinterpret_cast<unsigned char *>(last), 0, end - last);
        return;
    }
    std::memset(buf, 0, size);
}

void scan_reset()
{
    scan_flag = 1;
    save_dir = temp_dir;
    qt_num = 0;
    photo_num = 0;
    start_num = 0;
    video_done = 0;
    std::memset(group_num, 0, sizeof group_num);
    triple_num = 0;
    qt_group_num = 0;
    single_num = 0;
    dropped_finds = DroppedFinds{};
    unreadable_bytes = 0;

    zero_buffer(fill_buf, sizeof fill_buf);
    zero_buffer(chunk_buf, sizeof chunk_buf);
    zero_buffer(read_buf, sizeof read_buf);
    zero_buffer(&moov_buf[0][0], sizeof moov_buf);
    zero_buffer(photo_buf, sizeof photo_buf);
    card_map.clear();
    group_list.clear();
    photo_list.clear();
    start_list.clear();
    qt_list.clear();
}

std::uint32_t start_kind_at(std::uint64_t i)
{
    return i < start_num ? static_cast<const GrowingTable<StartMark> &>(start_list)[i].kind : KIND_NONE;
}

void append_start(std::uint32_t &count, std::uint64_t position, std::uint32_t kind)
{
    if (!start_list.room(count)) {
        ++dropped_finds.starts;
        return;
    }
    start_list[count++] = StartMark{position, kind};
}

void append_qt(std::uint32_t &count, std::uint64_t position)
{
    if (!qt_list.room(count)) {
        ++dropped_finds.qt;
        return;
    }
    qt_list[count++] = position;
}

void append_photo(std::uint32_t &count, std::uint64_t position)
{
    if (!photo_list.room(count)) {
        ++dropped_finds.photos;
        return;
    }
    photo_list[count++] = PhotoInfo{position, 0};
}

namespace {

void report(const QString &line)
{
    qDebug().noquote() << line;
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

}  // namespace

void report_dropped_finds()
{
    const DroppedFinds &d = dropped_finds;
    if (d.starts != 0 || d.qt != 0 || d.photos != 0 || d.groups != 0)
        report(QStringLiteral("finds past the tables' memory ceiling were dropped: starts %1, qt %2, photos %3, "
                              "groups %4")
                       .arg(d.starts).arg(d.qt).arg(d.photos).arg(d.groups));
    if (card_map.frames_dropped() != 0 || card_map.moovs_dropped() != 0)
        report(QStringLiteral("the card map reached its memory ceiling: frames dropped %1, moov boxes dropped %2")
                       .arg(card_map.frames_dropped()).arg(card_map.moovs_dropped()));
    if (card_map.moovs_not_copied() != 0)
        report(QStringLiteral("moov boxes past the map's copy ceiling, read again when needed: %1")
                       .arg(card_map.moovs_not_copied()));
}
