// How many video samples of a recording each given file holds unchanged at
// the recording's offsets, for comparing recovered files with the original.
//
//   bench_sample_compare ORIGINAL FILE...   prints "EXACT TOTAL FILE" per file
#include "rebuild/video_track.h"

#include <QFile>
#include <cstdio>
#include <cstring>

namespace {

QByteArray read_all(const char *path)
{
    QFile f(QString::fromLocal8Bit(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::uint32_t be32(const QByteArray &b, qint64 at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(b.constData() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The first top-level moov box.
QByteArray moov_of(const QByteArray &file)
{
    for (qint64 at = 0; at + 8 <= file.size();) {
        const qint64 size = be32(file, at);
        if (size < 8 || at + size > file.size())
            break;
        if (std::memcmp(file.constData() + at + 4, "moov", 4) == 0)
            return file.mid(int(at), int(size));
        at += size;
    }
    return {};
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_sample_compare ORIGINAL FILE...\n");
        return 1;
    }
    const QByteArray original = read_all(argv[1]);
    const QByteArray moov = moov_of(original);
    const VideoTrack track =
        VideoTrack::parse(reinterpret_cast<const unsigned char *>(moov.constData()), std::uint64_t(moov.size()));
    if (!track.has_samples()) {
        std::fprintf(stderr, "%s: no video sample tables\n", argv[1]);
        return 2;
    }
    for (int a = 2; a < argc; ++a) {
        const QByteArray file = read_all(argv[a]);
        int total = 0, exact = 0;
        for (std::uint32_t j = 0; j < track.chunks().entries; ++j) {
            std::uint32_t first = 0, count = 0;
            if (!track.chunk_samples(j, &first, &count))
                break;
            qint64 at = chunk_offset(track.chunks(), j);
            for (std::uint32_t i = 0; i < count; ++i) {
                const qint64 size = track.sample_size(first + i);
                ++total;
                exact += at + size <= original.size() && at + size <= file.size()
                         && std::memcmp(original.constData() + at, file.constData() + at, size_t(size)) == 0;
                at += size;
            }
        }
        std::printf("%d %d %s\n", exact, total, argv[a]);
    }
    return 0;
}
