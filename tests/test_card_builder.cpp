// The card builder that the other tests stand on: files land where the
// manifest says, the noise between them fakes no signature, the marker photo
// headers are exact and still decode, ffmpeg clips look as the rebuild needs
// them, and the demo card reads as a camera's card.
#include "card_builder/card_noise.h"
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/manifest_json.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "scan/signatures.h"
#include "support/temp_image.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QtTest>
#include <sys/stat.h>

using card::Extent;
using Extents = std::vector<Extent>;
Q_DECLARE_METATYPE(card::Layout)
Q_DECLARE_METATYPE(std::vector<Extents>)
Q_DECLARE_METATYPE(card::PhotoHeader)
Q_DECLARE_METATYPE(card::Noise)
Q_DECLARE_METATYPE(card::ClipOptions)

namespace {

// Bytes that differ from file to file and from offset to offset.
QByteArray pattern(int size, int salt)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + salt * 31 + i / 251) & 0xFF);
    return b;
}

// The file as the manifest says it lies on the card; left-out parts stay zero.
QByteArray reassemble(const QByteArray &image, const card::PlacedFile &f)
{
    QByteArray out(static_cast<int>(f.size), '\0');
    for (const Extent &e : f.extents)
        out.replace(int(e.file_offset), int(e.length), image.mid(int(e.card_pos), int(e.length)));
    return out;
}

QByteArray sha256(const QByteArray &b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

const char *const SIGNATURES[] = {"ftyp", "moov", "mdat", "stco", "\xFF\xD8\xFF"};
const QByteArray FRAME_START("\x00\x00\x00\x02\x09", 5);

}  // namespace

class TestCardBuilder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QHash<QString, QByteArray> m_sources;  // what each test file holds
    QString m_cache;

    card::Content memory(const QString &name, int size)
    {
        m_sources[name] = pattern(size, m_sources.size());
        return card::Content::bytes(name, m_sources[name]);
    }

    card::Content on_disk(const QString &name, int size)
    {
        m_sources[name] = pattern(size, m_sources.size());
        return card::Content::file(write_image(m_dir, name, m_sources[name]));
    }

    QString ffmpeg_missing()
    {
        QString why;
        return card::ffmpeg_available(&why) ? QString() : QStringLiteral("ffmpeg unusable: ") + why;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cache = m_dir.filePath(QStringLiteral("media"));
    }

    void placement_data()
    {
        QTest::addColumn<card::Layout>("layout");
        QTest::addColumn<std::vector<Extents>>("expected");  // per file, in manifest order

        card::Layout l;
        l.contiguous(memory("a", 40000), 65536);
        QTest::newRow("contiguous at a set position") << l << std::vector<Extents>{{{65536, 0, 40000}}};

        l = {};
        l.contiguous(memory("b", 40000), 32768).contiguous(memory("c", 1000)).contiguous(memory("d", 10), card::NEXT_FREE, 40000);
        QTest::newRow("next free cluster, with and without a gap")
            << l << std::vector<Extents>{{{32768, 0, 40000}}, {{98304, 0, 1000}}, {{163840, 0, 10}}};

        l = {};
        l.split(memory("e", 100000), {{262144, 65536, 34464}, {131072, 0, 65536}}).contiguous(memory("f", 1000), 196608);
        QTest::newRow("extents out of order, foreign data between")
            << l << std::vector<Extents>{{{262144, 65536, 34464}, {131072, 0, 65536}}, {{196608, 0, 1000}}};

        l = {};
        l.split(memory("g", 90000), {{32768, 0, 20000}, {98304, 50000, 40000}});
        QTest::newRow("a part left out") << l << std::vector<Extents>{{{32768, 0, 20000}, {98304, 50000, 40000}}};

        l = {};
        l.noise = card::Noise::StrayEndMarkers;
        l.interleaved(memory("main", 150000), memory("proxy", 70000), 65536, 32768);
        QTest::newRow("interleaved runs, stray end markers around them")
            << l << std::vector<Extents>{{{32768, 0, 65536}, {163840, 65536, 65536}, {262144, 131072, 18928}},
                                         {{98304, 0, 65536}, {229376, 65536, 4464}}};

        l = {};
        l.contiguous(memory("before", 5000), 0);
        l.interleaved(on_disk("main.mp4", 100000), on_disk("proxy.mp4", 50000), 65536, card::NEXT_FREE, 32768);
        QTest::newRow("interleaved from disk, shorter proxy runs, after a file")
            << l << std::vector<Extents>{{{0, 0, 5000}},
                                         {{32768, 0, 65536}, {131072, 65536, 34464}},
                                         {{98304, 0, 32768}, {196608, 32768, 17232}}};
    }

    void placement()
    {
        QFETCH(card::Layout, layout);
        QFETCH(std::vector<Extents>, expected);
        const QString image = m_dir.filePath(QStringLiteral("placed.img"));
        const QString manifest = m_dir.filePath(QStringLiteral("placed.json"));
        const card::CardResult r = card::build_card(layout, image, manifest);
        QVERIFY2(r.ok, qPrintable(r.error));

        const QByteArray bytes = read_file(image);
        QCOMPARE(std::uint64_t(bytes.size()), r.manifest.image_size);
        QCOMPARE(r.manifest.image_size % card::STEP, 0u);
        QCOMPARE(r.manifest.files.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const card::PlacedFile &f = r.manifest.files[i];
            QVERIFY2(f.extents == expected[i], qPrintable(f.name));
            const QByteArray source = m_sources.value(f.name);
            QCOMPARE(f.sha256, sha256(source));
            QByteArray wanted(source.size(), '\0');  // what was left out stays zero
            for (const Extent &e : f.extents)
                wanted.replace(int(e.file_offset), int(e.length), source.mid(int(e.file_offset), int(e.length)));
            QVERIFY2(reassemble(bytes, f) == wanted, qPrintable(f.name));
        }

        card::Manifest loaded;
        QString error;
        QVERIFY2(card::load_manifest(manifest, &loaded, &error), qPrintable(error));
        QCOMPARE(loaded.image_size, r.manifest.image_size);
        for (std::size_t i = 0; i < expected.size(); ++i)
            QVERIFY(loaded.files[i].extents == expected[i] && loaded.files[i].sha256 == r.manifest.files[i].sha256);
    }

    void bad_layouts_are_refused_data()
    {
        QTest::addColumn<card::Layout>("layout");
        card::Layout l;
        l.contiguous(memory("x", 40000), 32768).contiguous(memory("y", 10), 65536);
        QTest::newRow("files overlap") << l;
        l = {};
        l.split(memory("z", 1000), {{0, 900, 101}});
        QTest::newRow("extent past the file's end") << l;
        l = {};
        l.size = 65536;
        l.contiguous(memory("w", 40000), 32768);
        QTest::newRow("image too small for its files") << l;
        l = {};
        l.interleaved(memory("m", 10), memory("p", 10), 0);
        QTest::newRow("interleaving without a run") << l;
        l = {};
        l.contiguous(card::Content::file(m_dir.filePath("absent.mp4")));
        QTest::newRow("missing source file") << l;
    }

    void bad_layouts_are_refused()
    {
        QFETCH(card::Layout, layout);
        const QString image = m_dir.filePath(QStringLiteral("refused.img"));
        const card::CardResult r = card::build_card(layout, image);
        QVERIFY(!r.ok);
        QVERIFY(!r.error.isEmpty());
        QVERIFY(!QFile::exists(image));
    }

    void noise_matches_no_signature_data()
    {
        QTest::addColumn<card::Noise>("noise");
        QTest::newRow("clean") << card::Noise::Clean;
        QTest::newRow("stray end markers") << card::Noise::StrayEndMarkers;
    }

    void noise_matches_no_signature()
    {
        QFETCH(card::Noise, noise);
        card::Layout l;
        l.size = 24 * card::MIB + 1;  // rounds up to one more cluster
        l.seed = 99;
        l.noise = noise;
        const QString image = m_dir.filePath(QStringLiteral("noise.img"));
        const card::CardResult r = card::build_card(l, image);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QByteArray bytes = read_file(image);
        QCOMPARE(bytes.size(), int(24 * card::MIB + card::STEP));

        for (const char *s : SIGNATURES)
            QVERIFY2(!bytes.contains(s), s);
        QVERIFY(!bytes.contains(FRAME_START));
        const int end_markers = bytes.count(QByteArray("\xFF\xD9"));
        const int blocks = int(bytes.size() / card::END_MARKER_SPACING);  // and a half block at the end
        if (noise == card::Noise::Clean)
            QCOMPARE(end_markers, 0);
        else
            QVERIFY(end_markers == blocks || end_markers == blocks + 1);

        const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData());
        for (int pos = 0; pos < bytes.size(); pos += int(card::STEP)) {
            QVERIFY(!is_video_start(b + pos) && !is_quicktime_start(b + pos) && !is_photo_start(b + pos));
            const bool box_type = std::all_of(b + pos + 4, b + pos + 8, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
            QVERIFY2(!box_type, qPrintable(QString::number(pos)));
        }

        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(image).constData(), &st), 0);
        QVERIFY2(std::uint64_t(st.st_blocks) * 512 >= std::uint64_t(bytes.size()), "the image is sparse");

        // The same seed gives the same byte at the same card position, whatever the layout.
        unsigned char part[100];
        card::fill_noise(part, 12345, sizeof part, 99);
        if (noise == card::Noise::Clean)
            QCOMPARE(QByteArray(reinterpret_cast<char *>(part), sizeof part), bytes.mid(12345, sizeof part));
        card::fill_noise(part, 12345, sizeof part, 100);
        QVERIFY(QByteArray(reinterpret_cast<char *>(part), sizeof part) != bytes.mid(12345, sizeof part));
    }

    void photo_headers_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<card::PhotoHeader>("header");
        QTest::addColumn<int>("exif_length");  // with_exif_header's length when the header is not one of the four
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("marker");
        for (const char *source : {"qt", "ffmpeg"}) {
            auto row = [&](const char *what) -> QTestData & { return QTest::addRow("%s, %s", source, what) << QString(source); };
            row("JFIF") << card::PhotoHeader::Jfif << 0 << QByteArray::fromHex("ffd8ffe000104a4649460001") << true;
            row("Exif 0x07FC") << card::PhotoHeader::Exif2044 << 0 << QByteArray::fromHex("ffd8ffe107fc457869660000") << true;
            row("Exif 0x39EF") << card::PhotoHeader::Exif14831 << 0 << QByteArray::fromHex("ffd8ffe139ef457869660000") << true;
            row("plain") << card::PhotoHeader::Plain << 0 << QByteArray::fromHex("ffd8ffdb") << false;
            row("Exif of another length") << card::PhotoHeader::Plain << 0x0800 << QByteArray::fromHex("ffd8ffe10800") << false;
        }
    }

    void photo_headers()
    {
        QFETCH(QString, source);
        QFETCH(card::PhotoHeader, header);
        QFETCH(int, exif_length);
        QFETCH(QByteArray, start);
        QFETCH(bool, marker);

        QByteArray jpeg;
        if (source == QLatin1String("ffmpeg")) {
            const QString missing = ffmpeg_missing();
            if (!missing.isEmpty())
                QSKIP(qPrintable(missing));
            QString error;
            card::PhotoOptions o;
            o.width = 200;
            o.height = 150;
            jpeg = card::encode_photo(o, m_cache, &error);
            QVERIFY2(!jpeg.isEmpty(), qPrintable(error));
        } else {
            QImage picture(200, 150, QImage::Format_RGB32);
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    picture.setPixel(x, y, qRgb(x, y, (x * y) & 0xFF));
            QBuffer buf(&jpeg);
            QVERIFY(buf.open(QIODevice::WriteOnly) && picture.save(&buf, "JPEG"));
        }

        const QByteArray out = exif_length ? card::with_exif_header(jpeg, std::uint16_t(exif_length))
                                           : card::with_photo_header(jpeg, header);
        QVERIFY(out.startsWith(start));
        const auto *b = reinterpret_cast<const unsigned char *>(out.constData());
        QCOMPARE(is_marker_photo(b), marker);
        // The segment's length field leads to the next marker, the first table.
        const int next = b[3] == 0xDB ? 2 : 4 + ((b[4] << 8) | b[5]);
        QCOMPARE(out.mid(next, 2), QByteArray("\xFF\xDB"));
        QCOMPARE(out.count(QByteArray("\xFF\xD9")), 1);
        QVERIFY(out.endsWith("\xFF\xD9"));
        const QImage decoded = QImage::fromData(out, "JPEG");
        QCOMPARE(decoded.size(), QSize(200, 150));
    }

    void broken_jpegs_get_no_header()
    {
        const QByteArray cut_segment = QByteArray::fromHex("ffd8ffe000ff4a464946");  // claims more than it holds
        for (const QByteArray &bad : {QByteArray("not a jpeg"), QByteArray::fromHex("ffd8"), cut_segment})
            QVERIFY(card::with_photo_header(bad, card::PhotoHeader::Exif2044).isEmpty());
        QVERIFY(card::with_exif_header(QByteArray::fromHex("ffd8ffdb0004aabbffd9"), 21).isEmpty());
    }

    void clips_data()
    {
        QTest::addColumn<card::ClipOptions>("options");
        QTest::addColumn<QByteArray>("brand");
        QTest::addColumn<bool>("moov_last");
        QTest::addColumn<qint64>("min_size");

        card::ClipOptions o;
        o.seconds = 1;
        QTest::newRow("mp42 with audio") << o << QByteArray("mp42") << true << qint64(0);
        o.brand = "avc1";
        o.audio = false;
        QTest::newRow("avc1 without audio") << o << QByteArray("avc1") << true << qint64(0);
        o.brand = "MSNV";
        o.moov_first = true;
        QTest::newRow("MSNV, moov first") << o << QByteArray("MSNV") << false << qint64(0);
        o = {};
        o.seconds = 1;
        o.quicktime = true;
        QTest::newRow("QuickTime") << o << QByteArray("qt  ") << true << qint64(0);
        o = {};
        o.seconds = 2;
        o.bitrate_kbps = 4000;
        QTest::newRow("constant bitrate") << o << QByteArray("mp42") << true << qint64(900000);
    }

    void clips()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QFETCH(card::ClipOptions, options);
        QFETCH(QByteArray, brand);
        QFETCH(bool, moov_last);
        QFETCH(qint64, min_size);

        QString error;
        const QString path = card::encode_clip(options, m_cache, &error);
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        const QByteArray clip = read_file(path);
        const auto *b = reinterpret_cast<const unsigned char *>(clip.constData());
        QCOMPARE(clip.mid(8, 4), brand);
        QCOMPARE(is_quicktime_start(b), options.quicktime);
        QCOMPARE(is_video_start(b), !options.quicktime);
        QVERIFY(clip.size() >= min_size);
        // Every frame starts with an access-unit delimiter, and the movie box
        // begins with a 108-byte header: what the rebuild searches for.
        QCOMPARE(clip.count(FRAME_START), int(options.seconds * options.fps));
        const int moov = clip.indexOf(QByteArray("moov\x00\x00\x00\x6C", 8));
        QVERIFY(moov > 0);
        QCOMPARE(moov > clip.indexOf("mdat"), moov_last);

        const QDateTime made = QFileInfo(path).lastModified();
        QCOMPARE(card::encode_clip(options, m_cache, &error), path);
        QCOMPARE(QFileInfo(path).lastModified(), made);
    }

    void demo_card_reads_as_a_camera_card()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        card::Layout layout;
        QString error;
        QVERIFY2(card::demo_layout(m_cache, &layout, &error), qPrintable(error));
        const QString image = m_dir.filePath(QStringLiteral("demo.img"));
        const card::CardResult r = card::build_card(layout, image);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QByteArray bytes = read_file(image);
        for (const card::PlacedFile &f : r.manifest.files)
            QVERIFY2(sha256(reassemble(bytes, f)) == f.sha256, qPrintable(f.name));

        // The second clip is stored tail first, with noise between its parts.
        const card::PlacedFile *clip2 = r.manifest.find(QStringLiteral("VID_0002.MP4"));
        QVERIFY(clip2 && clip2->extents.size() == 2);
        const Extent tail = clip2->extents[0], head = clip2->extents[1];
        QVERIFY(tail.file_offset > 0 && head.file_offset == 0 && tail.card_pos + tail.length < head.card_pos);

        scan_reset();
        QString open_error;
        auto source = FileSource::open(image, &open_error);
        QVERIFY2(source, qPrintable(open_error));
        RecordingProgress progress;
        reading_phase(*source, std::uint64_t(bytes.size()), progress);
        QVector<std::uint32_t> kinds;
        for (std::uint32_t i = 0; i < start_num; ++i)
            kinds << start_list[i].kind;
        QCOMPARE(kinds, (QVector<std::uint32_t>{1, 2, 1, 2, 1}));
        QCOMPARE(start_list[3].position, head.card_pos);
        QCOMPARE(photo_num, 6u);
        QCOMPARE(qt_num, 0u);
    }
};

QTEST_GUILESS_MAIN(TestCardBuilder)
#include "test_card_builder.moc"
