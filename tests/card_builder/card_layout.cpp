#include "card_builder/card_layout.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace card {

bool operator==(const Extent &a, const Extent &b)
{
    return a.card_pos == b.card_pos && a.file_offset == b.file_offset && a.length == b.length;
}

Content Content::bytes(const QString &name, const QByteArray &data)
{
    Content c;
    c.name = name;
    c.data = data;
    return c;
}

Content Content::file(const QString &path, const QString &name)
{
    Content c;
    c.path = path;
    c.name = name.isEmpty() ? QFileInfo(path).fileName() : name;
    return c;
}

Layout &Layout::contiguous(const Content &file, std::uint64_t at, std::uint64_t gap)
{
    Placement p;
    p.kind = Placement::Contiguous;
    p.file = file;
    p.at = at;
    p.gap = gap;
    placements.push_back(p);
    return *this;
}

Layout &Layout::split(const Content &file, const std::vector<Extent> &extents)
{
    Placement p;
    p.kind = Placement::Split;
    p.file = file;
    p.extents = extents;
    placements.push_back(p);
    return *this;
}

Layout &Layout::interleaved(const Content &main, const Content &proxy, std::uint64_t run,
                            std::uint64_t at, std::uint64_t second_run)
{
    Placement p;
    p.kind = Placement::Interleaved;
    p.file = main;
    p.second = proxy;
    p.run = run;
    p.at = at;
    p.second_run = second_run;
    placements.push_back(p);
    return *this;
}

std::uint64_t PlacedFile::start() const
{
    for (const Extent &e : extents)
        if (e.file_offset == 0)
            return e.card_pos;
    return NEXT_FREE;
}

const PlacedFile *Manifest::find(const QString &name) const
{
    for (const PlacedFile &f : files)
        if (f.name == name)
            return &f;
    return nullptr;
}

QString noise_name(Noise noise)
{
    return noise == Noise::Clean ? QStringLiteral("clean") : QStringLiteral("end-markers");
}

bool noise_from_name(const QString &name, Noise *noise)
{
    if (name == QLatin1String("clean"))
        *noise = Noise::Clean;
    else if (name == QLatin1String("end-markers"))
        *noise = Noise::StrayEndMarkers;
    else
        return false;
    return true;
}

namespace {

// Size and hash of a file's content; false if a file on disk cannot be read.
bool describe(const Content &c, PlacedFile *out, QString *error)
{
    out->name = c.name;
    if (c.path.isEmpty()) {
        out->size = static_cast<std::uint64_t>(c.data.size());
        out->sha256 = QCryptographicHash::hash(c.data, QCryptographicHash::Sha256).toHex();
        return true;
    }
    QFile f(c.path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f)) {
        *error = QStringLiteral("cannot read %1: %2").arg(c.path, f.errorString());
        return false;
    }
    out->size = static_cast<std::uint64_t>(f.size());
    out->sha256 = hash.result().toHex();
    return true;
}

std::uint64_t start_of(const Placement &p, std::uint64_t cursor)
{
    return p.at != NEXT_FREE ? p.at : align_up(cursor + p.gap);
}

}  // namespace

bool plan_card(const Layout &layout, Manifest *manifest, QString *error)
{
    Manifest m;
    m.seed = layout.seed;
    m.noise = layout.noise;
    std::uint64_t cursor = 0;  // end of the last byte placed so far
    for (const Placement &p : layout.placements) {
        if ((p.at != NEXT_FREE && p.at >= MAX_CARD) || p.gap >= MAX_CARD) {
            *error = QStringLiteral("%1: position past 1 TiB").arg(p.file.name);
            return false;
        }
        PlacedFile first;
        if (!describe(p.file, &first, error))
            return false;
        if (p.kind == Placement::Contiguous) {
            if (first.size > 0)
                first.extents.push_back({start_of(p, cursor), 0, first.size});
            m.files.push_back(first);
        } else if (p.kind == Placement::Split) {
            for (const Extent &e : p.extents) {
                if (e.length == 0 || e.file_offset >= first.size || e.length > first.size - e.file_offset
                    || e.card_pos >= MAX_CARD) {
                    *error = QStringLiteral("%1: extent [%2, %3, %4] lies outside the file of %5 bytes or the card")
                                 .arg(p.file.name).arg(e.card_pos).arg(e.file_offset).arg(e.length).arg(first.size);
                    return false;
                }
            }
            first.extents = p.extents;
            m.files.push_back(first);
        } else {
            PlacedFile second;
            if (!describe(p.second, &second, error))
                return false;
            const std::uint64_t run_a = p.run;
            const std::uint64_t run_b = p.second_run ? p.second_run : p.run;
            if (run_a == 0 || run_a >= MAX_CARD || run_b >= MAX_CARD) {
                *error = QStringLiteral("%1: interleaving needs a run length").arg(p.file.name);
                return false;
            }
            std::uint64_t pos = start_of(p, cursor);
            std::uint64_t off_a = 0, off_b = 0;
            while (off_a < first.size || off_b < second.size) {
                if (off_a < first.size) {
                    const std::uint64_t n = std::min(run_a, first.size - off_a);
                    first.extents.push_back({pos, off_a, n});
                    pos = align_up(pos + n);
                    off_a += n;
                }
                if (off_b < second.size) {
                    const std::uint64_t n = std::min(run_b, second.size - off_b);
                    second.extents.push_back({pos, off_b, n});
                    pos = align_up(pos + n);
                    off_b += n;
                }
                if (pos >= MAX_CARD)
                    break;  // caught by the bounds check below
            }
            m.files.push_back(first);
            m.files.push_back(second);
        }
        const std::size_t new_files = p.kind == Placement::Interleaved ? 2 : 1;
        for (std::size_t i = m.files.size() - new_files; i < m.files.size(); ++i)
            for (const Extent &e : m.files[i].extents)
                cursor = std::max(cursor, e.card_pos + e.length);
        if (cursor > MAX_CARD) {
            *error = QStringLiteral("%1: placed past 1 TiB").arg(p.file.name);
            return false;
        }
    }

    struct Owned { Extent e; const QString *name; };
    std::vector<Owned> all;
    for (const PlacedFile &f : m.files)
        for (const Extent &e : f.extents)
            all.push_back({e, &f.name});
    std::sort(all.begin(), all.end(), [](const Owned &a, const Owned &b) { return a.e.card_pos < b.e.card_pos; });
    for (std::size_t i = 1; i < all.size(); ++i) {
        const Owned &a = all[i - 1], &b = all[i];
        if (a.e.card_pos + a.e.length > b.e.card_pos) {
            *error = QStringLiteral("%1 at %2 overlaps %3 at %4")
                         .arg(*b.name).arg(b.e.card_pos).arg(*a.name).arg(a.e.card_pos);
            return false;
        }
    }

    if (layout.size >= MAX_CARD || layout.tail >= MAX_CARD) {
        *error = QStringLiteral("image size past 1 TiB");
        return false;
    }
    m.image_size = layout.size ? align_up(layout.size) : align_up(cursor + layout.tail);
    if (m.image_size < cursor) {
        *error = QStringLiteral("the files reach byte %1, past the image size %2").arg(cursor).arg(m.image_size);
        return false;
    }
    *manifest = m;
    return true;
}

}  // namespace card
