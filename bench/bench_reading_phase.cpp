// Throughput of the reading phase on a page-cached image, beside `cat` of the
// same file, measured alternately in one run so both see the same machine.
//
//   bench_reading_phase IMAGE [ROUNDS]
#include "cat_timer.h"
#include "scan/byte_source.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class NoProgress : public ScanProgress
{
public:
    void bytes_read(std::uint64_t) override {}
    void code(int) override {}
};

double seconds_of_scan(const QString &path, std::uint64_t size)
{
    QString error;
    QElapsedTimer t;
    t.start();
    auto source = FileSource::open(path, &error);
    if (!source) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(error));
        std::exit(2);
    }
    NoProgress progress;
    start_num = qt_num = photo_num = 0;
    reading_phase(*source, size, progress);
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_reading_phase IMAGE [ROUNDS]\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::uint64_t size = static_cast<std::uint64_t>(QFileInfo(path).size());
    const double mb = size / 1e6;

    seconds_of_cat(path);  // bring the image into the page cache
    std::vector<double> cat, scan;
    for (int r = 0; r < rounds; ++r) {
        cat.push_back(seconds_of_cat(path));
        scan.push_back(seconds_of_scan(path, size));
    }
    const double cat_rate = mb / median(cat);
    const double scan_rate = mb / median(scan);
    std::printf("image %s: %.0f MB, %d rounds, medians\n", qPrintable(path), mb, rounds);
    std::printf("cat:           %8.0f MB/s\n", cat_rate);
    std::printf("reading phase: %8.0f MB/s  (%u starts, %u photos)\n", scan_rate, start_num, photo_num);
    std::printf("ratio reading phase / cat: %.2f\n", scan_rate / cat_rate);
    return 0;
}
