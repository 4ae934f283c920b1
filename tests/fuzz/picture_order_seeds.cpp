// Writes seeds for fuzz_picture_order from MP4 files: the codec byte, each
// parameter set of the sample description as a record of kind 0, then the
// video samples in decode order as records of kind 1, those that still fit
// in 64 KiB.
//   picture_order_seeds DIR FILE.mp4...   (seeds go to DIR/fuzz_picture_order/)
#include "support/mp4_timing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

constexpr int MAX_SEED = 65536;

QByteArray record(char kind, const QByteArray &bytes)
{
    const int n = bytes.size();
    return QByteArray(1, kind) + char(n >> 16) + char(n >> 8) + char(n) + bytes;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: picture_order_seeds DIR FILE.mp4...\n");
        return 1;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + "/fuzz_picture_order";
    QDir().mkpath(dir);
    int written = 0;
    for (int a = 2; a < argc; ++a) {
        QFile in(QString::fromLocal8Bit(argv[a]));
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray file = in.readAll();
        const TimedTrack track = read_timed_track(file);
        const QByteArray entry(track.sample_entry);
        QByteArray seed(1, entry == "hvc1" || entry == "hev1" ? '\1' : '\0');
        for (const QByteArray &set : track.parameter_sets)
            seed += record(0, set);
        for (const TimedSample &s : track.samples) {
            if (s.offset + s.size > std::uint64_t(file.size()) || seed.size() + 4 + qint64(s.size) > MAX_SEED)
                continue;
            seed += record(1, file.mid(int(s.offset), int(s.size)));
        }
        QFile out(dir + "/" + QFileInfo(in).completeBaseName());
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(seed) == seed.size())
            ++written;
    }
    std::printf("%d seeds in %s\n", written, qPrintable(dir));
    return written == argc - 2 ? 0 : 1;
}
