#include "support/sample_compare.h"

#include "support/mp4_track.h"

#include <QProcess>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// The video samples of the first video track, in table order; those of
// chunks 0 .. chunks - 1 when chunks is not negative.
std::vector<TrackSample> video_samples(const QByteArray &file, int chunks)
{
    std::vector<TrackSample> samples = read_video_track(moov_of(file)).samples;
    if (chunks >= 0)
        samples.erase(std::remove_if(samples.begin(), samples.end(),
                                     [chunks](const TrackSample &s) { return s.chunk >= std::uint32_t(chunks); }),
                      samples.end());
    return samples;
}

bool same_at(const QByteArray &a, const QByteArray &b, const TrackSample &s)
{
    const std::uint64_t held = std::uint64_t(std::min(a.size(), b.size()));
    if (s.offset > held || s.size > held - s.offset)
        return false;
    return std::equal(a.constData() + s.offset, a.constData() + s.offset + s.size, b.constData() + s.offset);
}

std::uint32_t be32(const QByteArray &b, qint64 at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(b.constData() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

QByteArray moov_of(const QByteArray &file)
{
    // The first moov box among the top-level ones, past an mdat box with a
    // 64-bit size too.
    std::uint64_t at = 0, size = 0;
    return find_top_box(file, "moov", &at, &size) ? file.mid(int(at), int(size)) : QByteArray();
}

ChunksAt chunks_at(const QByteArray &original, std::uint64_t from, std::uint64_t to)
{
    ChunksAt at;
    const QByteArray moov = moov_of(original);
    const qint64 moov_at = original.lastIndexOf(moov);
    const std::vector<std::uint64_t> chunks = read_video_track(moov).chunks;
    const std::size_t n = chunks.size();
    at.chunks = int(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::uint64_t begin = chunks[j];
        const std::uint64_t end = j + 1 < n ? chunks[j + 1] : std::uint64_t(moov_at);
        at.starting += begin >= from && begin < to;
        at.touching += begin < to && end > from;
    }
    return at;
}

SampleMatch compare_samples(const QByteArray &original, const QByteArray &rebuilt, int chunks)
{
    SampleMatch m;
    for (const TrackSample &s : video_samples(original, chunks)) {
        ++m.samples;
        m.exact += same_at(original, rebuilt, s);
    }
    return m;
}

QString samples_lost(const QByteArray &original, const QByteArray &a, const QByteArray &b)
{
    QStringList lost;
    int i = 0;
    for (const TrackSample &s : video_samples(original, -1)) {
        if (same_at(original, a, s) && !same_at(original, b, s))
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

    // The earlier rules knew 32-bit chunk offsets ("stco") only.
    const QByteArray stco_tag("stco");
    const int stco = moov.indexOf(stco_tag) - 4;
    if (Q + 4 > std::uint64_t(card.size()))
        return {};
    const std::uint32_t S = be32(card, qint64(Q));
    QByteArray out = card.mid(int(Q), int(S)) + QByteArray(4, '\0') + "mdat";
    if (stco < 0 || stco + 16 > moov.size())
        return out + moov;
    // As many entries as the count says and both the box and the copy hold.
    const std::uint32_t n = std::uint32_t(std::max<qint64>(
        0, std::min<qint64>({qint64(be32(moov, stco + 12)), (qint64(be32(moov, stco)) - 16) / 4,
                             (moov.size() - stco - 16) / 4})));
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
