// tessaro-card: builds card images for tests, benchmarks and demos.
//   tessaro-card build LAYOUT.json OUT.img [MANIFEST.json]
//   tessaro-card demo OUT.img [MANIFEST.json]
//   tessaro-card session OUT.img [MANIFEST.json]
//   tessaro-card fat32 OUT.img [MANIFEST.json]
#include "card_builder/camera_session.h"
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/fat32_card.h"
#include "card_builder/json_numbers.h"
#include "card_builder/layout_json.h"
#include "card_builder/manifest_json.h"
#include "card_builder/media_encoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const char USAGE[] =
    "usage: tessaro-card build LAYOUT.json OUT.img [MANIFEST.json] [--originals DIR]\n"
    "       tessaro-card demo OUT.img [MANIFEST.json] [--originals DIR]\n"
    "       tessaro-card session OUT.img [MANIFEST.json] [--recordings N] [--markers none|around|before-each]\n"
    "                            [--no-proxies] [--no-thumbnails] [--tail BYTES] [CLIP OPTIONS] [--originals DIR]\n"
    "       tessaro-card fat32 OUT.img [MANIFEST.json] [--size BYTES] [--partition-at BYTES] [--gpt]\n"
    "                          [--seconds S] [--later-seconds S] [CLIP OPTIONS] [--originals DIR]\n"
    "clip options: --keep-sei (x264's SEI stays in the first sample), --no-delimiters,\n"
    "              --hevc (H.265 by libx265; a session's proxies stay H.264)\n"
    "--originals DIR: also writes every file as it was before it went on the card\n";

int usage()
{
    std::fputs(USAGE, stderr);
    return 2;
}

int fail(const QString &why)
{
    std::fprintf(stderr, "tessaro-card: %s\n", qPrintable(why));
    return 1;
}

void print_manifest(const QString &image, const card::Manifest &m, qint64 ms)
{
    std::printf("%s: %llu bytes, seed %llu, %s noise, written in %lld ms\n", qPrintable(image),
                static_cast<unsigned long long>(m.image_size), static_cast<unsigned long long>(m.seed),
                qPrintable(card::noise_name(m.noise)), static_cast<long long>(ms));
    for (const card::PlacedFile &f : m.files) {
        std::printf("  %-16s %10llu bytes", qPrintable(f.name), static_cast<unsigned long long>(f.size));
        for (const card::Extent &e : f.extents)
            std::printf("  [card %llu, file %llu, %llu]", static_cast<unsigned long long>(e.card_pos),
                        static_cast<unsigned long long>(e.file_offset), static_cast<unsigned long long>(e.length));
        std::printf("\n");
    }
}

bool write_original(const card::Content &c, const QString &dir, QString *error)
{
    const QString to = QDir(dir).filePath(c.name);
    QFile::remove(to);
    if (!c.path.isEmpty()) {
        if (QFile::copy(c.path, to))
            return true;
    } else {
        QFile f(to);
        if (f.open(QIODevice::WriteOnly) && f.write(c.data) == c.data.size())
            return true;
    }
    *error = QStringLiteral("cannot write %1").arg(to);
    return false;
}

bool write_originals(const std::vector<card::Content> &files, const QString &dir, QString *error)
{
    if (dir.isEmpty())
        return true;
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot make %1").arg(dir);
        return false;
    }
    for (const card::Content &c : files)
        if (!write_original(c, dir, error))
            return false;
    return true;
}

int build(const card::Layout &layout, const QString &image, const QString &manifest, const QString &originals)
{
    QElapsedTimer timer;
    timer.start();
    const card::CardResult r = card::build_card(layout, image, manifest);
    if (!r.ok)
        return fail(r.error);
    std::vector<card::Content> files;
    for (const card::Placement &p : layout.placements) {
        files.push_back(p.file);
        if (p.kind == card::Placement::Interleaved)
            files.push_back(p.second);
    }
    QString error;
    if (!write_originals(files, originals, &error))
        return fail(error);
    print_manifest(image, r.manifest, timer.elapsed());
    return 0;
}

// The manifest of a FAT32 card, with what a raw layout has no word for.
bool save_fat32_manifest(const card::Fat32Card &c, const QString &path, QString *error)
{
    return card::save_manifest(c.manifest, path, error,
                               {{"deleted", QJsonArray::fromStringList(c.deleted)},
                                {"partition_at", double(c.volume.partition_at)},
                                {"cluster_size", double(c.volume.cluster_size)},
                                {"data_start", double(c.volume.data_start)}});
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption originals("originals", "", "DIR"), keep_sei("keep-sei"), no_delimiters("no-delimiters"),
        hevc("hevc"), recordings("recordings", "", "N"), markers("markers", "", "KIND"), no_proxies("no-proxies"),
        no_thumbnails("no-thumbnails"), tail("tail", "", "BYTES"), size("size", "", "BYTES"),
        partition_at("partition-at", "", "BYTES"), seconds("seconds", "", "S"), later_seconds("later-seconds", "", "S"), gpt("gpt");
    parser.addOptions({originals, keep_sei, no_delimiters, hevc, recordings, markers, no_proxies, no_thumbnails, tail,
                       size, partition_at, seconds, later_seconds, gpt});
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tessaro-card: %s\n", qPrintable(parser.errorText()));
        return usage();
    }
    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const QString out_dir = parser.value(originals);
    QTemporaryDir cache;
    if (!cache.isValid())
        return fail(QStringLiteral("cannot make a temporary folder"));
    auto bytes = [&](const QCommandLineOption &o, std::uint64_t *v) {
        return !parser.isSet(o) || card::json_u64(QJsonValue(parser.value(o)), v);
    };
    auto clip_options = [&](card::ClipOptions *c) {
        c->keep_sei = parser.isSet(keep_sei);
        c->delimiters = !parser.isSet(no_delimiters);
    };
    // What the clips need: ffmpeg, and libx265 with --hevc.
    auto encoders_missing = [&](QString *why) {
        return parser.isSet(hevc) ? !card::hevc_available(why) : !card::ffmpeg_available(why);
    };

    if (command == QLatin1String("build") && (args.size() == 3 || args.size() == 4)) {
        QFile f(args[1]);
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(args[1], f.errorString()));
        card::Layout layout;
        QString error;
        if (!card::layout_from_json(f.readAll(), QFileInfo(args[1]).absolutePath(), cache.path(), &layout, &error))
            return fail(QStringLiteral("%1: %2").arg(args[1], error));
        return build(layout, args[2], args.value(3), out_dir);
    }
    if (command == QLatin1String("demo") && (args.size() == 2 || args.size() == 3)) {
        QString error;
        if (!card::ffmpeg_available(&error))
            return fail(error);
        card::Layout layout;
        if (!card::demo_layout(cache.path(), &layout, &error))
            return fail(error);
        return build(layout, args[1], args.value(2), out_dir);
    }
    if (command == QLatin1String("session") && (args.size() == 2 || args.size() == 3)) {
        QString error;
        if (encoders_missing(&error))
            return fail(error);
        card::SessionOptions o;
        bool ok = true;
        if (parser.isSet(recordings))
            o.recordings = parser.value(recordings).toInt(&ok);
        if (!ok || !bytes(tail, &o.tail)
            || (parser.isSet(markers) && !card::session_markers_from_name(parser.value(markers), &o.markers)))
            return usage();
        o.proxies = !parser.isSet(no_proxies);
        o.thumbnails = !parser.isSet(no_thumbnails);
        clip_options(&o.main);
        clip_options(&o.proxy);
        // An H.265 camera records its main file in H.265 and its proxy in H.264.
        if (parser.isSet(hevc))
            o.main.codec = card::ClipCodec::H265;
        card::Layout layout;
        if (!card::camera_session_layout(o, cache.path(), &layout, &error))
            return fail(error);
        return build(layout, args[1], args.value(2), out_dir);
    }
    if (command == QLatin1String("fat32") && (args.size() == 2 || args.size() == 3)) {
        QString error;
        if (encoders_missing(&error))
            return fail(error);
        card::Fat32Options o;
        bool ok = true, ok2 = true;
        if (parser.isSet(seconds))
            o.seconds = parser.value(seconds).toDouble(&ok);
        if (parser.isSet(later_seconds))
            o.later_seconds = parser.value(later_seconds).toDouble(&ok2);
        if (!ok || !ok2 || !bytes(size, &o.size) || !bytes(partition_at, &o.partition_at))
            return usage();
        clip_options(&o.clip);
        if (parser.isSet(hevc))
            o.clip.codec = card::ClipCodec::H265;
        o.gpt = parser.isSet(gpt);
        QElapsedTimer timer;
        timer.start();
        const card::Fat32Card c = card::fat32_card(o, args[1], cache.path());
        if (!c.ok)
            return fail(c.error);
        if ((args.size() == 3 && !save_fat32_manifest(c, args[2], &error)) || !write_originals(c.files, out_dir, &error))
            return fail(error);
        print_manifest(args[1], c.manifest, timer.elapsed());
        std::printf("  deleted: %s; clusters of %llu bytes from byte %llu\n", qPrintable(c.deleted.join(", ")),
                    static_cast<unsigned long long>(c.volume.cluster_size),
                    static_cast<unsigned long long>(c.volume.data_start));
        return 0;
    }
    return usage();
}
