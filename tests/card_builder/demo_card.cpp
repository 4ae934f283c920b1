#include "card_builder/demo_card.h"

#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"

#include <QFileInfo>
#include <algorithm>

namespace card {

namespace {

bool photo(int pattern, PhotoHeader header, const QString &name, const QString &cache_dir, Content *out,
           QString *error)
{
    PhotoOptions o;
    o.width = 640;
    o.height = 480;
    o.pattern = pattern;
    const QByteArray jpeg = with_photo_header(encode_photo(o, cache_dir, error), header);
    *out = Content::bytes(name, jpeg);
    return !jpeg.isEmpty();
}

bool clip(int pattern, double seconds, const QString &name, const QString &cache_dir, Content *out, QString *error)
{
    ClipOptions o;
    o.seconds = seconds;
    o.width = 640;
    o.height = 360;
    o.pattern = pattern;
    const QString path = encode_clip(o, cache_dir, error);
    *out = Content::file(path, name);
    return !path.isEmpty();
}

}  // namespace

bool demo_layout(const QString &cache_dir, Layout *layout, QString *error)
{
    Content marker1, marker2, marker3, clip1, clip2, loose[3];
    if (!photo(0, PhotoHeader::Jfif, "MARK0001.JPG", cache_dir, &marker1, error)
        || !photo(1, PhotoHeader::Exif2044, "MARK0002.JPG", cache_dir, &marker2, error)
        || !photo(2, PhotoHeader::Exif14831, "MARK0003.JPG", cache_dir, &marker3, error)
        || !clip(0, 3.0, "VID_0001.MP4", cache_dir, &clip1, error)
        || !clip(1, 4.0, "VID_0002.MP4", cache_dir, &clip2, error))
        return false;
    for (int i = 0; i < 3; ++i)
        if (!photo(3 + i, PhotoHeader::Plain, QStringLiteral("IMG_%1.JPG").arg(i + 1, 4, 10, QLatin1Char('0')),
                   cache_dir, &loose[i], error))
            return false;

    Layout l;
    l.seed = 2024;
    l.contiguous(marker1, 1 * MIB);  // noise first, as a card's reserved area
    l.contiguous(clip1, NEXT_FREE, 96 * KIB);
    l.contiguous(marker2, NEXT_FREE, 64 * KIB);
    Manifest so_far;
    if (!plan_card(l, &so_far, error))
        return false;
    std::uint64_t end = 0;
    for (const PlacedFile &f : so_far.files)
        for (const Extent &e : f.extents)
            end = std::max(end, e.card_pos + e.length);
    // Clip 2: its second half lies first, then noise, then its first half
    // (with the "ftyp"). The cut is on a cluster boundary of the file, as a
    // file system cuts it, so every byte keeps its place modulo 32 KiB.
    const std::uint64_t clip2_size = static_cast<std::uint64_t>(QFileInfo(clip2.path).size());
    const std::uint64_t cut = clip2_size / 2 / STEP * STEP;
    const std::uint64_t tail_at = align_up(end + 64 * KIB);
    const std::uint64_t head_at = align_up(tail_at + (clip2_size - cut) + 160 * KIB);
    l.split(clip2, {{tail_at, cut, clip2_size - cut}, {head_at, 0, cut}});
    l.contiguous(marker3, NEXT_FREE, 64 * KIB);
    for (const Content &c : loose)
        l.contiguous(c, NEXT_FREE, 32 * KIB);
    *layout = l;
    return true;
}

}  // namespace card
