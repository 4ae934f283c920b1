// Throughput of the reading phase on a page-cached image, beside `cat` of the
// same file, measured alternately in one run so both see the same machine.
//
//   bench_reading_phase IMAGE [ROUNDS]
#include "scan/byte_source.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class NoProgress : public ScanProgress
{
public:
    void bytes_read(std::uint64_t) override {}
    void code(int) override {}
};

// cat FILE > /dev/null. Started with posix_spawn, which does not fork: a
// fork would make the next scan pay copy-on-write faults on its buffers.
double seconds_of_cat(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>("cat"), const_cast<char *>(file.constData()), nullptr};
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, 0);
    const double s = t.nsecsElapsed() / 1e9;
    posix_spawn_file_actions_destroy(&actions);
    return s;
}

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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
