// Writes the fuzzers' seed corpora, cards and photos made with the card
// builder, into DIR/<fuzz target>/.
//   make_fuzz_seeds DIR
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "support/test_jpeg.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

using namespace card;

namespace {

QByteArray jpeg(int w, int h, int hue)
{
    return encode_test_jpeg(w, h, QColor::fromHsv(hue, 180, 200));
}

QByteArray ftyp(const char *brand)
{
    return QByteArray("\0\0\0\x14" "ftyp", 8) + QByteArray(brand, 4) + QByteArray(8, '\0');
}

bool save(const QString &dir, const QString &name, const QByteArray &data)
{
    QDir().mkpath(dir);
    QFile f(dir + "/" + name);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray card_bytes(const Layout &layout, const QString &scratch)
{
    const CardResult built = build_card(layout, scratch);
    QFile f(scratch);
    QByteArray data = built.ok && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    QFile::remove(scratch);
    return data;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString scratch = out + "/scratch.img";
    bool ok = true;

    // Photos with each header the reading phase tells apart.
    const PhotoHeader headers[] = {PhotoHeader::Jfif, PhotoHeader::Exif2044, PhotoHeader::Exif14831, PhotoHeader::Plain};
    int i = 0;
    for (PhotoHeader h : headers) {
        const QByteArray photo = with_photo_header(jpeg(64 + 16 * i, 48, 60 * i), h);
        ok &= save(out + "/fuzz_photo_length", QString("photo%1.jpg").arg(i++), photo);
    }

    // A small card with every kind of start on the grid.
    Layout starts;
    starts.size = 12 * STEP;
    starts.contiguous(Content::bytes("M.JPG", with_photo_header(jpeg(32, 32, 0), PhotoHeader::Jfif)), 0)
            .contiguous(Content::bytes("A.MP4", ftyp("mp42")))
            .contiguous(Content::bytes("B.MP4", ftyp("avc1")))
            .contiguous(Content::bytes("C.MP4", ftyp("MSNV")))
            .contiguous(Content::bytes("Q.MOV", ftyp("qt  ")))
            .contiguous(Content::bytes("E.JPG", with_photo_header(jpeg(32, 32, 90), PhotoHeader::Exif2044)))
            .contiguous(Content::bytes("P.JPG", with_photo_header(jpeg(32, 32, 180), PhotoHeader::Plain)));
    ok &= save(out + "/fuzz_reading_steps", "starts.card", card_bytes(starts, scratch));

    // A recording between two marker photos, for the region analysis and
    // the rebuild.
    QString why;
    if (ffmpeg_available(&why)) {
        ClipOptions clip;
        clip.seconds = 0.5;
        clip.width = 96;
        clip.height = 64;
        const QString path = encode_clip(clip, out + "/clips", &why);
        if (!path.isEmpty()) {
            Layout group;
            group.tail = 0;
            group.contiguous(Content::bytes("M1.JPG", with_photo_header(jpeg(32, 32, 0), PhotoHeader::Jfif)), 0)
                    .contiguous(Content::file(path, "V.MP4"))
                    .contiguous(Content::bytes("M2.JPG", with_photo_header(jpeg(32, 32, 30), PhotoHeader::Jfif)));
            ok &= save(out + "/fuzz_region_rebuild", "group.card", card_bytes(group, scratch));
        }
        QDir(out + "/clips").removeRecursively();
    } else {
        std::fprintf(stderr, "make_fuzz_seeds: no clip seed: %s\n", qPrintable(why));
    }
    return ok ? 0 : 1;
}
