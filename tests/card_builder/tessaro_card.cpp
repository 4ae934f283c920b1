// tessaro-card: builds raw card images for tests and demos.
//   tessaro-card build LAYOUT.json OUT.img [MANIFEST.json]
//   tessaro-card demo OUT.img [MANIFEST.json]
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/layout_json.h"
#include "card_builder/media_encoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: tessaro-card build LAYOUT.json OUT.img [MANIFEST.json]\n"
                 "       tessaro-card demo OUT.img [MANIFEST.json]\n");
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

int build(const card::Layout &layout, const QString &image, const QString &manifest)
{
    QElapsedTimer timer;
    timer.start();
    const card::CardResult r = card::build_card(layout, image, manifest);
    if (!r.ok)
        return fail(r.error);
    print_manifest(image, r.manifest, timer.elapsed());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTemporaryDir cache;
    if (!cache.isValid())
        return fail(QStringLiteral("cannot make a temporary folder"));
    const QString command = args.value(0);

    if (command == QLatin1String("build") && (args.size() == 3 || args.size() == 4)) {
        QFile f(args[1]);
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(args[1], f.errorString()));
        card::Layout layout;
        QString error;
        if (!card::layout_from_json(f.readAll(), QFileInfo(args[1]).absolutePath(), cache.path(), &layout, &error))
            return fail(QStringLiteral("%1: %2").arg(args[1], error));
        return build(layout, args[2], args.value(3));
    }
    if (command == QLatin1String("demo") && (args.size() == 2 || args.size() == 3)) {
        QString error;
        if (!card::ffmpeg_available(&error))
            return fail(error);
        card::Layout layout;
        if (!card::demo_layout(cache.path(), &layout, &error))
            return fail(error);
        return build(layout, args[1], args.value(2));
    }
    return usage();
}
