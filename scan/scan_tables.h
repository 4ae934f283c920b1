// Process-wide scan tables: everything a scan finds, in storage reserved once
// for the life of the process. Written by one worker thread at a time (the
// scan, later the recovery); read by the window only after the scan's final
// signal.
#pragma once

#include "scan/growing_table.h"

#include <QString>
#include <cstddef>
#include <cstdint>

constexpr std::size_t READ_BUF_SIZE = 16u * 1024 * 1024;
constexpr std::size_t MOOV_BUF_SIZE = 10u * 1024 * 1024;
constexpr std::size_t CHUNK_BUF_SIZE = 10u * 1024 * 1024;
constexpr std::size_t FILL_BUF_SIZE = 10u * 1024 * 1024;
constexpr std::size_t PHOTO_BUF_SIZE = 4u * 1024 * 1024;
constexpr int MOOV_SLOTS = 9;
constexpr int MAX_KIND = 9;

// The find tables grow with the card. Their ceilings only stop a hostile
// card from taking all memory: about 32 MiB of starts, 16 MiB of QuickTime
// starts, 48 MiB of photos and 232 MiB of groups at most, far beyond what a
// real card of any size holds (a 256 GB card of 1 MB photos holds 250,000).
// Finds past a ceiling are counted in dropped_finds and reported.
constexpr std::uint32_t START_CEILING = 1u << 21;
constexpr std::uint32_t QT_CEILING = 1u << 21;
constexpr std::uint32_t PHOTO_CEILING = 1u << 21;
constexpr std::uint32_t GROUP_CEILING = 1u << 20;

enum StartKind : std::uint32_t { KIND_NONE = 0, KIND_MARKER_PHOTO = 1, KIND_VIDEO = 2 };

struct StartMark {
    std::uint64_t position;
    std::uint32_t kind;
};

struct PhotoInfo {
    std::uint64_t position;
    std::uint64_t length;
    // The length is where the photo's JPEG structure ends; else it is the
    // end-marker rule's guess, and the photo may be cut short.
    bool walked = false;
};

struct VideoGroup {
    std::uint64_t head_pos;
    std::uint64_t piece_pos[MAX_KIND];   // piece k at [k - 1]
    std::uint64_t tail_pos;
    std::uint64_t moov_pos[MOOV_SLOTS];  // k-th moov box of the stretch at [k - 1]
    std::uint64_t moov_size[MOOV_SLOTS];
};

// Finds past a table's ceiling: dropped, counted, reported once.
struct DroppedFinds {
    std::uint64_t starts;
    std::uint64_t qt;
    std::uint64_t photos;
    std::uint64_t groups;
};

extern volatile int scan_flag;
extern QString save_dir;

extern unsigned char read_buf[READ_BUF_SIZE];
extern unsigned char moov_buf[MOOV_SLOTS][MOOV_BUF_SIZE];  // moov_buf k at [k - 1]
extern unsigned char chunk_buf[CHUNK_BUF_SIZE];
extern unsigned char fill_buf[FILL_BUF_SIZE];
extern unsigned char photo_buf[PHOTO_BUF_SIZE];

// Entries past a table's count read as zero (a start of kind 0).
extern GrowingTable<StartMark> start_list;
extern std::uint32_t start_num;
extern GrowingTable<std::uint64_t> qt_list;
extern std::uint32_t qt_num;
extern GrowingTable<PhotoInfo> photo_list;
extern std::uint32_t photo_num;
extern GrowingTable<VideoGroup> group_list;

extern std::uint32_t group_num[MAX_KIND];  // groups of kind k at [k - 1]
extern std::uint32_t triple_num;
extern std::uint32_t qt_group_num;
// Video and QuickTime starts that are no piece of any group above, one
// group each, after all the others.
extern std::uint32_t single_num;
extern std::uint32_t video_total;
extern std::uint32_t video_done;

extern DroppedFinds dropped_finds;
// Bytes of the source that the reading phase of the current scan could not
// read even in 32 KiB units, and took as zeros. The later steps re-read parts
// of the card and report their own losses with their results.
extern std::uint64_t unreadable_bytes;

// Fills a buffer of the tables above with zeros, giving its whole pages back
// to the system: a scan pays in memory only for what it writes.
void zero_buffer(unsigned char *buf, std::size_t size);

// Empties the tables at the start of a scan and gives their memory back;
// video_total is left alone. The ceilings stay as they are.
void scan_reset();

// Kind of start_list entry i; 0 for every entry past start_num.
std::uint32_t start_kind_at(std::uint64_t i);

// Table appends that stop at a table's ceiling; an excess find is counted
// in dropped_finds. Each takes the running count by reference so the
// reading phase can keep its counts in locals during a chunk.
void append_start(std::uint32_t &count, std::uint64_t position, std::uint32_t kind);
void append_qt(std::uint32_t &count, std::uint64_t position);
void append_photo(std::uint32_t &count, std::uint64_t position);

// A line on the debug output and stderr for each table, the card map
// included, that reached its memory ceiling; nothing when none did.
void report_dropped_finds();
