#include "recover/file_facts.h"

#include "rebuild/video_track.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr std::uint64_t PHOTO_HEAD = 256 * 1024;

}  // namespace

VideoFacts video_facts(const VideoPlan &plan)
{
    VideoFacts facts;
    facts.position = plan.piece;
    if (!plan.error.isEmpty())
        return facts;
    facts.recording = recording_facts(plan.moov.data(), plan.moov.size());
    facts.file_size = plan.moov_at(0xFFFFFFFFu) + (plan.moov_in_head ? 0 : plan.moov.size());

    // N table entries: N - 1 chunks and the last, found only as the tail.
    const std::uint32_t entries = plan.table_chunks + 1;
    std::uint32_t located_chunks = 0;
    const VideoTrack track = VideoTrack::parse(plan.moov.data(), plan.moov.size());
    facts.by_chunks = !track.has_samples() || facts.recording.frames == 0;
    std::uint64_t frames = 0;
    for (std::size_t j = 0; j < plan.chunks.size(); ++j) {
        const PlannedChunk &c = plan.chunks[j];
        if (c.located == ChunkSource::None || c.skipped)
            continue;
        ++located_chunks;
        std::uint32_t first = 0, count = 0;
        if (!facts.by_chunks && track.chunk_samples(std::uint32_t(j), &first, &count))
            frames += count;
    }
    if (facts.by_chunks) {
        facts.found = located_chunks;
        facts.listed = plan.table_chunks == 0 ? 0 : entries;
    } else {
        facts.listed = facts.recording.frames;
        facts.found = std::uint32_t(std::min<std::uint64_t>(frames, facts.listed));
    }
    // As the writer will judge it (RebuildResult::verdict), less the
    // sample checks it makes as it writes.
    if (plan.index == IndexOrigin::None)
        facts.verdict = Verdict::NoIndex;
    else if (located_chunks == 0)
        facts.verdict = Verdict::Empty;
    else if (plan.index == IndexOrigin::Rebuilt)
        facts.verdict = Verdict::RebuiltIndex;
    else if (located_chunks == entries && !plan.table_cut && plan.unreadable == 0)
        facts.verdict = Verdict::Intact;
    else
        facts.verdict = Verdict::Partial;
    return facts;
}

bool jpeg_pixel_size(const unsigned char *p, std::uint64_t n, std::uint32_t *width, std::uint32_t *height)
{
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    std::uint64_t at = 2;
    while (at + 4 <= n) {
        if (p[at] != 0xFF)
            return false;
        const unsigned char marker = p[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            return false;
        const std::uint64_t length = (std::uint64_t(p[at + 2]) << 8) | p[at + 3];
        if (length < 2 || length > n - at - 2)
            return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7)
                return false;
            *height = (std::uint32_t(p[at + 5]) << 8) | p[at + 6];
            *width = (std::uint32_t(p[at + 7]) << 8) | p[at + 8];
            return *width != 0 && *height != 0;
        }
        at += 2 + length;
    }
    return false;
}

PhotoFacts photo_facts(ByteSource &source, std::uint64_t end, const PhotoInfo &photo)
{
    PhotoFacts facts;
    facts.position = photo.position;
    facts.file_size = photo.length;
    if (photo.length == 0)
        return facts;
    facts.verdict = photo.walked ? Verdict::Intact : Verdict::Partial;
    if (photo.position >= end)
        return facts;
    // Whole 32 KiB units, as every read of the card.
    const std::uint64_t want = std::min({photo.length, PHOTO_HEAD, end - photo.position});
    const std::uint64_t units = (want + UNIT - 1) / UNIT * UNIT;
    std::vector<unsigned char> head(units);
    read_source(source, photo.position, head.data(), units, end);
    jpeg_pixel_size(head.data(), want, &facts.width, &facts.height);
    return facts;
}

QString verdict_text(const VideoFacts &facts)
{
    if (facts.verdict != Verdict::Partial)
        return verdict_name(facts.verdict);
    return QStringLiteral("partial: %1 of %2 %3")
            .arg(facts.found)
            .arg(facts.listed)
            .arg(facts.by_chunks ? QStringLiteral("chunks") : QStringLiteral("frames"));
}

QString verdict_text(const PhotoFacts &facts)
{
    if (facts.verdict != Verdict::Partial)
        return verdict_name(facts.verdict);
    return QStringLiteral("partial: its end is a guess");
}

QString duration_text(std::uint64_t ms)
{
    if (ms == 0)
        return QStringLiteral("?");
    const std::uint64_t s = (ms + 500) / 1000;
    const QString seconds = QStringLiteral("%1").arg(s % 60, 2, 10, QLatin1Char('0'));
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(seconds);
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(seconds);
}

QString resolution_text(std::uint32_t width, std::uint32_t height)
{
    if (width == 0 || height == 0)
        return QStringLiteral("?");
    return QStringLiteral("%1×%2").arg(width).arg(height);
}

QString codec_text(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::H264: return QStringLiteral("H.264");
    case VideoCodec::H265: return QStringLiteral("H.265");
    case VideoCodec::None: break;
    }
    return QStringLiteral("?");
}

QString frame_rate_text(double fps)
{
    if (!(fps > 0) || fps > 10000)
        return QStringLiteral("?");
    const double whole = double(std::llround(fps));
    if (std::abs(fps - whole) < 0.005)
        return QStringLiteral("%1 fps").arg(std::llround(fps));
    return QStringLiteral("%1 fps").arg(fps, 0, 'f', 2);
}

QString size_text(std::uint64_t bytes)
{
    if (bytes < 1000 * 1000)
        return QStringLiteral("%1 KB").arg((bytes + 999) / 1000);
    if (bytes < 1000ull * 1000 * 1000)
        return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 2);
}
