// Writes the fuzzers' seed corpora, cards and photos made with the card
// builder, into DIR/<fuzz target>/; the clips they are made of stay in DIR/clips.
//   make_fuzz_seeds DIR
#include "card_builder/card_writer.h"
#include "card_builder/cut_recording.h"
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

quint32 be32_at(const QByteArray &b, int at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(b.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

QByteArray be32_bytes(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

// The box with every "stco" inside it turned into a "co64" of the same
// offsets, and the sizes of the boxes around it grown to match.
QByteArray widened(const QByteArray &box)
{
    const QByteArray type = box.mid(4, 4);
    if (type == "stco" && box.size() >= 16) {
        const int n = int(std::min<quint32>(be32_at(box, 12), quint32(box.size() - 16) / 4));
        QByteArray entries;
        for (int j = 0; j < n; ++j)
            entries += be32_bytes(0) + box.mid(16 + 4 * j, 4);
        const QByteArray body = box.mid(8, 8) + entries;
        return be32_bytes(quint32(8 + body.size())) + "co64" + body;
    }
    if (type != "moov" && type != "trak" && type != "mdia" && type != "minf" && type != "stbl")
        return box;
    QByteArray body;
    for (int at = 8; at + 8 <= box.size();) {
        const int size = int(be32_at(box, at));
        if (size < 8 || size > box.size() - at)
            return box;
        body += widened(box.mid(at, size));
        at += size;
    }
    return be32_bytes(quint32(8 + body.size())) + type + body;
}

// A recording as a file past 4 GiB has it: chunk offsets in co64 and the
// mdat header with a 64-bit size in place of ffmpeg's "free" box before it.
QByteArray with_64bit_boxes(const QByteArray &file)
{
    QByteArray out;
    for (int at = 0; at + 8 <= file.size();) {
        const int size = int(be32_at(file, at));
        if (size < 8 || size > file.size() - at)
            return file;
        const QByteArray type = file.mid(at + 4, 4);
        if (type == "free" && size == 8 && file.mid(at + 12, 4) == "mdat") {
            const quint64 mdat = be32_at(file, at + 8) + 8;
            out += be32_bytes(1) + "mdat" + be32_bytes(quint32(mdat >> 32)) + be32_bytes(quint32(mdat));
            out += file.mid(at + 16, int(mdat) - 16);
            at += int(mdat);
            continue;
        }
        out += type == "moov" ? widened(file.mid(at, size)) : file.mid(at, size);
        at += size;
    }
    return out;
}

QByteArray read_all(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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

    // Recordings between two marker photos, for the region analysis and
    // the rebuild: H.264 as a camera writes it, H.265, the moov box first,
    // and 64-bit chunk offsets and mdat size.
    QString why;
    if (ffmpeg_available(&why)) {
        ClipOptions h264;
        h264.seconds = 0.5;
        h264.width = 96;
        h264.height = 64;
        ClipOptions h265 = h264;
        h265.codec = ClipCodec::H265;
        ClipOptions moov_first = h264;
        moov_first.moov_first = true;
        struct Seed {
            const char *name;
            ClipOptions clip;
            bool wide;
        };
        const Seed seeds[] = {{"group.card", h264, false},
                              {"h265.card", h265, false},
                              {"moov-first.card", moov_first, false},
                              {"co64.card", h264, true}};
        for (const Seed &seed : seeds) {
            if (seed.clip.codec == ClipCodec::H265 && !hevc_available(&why)) {
                std::fprintf(stderr, "make_fuzz_seeds: no H.265 seed: %s\n", qPrintable(why));
                continue;
            }
            const QString path = encode_clip(seed.clip, out + "/clips", &why);
            if (path.isEmpty()) {
                std::fprintf(stderr, "make_fuzz_seeds: no %s: %s\n", seed.name, qPrintable(why));
                ok = false;
                continue;
            }
            const QByteArray clip = seed.wide ? with_64bit_boxes(read_all(path)) : read_all(path);
            Layout group;
            group.tail = 0;
            group.contiguous(Content::bytes("M1.JPG", with_photo_header(jpeg(32, 32, 0), PhotoHeader::Jfif)), 0)
                    .contiguous(Content::bytes("V.MP4", clip))
                    .contiguous(Content::bytes("M2.JPG", with_photo_header(jpeg(32, 32, 30), PhotoHeader::Jfif)));
            ok &= save(out + "/fuzz_region_rebuild", seed.name, card_bytes(group, scratch));
        }
        // A recording cut before its index was written, and a complete one
        // of the same settings after it.
        ClipOptions longer = h264;
        longer.seconds = 1.5;
        longer.width = 320;
        longer.height = 240;
        ClipOptions sibling = longer;
        sibling.pattern = 1;
        const QString cut_path = encode_clip(longer, out + "/clips", &why);
        const QString sibling_path = encode_clip(sibling, out + "/clips", &why);
        const QByteArray cut = cut_path.isEmpty() ? QByteArray() : cut_recording(read_all(cut_path), 0.7);
        if (!cut.isEmpty() && !sibling_path.isEmpty()) {
            Layout lost;
            lost.tail = 0;
            lost.contiguous(Content::bytes("CUT.MP4", cut), 0).contiguous(Content::bytes("WHOLE.MP4", read_all(sibling_path)));
            ok &= save(out + "/fuzz_region_rebuild", "lost-index.card", card_bytes(lost, scratch));
        } else {
            std::fprintf(stderr, "make_fuzz_seeds: no lost-index seed: %s\n", qPrintable(why));
            ok = false;
        }
        // The clips stay in DIR/clips: the picture order's seeds are made from them.
    } else {
        std::fprintf(stderr, "make_fuzz_seeds: no clip seed: %s\n", qPrintable(why));
    }
    return ok ? 0 : 1;
}
