#include "card_builder/card_writer.h"

#include "card_builder/card_noise.h"
#include "card_builder/manifest_json.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>

namespace card {

namespace {

constexpr std::size_t WRITE_CHUNK = 8 * MIB;

struct SourcedExtent {
    Extent e;
    std::size_t source;  // index into the contents, in manifest order
};

// Reads the bytes of one extent that fall into [from, from + len) of the card.
bool copy_part(const SourcedExtent &x, const Content &c, QFile *file, unsigned char *chunk, std::uint64_t from,
               std::uint64_t len, QString *error)
{
    const std::uint64_t lo = std::max(from, x.e.card_pos);
    const std::uint64_t hi = std::min(from + len, x.e.card_pos + x.e.length);
    const std::uint64_t offset = x.e.file_offset + (lo - x.e.card_pos);
    const std::uint64_t n = hi - lo;
    unsigned char *out = chunk + (lo - from);
    if (!file) {
        std::memcpy(out, c.data.constData() + offset, n);
        return true;
    }
    if (!file->seek(static_cast<qint64>(offset))
        || file->read(reinterpret_cast<char *>(out), static_cast<qint64>(n)) != static_cast<qint64>(n)) {
        *error = QStringLiteral("cannot read %1 at %2: %3").arg(c.path).arg(offset).arg(file->errorString());
        return false;
    }
    return true;
}

bool write_image(QFile &image, const Manifest &m, const std::vector<SourcedExtent> &extents,
                 const std::vector<const Content *> &contents, const std::vector<std::unique_ptr<QFile>> &files,
                 QString *error)
{
    std::vector<unsigned char> chunk(WRITE_CHUNK);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> touching;
    std::size_t first = 0;  // first extent that ends after the current chunk's start
    for (std::uint64_t pos = 0; pos < m.image_size; pos += WRITE_CHUNK) {
        const std::uint64_t len = std::min<std::uint64_t>(WRITE_CHUNK, m.image_size - pos);
        fill_noise(chunk.data(), pos, len, m.seed);
        while (first < extents.size() && extents[first].e.card_pos + extents[first].e.length <= pos)
            ++first;
        touching.clear();
        for (std::size_t i = first; i < extents.size() && extents[i].e.card_pos < pos + len; ++i) {
            const SourcedExtent &x = extents[i];
            touching.emplace_back(x.e.card_pos, x.e.card_pos + x.e.length);
            if (!copy_part(x, *contents[x.source], files[x.source].get(), chunk.data(), pos, len, error))
                return false;
        }
        if (m.noise == Noise::StrayEndMarkers)
            sprinkle_end_markers(chunk.data(), pos, len, m.seed, touching);
        if (image.write(reinterpret_cast<const char *>(chunk.data()), static_cast<qint64>(len))
            != static_cast<qint64>(len)) {
            *error = QStringLiteral("cannot write %1: %2").arg(image.fileName(), image.errorString());
            return false;
        }
    }
    if (!image.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(image.fileName(), image.errorString());
        return false;
    }
    image.close();
    return true;
}

}  // namespace

CardResult build_card(const Layout &layout, const QString &image_path, const QString &manifest_path)
{
    CardResult result;
    if (!plan_card(layout, &result.manifest, &result.error))
        return result;
    const Manifest &m = result.manifest;

    std::vector<const Content *> contents;
    for (const Placement &p : layout.placements) {
        contents.push_back(&p.file);
        if (p.kind == Placement::Interleaved)
            contents.push_back(&p.second);
    }
    std::vector<std::unique_ptr<QFile>> files(contents.size());
    std::vector<SourcedExtent> extents;
    for (std::size_t i = 0; i < m.files.size(); ++i) {
        if (!contents[i]->path.isEmpty()) {
            files[i] = std::make_unique<QFile>(contents[i]->path);
            if (!files[i]->open(QIODevice::ReadOnly)) {
                result.error = QStringLiteral("cannot read %1: %2").arg(contents[i]->path, files[i]->errorString());
                return result;
            }
        }
        for (const Extent &e : m.files[i].extents)
            extents.push_back({e, i});
    }
    std::sort(extents.begin(), extents.end(),
              [](const SourcedExtent &a, const SourcedExtent &b) { return a.e.card_pos < b.e.card_pos; });

    QFile image(image_path);
    if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.error = QStringLiteral("cannot write %1: %2").arg(image_path, image.errorString());
        return result;
    }
    if (!write_image(image, m, extents, contents, files, &result.error)) {
        image.remove();  // a half-written card would pass for a whole one
        return result;
    }
    if (!manifest_path.isEmpty() && !save_manifest(m, manifest_path, &result.error))
        return result;
    result.ok = true;
    return result;
}

}  // namespace card
