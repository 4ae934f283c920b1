#include "support/sample_compare.h"

#include "rebuild/video_track.h"

#include <QProcess>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// Offset and size of each video sample, in file order.
std::vector<std::pair<std::uint32_t, std::uint32_t>> video_samples(const QByteArray &file, int chunks)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> samples;
    const QByteArray moov = moov_of(file);
    const VideoTrack track =
        VideoTrack::parse(reinterpret_cast<const unsigned char *>(moov.constData()), std::uint64_t(moov.size()));
    const std::uint32_t n = track.chunks().entries;
    for (std::uint32_t j = 0; j < n && (chunks < 0 || j < std::uint32_t(chunks)); ++j) {
        std::uint32_t first = 0, count = 0;
        if (!track.chunk_samples(j, &first, &count))
            break;
        std::uint32_t at = chunk_offset(track.chunks(), j);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t size = track.sample_size(first + i);
            samples.emplace_back(at, size);
            at += size;
        }
    }
    return samples;
}

bool same_at(const QByteArray &a, const QByteArray &b, std::uint32_t at, std::uint32_t size)
{
    return qint64(at) + size <= a.size() && qint64(at) + size <= b.size()
           && std::equal(a.constData() + at, a.constData() + at + size, b.constData() + at);
}

std::uint32_t be32(const QByteArray &b, qint64 at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(b.constData() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

QByteArray moov_of(const QByteArray &file)
{
    // Walk the top-level boxes; the first moov box wins.
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        const qint64 size = be32(file, at);
        if (size < 8 || at + size > file.size())
            return {};
        if (file.mid(int(at + 4), 4) == "moov")
            return file.mid(int(at), int(size));
        at += size;
    }
    return {};
}

ChunksAt chunks_at(const QByteArray &original, std::uint64_t from, std::uint64_t to)
{
    ChunksAt at;
    const QByteArray moov = moov_of(original);
    const qint64 moov_at = original.lastIndexOf(moov);
    const VideoTrack track =
        VideoTrack::parse(reinterpret_cast<const unsigned char *>(moov.constData()), std::uint64_t(moov.size()));
    const std::uint32_t n = track.chunks().entries;
    at.chunks = int(n);
    for (std::uint32_t j = 0; j < n; ++j) {
        const std::uint64_t begin = chunk_offset(track.chunks(), j);
        const std::uint64_t end = j + 1 < n ? chunk_offset(track.chunks(), j + 1) : std::uint64_t(moov_at);
        at.starting += begin >= from && begin < to;
        at.touching += begin < to && end > from;
    }
    return at;
}

SampleMatch compare_samples(const QByteArray &original, const QByteArray &rebuilt, int chunks)
{
    SampleMatch m;
    for (const auto &s : video_samples(original, chunks)) {
        ++m.samples;
        m.exact += same_at(original, rebuilt, s.first, s.second);
    }
    return m;
}

QString samples_lost(const QByteArray &original, const QByteArray &a, const QByteArray &b)
{
    QStringList lost;
    int i = 0;
    for (const auto &s : video_samples(original, -1)) {
        if (same_at(original, a, s.first, s.second) && !same_at(original, b, s.first, s.second))
            lost << QString::number(i);
        ++i;
    }
    return lost.join(QLatin1Char(' '));
}

QString decode_errors(const QString &path, const QStringList &output_options)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{"-nostdin", "-v", "error", "-i", path} + output_options + QStringList{"-f", "null", "-"});
    if (!ffmpeg.waitForStarted() || !ffmpeg.waitForFinished(120000))
        return QStringLiteral("cannot run ffmpeg");
    return QString::fromLocal8Bit(ffmpeg.readAll()).trimmed();
}

QByteArray earlier_rebuild(const QByteArray &card, std::uint64_t P, std::uint64_t L, std::uint64_t Q,
                           const QByteArray &moov)
{
    const QByteArray delimiter("\0\0\0\x02\x09", 5);
    // The stretch as it was read: 16 MiB chunks, the last rounded up to
    // whole 32 KiB units and one more; a start may stand anywhere but in
    // the last 12 bytes read.
    const std::uint64_t chunk = 16u << 20, unit = 32768;
    L = std::min<std::uint64_t>(L, std::uint64_t(card.size()) - std::min<std::uint64_t>(P, card.size()));
    const std::uint64_t read = L / chunk * chunk + (L % chunk ? (L % chunk / unit + 1) * unit : 0);
    const std::uint64_t last_start = P + read - 12;
    std::map<std::pair<std::uint32_t, std::uint64_t>, std::vector<std::uint64_t>> frames;  // (bucket, length)
    qint64 previous = -1;
    for (qint64 at = card.indexOf(delimiter, qint64(P)); at >= 0 && std::uint64_t(at) < last_start;
         at = card.indexOf(delimiter, at + 1)) {
        if (previous >= 0)
            frames[{std::uint32_t(previous & 0xFFF), std::uint64_t(at - previous)}].push_back(std::uint64_t(previous));
        previous = at;
    }

    const QByteArray stco_tag("stco");
    const int stco = moov.indexOf(stco_tag) - 4;
    const std::uint32_t S = be32(card, qint64(Q));
    QByteArray out = card.mid(int(Q), int(S)) + QByteArray(4, '\0') + "mdat";
    if (stco < 0)
        return out + moov;
    const std::uint32_t n = be32(moov, stco + 12);
    QByteArray last;
    std::uint32_t moov_at = S + 8;
    for (std::uint32_t j = 0; j + 1 < n; ++j) {
        const std::uint32_t o = be32(moov, stco + 16 + 4 * j), next = be32(moov, stco + 20 + 4 * j);
        if (out.size() < int(o))
            out += QByteArray(int(o) - out.size(), '\0');
        out.truncate(int(o));
        const std::uint32_t len = next - o;
        auto &found = frames[{o & 0xFFF, len}];
        if (!found.empty()) {
            last = card.mid(int(found.front()), int(len));
            found.erase(found.begin());
            out += last;
        } else {
            out += (last + QByteArray(int(len), '\0')).left(int(len));
        }
        moov_at = next;
    }
    const std::uint32_t mdat = moov_at - S;
    out[int(S)] = char(mdat >> 24), out[int(S) + 1] = char(mdat >> 16), out[int(S) + 2] = char(mdat >> 8),
             out[int(S) + 3] = char(mdat);
    return out + moov;
}
