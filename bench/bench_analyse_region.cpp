// Throughput of the region analysis over a page-cached image, beside `cat`
// of the same file, measured alternately in one run so both see the same
// machine.
//
//   bench_analyse_region IMAGE [ROUNDS]
//   bench_analyse_region --make IMAGE SIZE_MIB   writes a video-like image
#include "drives/drive_table.h"
#include "rebuild/frame_index.h"
#include "rebuild/region_analysis.h"
#include "scan/scan_tables.h"

#include "cat_timer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Noise like compressed video, with a frame start every 8 to 200 KB and a
// moov box every 256 MiB: what a group's stretch of a card holds.
bool make_image(const QString &path, std::uint64_t mib)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::vector<unsigned char> buf(16u << 20);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    std::uint64_t next_frame = 0, next_moov = 100u << 20;
    for (std::uint64_t at = 0; at < mib << 20; at += buf.size()) {
        for (std::size_t i = 0; i + 8 <= buf.size(); i += 8) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            std::memcpy(&buf[i], &x, 8);
        }
        for (; next_frame + 5 <= at + buf.size(); next_frame += 8000 + x % 192000) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            if (next_frame >= at)
                std::memcpy(&buf[next_frame - at], "\x00\x00\x00\x02\x09", 5);
        }
        if (next_moov >= at && next_moov + 4096 <= at + buf.size()) {
            std::memcpy(&buf[next_moov - at], "\x00\x00\x10\x00moov\x00\x00\x00\x6c", 12);
            next_moov += 256u << 20;
        }
        if (out.write(reinterpret_cast<const char *>(buf.data()), qint64(buf.size())) != qint64(buf.size()))
            return false;
    }
    return out.flush();
}

double seconds_of_analysis(std::uint64_t size)
{
    QElapsedTimer t;
    t.start();
    analyse_region(0, size, 0);
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        if (!make_image(path, std::strtoull(argv[3], nullptr, 10))) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 2;
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_analyse_region IMAGE [ROUNDS] | --make IMAGE SIZE_MIB\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::uint64_t size = static_cast<std::uint64_t>(QFileInfo(path).size());
    if (size == 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    image_path = path;
    image_size = size;
    select_disk = disk_num;
    const double mb = size / 1e6;

    seconds_of_cat(path);  // bring the image into the page cache
    std::vector<double> cat, analysis;
    for (int r = 0; r < rounds; ++r) {
        cat.push_back(seconds_of_cat(path));
        analysis.push_back(seconds_of_analysis(size));
    }
    const double cat_rate = mb / median(cat);
    const double analysis_rate = mb / median(analysis);
    std::printf("image %s: %.0f MB, %d rounds, medians\n", qPrintable(path), mb, rounds);
    std::printf("cat:             %8.0f MB/s\n", cat_rate);
    std::printf("analyse_region:  %8.0f MB/s  (%llu frames, %llu moov boxes)\n", analysis_rate,
                static_cast<unsigned long long>(stretch_frames(VideoCodec::H264).size()),
                static_cast<unsigned long long>(std::count_if(group_list[0].moov_size,
                                                              group_list[0].moov_size + MOOV_SLOTS,
                                                              [](std::uint64_t s) { return s != 0; })));
    std::printf("ratio analyse_region / cat: %.2f\n", analysis_rate / cat_rate);
    return 0;
}
