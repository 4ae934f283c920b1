// Photo lengths, extraction and thumbnails: the end-marker rule, the walk of
// a photo's JPEG structure, and photos recovered byte for byte from cards.
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "recover/photo_extraction.h"
#include "scan/photo_length.h"
#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace card;

Q_DECLARE_METATYPE(Verdict)

namespace {

// Fine detail, so that the compressed data holds many stuffed FF 00 pairs.
QImage detailed_picture(int width, int height, quint32 seed)
{
    QImage picture(width, height, QImage::Format_RGB32);
    quint32 x = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int i = 0; i < width; ++i) {
            x = x * 1664525u + 1013904223u;
            line[i] = qRgb(int(x >> 24), int(x >> 16) & 0xFF, int(x >> 8) & 0xFF);
        }
    }
    return picture;
}

QByteArray qt_jpeg(const QImage &picture, bool progressive, int quality = 90)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(picture) ? data : QByteArray();
}

// Empty, with the reason in `why`, when cjpeg is not installed.
QByteArray cjpeg(const QImage &picture, QStringList args, QString *why)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("cjpeg"));
    if (program.isEmpty()) {
        *why = QStringLiteral("cjpeg is not installed (Debian: libjpeg-turbo-progs)");
        return {};
    }
    QTemporaryDir dir;
    const QString ppm = dir.filePath(QStringLiteral("in.ppm"));
    picture.save(ppm, "PPM");
    QProcess p;
    p.start(program, args << ppm);
    p.waitForFinished();
    return p.readAllStandardOutput();
}

void put16(QByteArray &b, quint32 v, bool little)
{
    const char lo = char(v & 0xFF), hi = char(v >> 8 & 0xFF);
    b += little ? lo : hi;
    b += little ? hi : lo;
}

void put32(QByteArray &b, quint32 v, bool little)
{
    put16(b, little ? v & 0xFFFF : v >> 16, little);
    put16(b, little ? v >> 16 : v & 0xFFFF, little);
}

QByteArray segment(unsigned char marker, const QByteArray &payload)
{
    QByteArray s;
    s += '\xFF';
    s += char(marker);
    put16(s, quint32(payload.size() + 2), false);
    return s + payload;
}

// One 12-byte IFD field whose four value bytes hold `value` (or its offset).
void put_field(QByteArray &b, quint32 tag, quint32 type, quint32 count, quint32 value, bool little)
{
    put16(b, tag, little);
    put16(b, type, little);
    put32(b, count, little);
    put32(b, value, little);
}

// Right after SOI, an Exif APP1 whose IFD1 holds `thumbnail`, as a camera
// embeds its small preview (with an SOI and an EOI of its own).
QByteArray with_exif_thumbnail(const QByteArray &jpeg, const QByteArray &thumbnail)
{
    QByteArray tiff("II*\0", 4);
    put32(tiff, 8, true);
    put16(tiff, 0, true);  // IFD0: no fields, IFD1 at 14
    put32(tiff, 14, true);
    put16(tiff, 2, true);  // IFD1: the thumbnail's offset (44) and length
    put_field(tiff, 0x0201, 4, 1, 44, true);
    put_field(tiff, 0x0202, 4, 1, quint32(thumbnail.size()), true);
    put32(tiff, 0, true);
    return jpeg.left(2) + segment(0xE1, QByteArray("Exif\0\0", 6) + tiff + thumbnail) + jpeg.mid(2);
}

// After the APPn segments at the start, an MPF APP2 listing the image and
// `preview`, which is stored right after the image; `preview_at` moves the
// listed offset of the preview by that many bytes.
QByteArray with_mpf_preview(const QByteArray &jpeg, const QByteArray &preview, bool little, int preview_at = 0)
{
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF && (uchar(jpeg[at + 1]) & 0xF0) == 0xE0)
        at += 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]));
    const int header_at = at + 8;  // after FF E2, the length and "MPF\0"
    const int mp_size = 8 + 2 + 3 * 12 + 4 + 2 * 16;
    const quint32 image_size = quint32(jpeg.size() + 8 + mp_size);
    const quint32 version = little ? 0x30303130 : 0x30313030;  // "0100"
    QByteArray mp(little ? "II*\0" : "MM\0*", 4);
    put32(mp, 8, little);
    put16(mp, 3, little);  // the index: version, number of images, entries at 50
    put_field(mp, 0xB000, 7, 4, version, little);
    put_field(mp, 0xB001, 4, 1, 2, little);
    put_field(mp, 0xB002, 7, 32, 50, little);
    put32(mp, 0, little);
    const quint32 entries[2][3] = {{0x20030000, image_size, 0},  // attribute, size, offset
                                   {0x00010001, quint32(preview.size()), image_size - header_at + preview_at}};
    for (const auto &e : entries) {
        for (quint32 v : e)
            put32(mp, v, little);
        put32(mp, 0, little);  // no dependent images
    }
    return jpeg.left(at) + segment(0xE2, QByteArray("MPF\0", 4) + mp) + jpeg.mid(at) + preview;
}

QByteArray read_all(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// `photo` at 1 MiB of a card whose noise holds stray FF D9 pairs.
QByteArray card_with(const QByteArray &photo, const QTemporaryDir &dir)
{
    Layout layout;
    layout.noise = Noise::StrayEndMarkers;
    layout.contiguous(Content::bytes(QStringLiteral("P.JPG"), photo), MIB);
    const QString path = dir.filePath(QStringLiteral("card.img"));
    return build_card(layout, path).ok ? read_all(path) : QByteArray();
}

// What the end markers alone give for the photo at `at` of `card`: the rule
// over its 4 MiB read, zeros past the card's end.
std::uint64_t old_rule(const QByteArray &card, std::uint64_t at)
{
    QByteArray head = card.mid(int(at), int(PHOTO_BUF_SIZE));
    head.append(int(PHOTO_BUF_SIZE) - head.size(), '\0');
    return photo_length(reinterpret_cast<const unsigned char *>(head.constData()), PHOTO_BUF_SIZE);
}

// Makes the photo at `position` photo 0 and recovers it into `folder`.
PhotoResult recover_photo(ByteSource &source, std::uint64_t end, std::uint64_t position, const QString &folder)
{
    photo_num = 1;
    photo_list[0] = PhotoInfo{position, 0};
    save_dir = folder;
    return extract_photo(source, end, 0);
}

// A memory source that remembers the furthest byte asked of it.
class WatchedSource : public MemorySource
{
public:
    using MemorySource::MemorySource;
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override
    {
        furthest = std::max(furthest, pos + len);
        return MemorySource::read_once(pos, buf, len);
    }
    std::uint64_t furthest = 0;
};

const unsigned char *bytes(const QByteArray &a) { return reinterpret_cast<const unsigned char *>(a.constData()); }

// Where the APPn segments at the start of a JPEG end.
int app_segments_end(const QByteArray &jpeg)
{
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF && (uchar(jpeg[at + 1]) & 0xF0) == 0xE0)
        at += 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]));
    return at;
}

// The JPEG made `size` bytes long by APP3 segments of zeros after its SOI.
QByteArray padded(const QByteArray &jpeg, int size)
{
    int pad = size - jpeg.size();
    if (pad < 4)
        return {};
    QByteArray segments;
    while (pad > 0) {
        const int n = pad > 65537 ? std::min(65537, pad - 4) : pad;  // header and payload
        segments += segment(0xE3, QByteArray(n - 4, '\0'));
        pad -= n;
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// The length by today's rules with the 4 MiB head read whole up front, as
// the scan once read every photo.
std::uint64_t length_with_whole_head(const QByteArray &card, std::uint64_t at)
{
    MemorySource source(bytes(card), std::uint64_t(card.size()));
    std::vector<unsigned char> head(PHOTO_READ_STEP);
    read_source(source, at, head.data(), head.size(), std::uint64_t(card.size()));
    std::uint64_t unreadable = 0;
    return photo_length_on_card(source, std::uint64_t(card.size()), at, head.data(), head.size(), &unreadable);
}

// A memory source whose first read at `held_at` waits until a read at
// `release_at` has come, for ten seconds at most: it comes only when
// another thread reads at the same time.
class GateSource : public MemorySource
{
public:
    GateSource(const QByteArray &card, std::uint64_t held_at, std::uint64_t release_at)
        : MemorySource(bytes(card), std::uint64_t(card.size())), m_held_at(held_at), m_release_at(release_at)
    {
    }
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (pos == m_release_at) {
            m_released = true;
            m_gate.notify_all();
        }
        if (pos == m_held_at && !m_held) {
            m_held = true;
            waited_in_vain = !m_gate.wait_for(lock, std::chrono::seconds(10), [&] { return m_released; });
        }
        lock.unlock();
        return MemorySource::read_once(pos, buf, len);
    }
    bool waited_in_vain = false;

private:
    std::uint64_t m_held_at, m_release_at;
    std::mutex m_mutex;
    std::condition_variable m_gate;
    bool m_held = false, m_released = false;
};

// Records the codes and the threads they come from.
class ThreadProgress : public RecordingProgress
{
public:
    void code(int value) override
    {
        RecordingProgress::code(value);
        threads.push_back(QThread::currentThread());
    }
    std::vector<QThread *> threads;
};

}  // namespace

class TestPhotos : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { scan_reset(); }

    void length_rule_data()
    {
        QTest::addColumn<QVector<int>>("markers");  // offsets of the FF bytes
        QTest::addColumn<qint64>("length");

        QTest::newRow("none") << QVector<int>{} << qint64(0);
        QTest::newRow("one") << QVector<int>{40000} << qint64(40002);
        QTest::newRow("two") << QVector<int>{5000, 9000} << qint64(9002);
        QTest::newRow("three") << QVector<int>{5000, 9000, 2000000} << qint64(2000002);
        QTest::newRow("four") << QVector<int>{5000, 9000, 2000000, 3000000} << qint64(2000002);
        // The D9 on the very last byte of the 4 MiB still ends the photo.
        QTest::newRow("at the very end") << QVector<int>{int(PHOTO_BUF_SIZE) - 2} << qint64(PHOTO_BUF_SIZE);
        QTest::newRow("FF FF D9") << QVector<int>{6999, 7000} << qint64(7002);
    }

    void length_rule()
    {
        QFETCH(QVector<int>, markers);
        QFETCH(qint64, length);
        std::vector<unsigned char> data(PHOTO_BUF_SIZE, 0x11);
        for (int at : markers) {
            data[at] = 0xFF;
            data[at + 1] = 0xD9;
        }
        QCOMPARE(photo_length(data.data(), data.size()), std::uint64_t(length));
    }

    void recovered_photo_is_the_original_data()
    {
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<QString>("missing");  // why the row cannot be made

        const QImage picture = detailed_picture(320, 240, 1);
        const QByteArray thumbnail = qt_jpeg(detailed_picture(160, 120, 2), false, 75);
        const QByteArray preview = qt_jpeg(detailed_picture(200, 150, 3), false, 80);
        QString why;
        QTest::newRow("baseline") << qt_jpeg(picture, false) << QString();
        QTest::newRow("progressive") << qt_jpeg(picture, true) << QString();
        QTest::newRow("baseline, Exif thumbnail") << with_exif_thumbnail(qt_jpeg(picture, false), thumbnail) << QString();
        QTest::newRow("progressive, Exif thumbnail") << with_exif_thumbnail(qt_jpeg(picture, true), thumbnail) << QString();
        const QByteArray restarts = cjpeg(picture, {"-restart", "1", "-quality", "90"}, &why);
        QTest::newRow("restart markers") << restarts << why;
        const QByteArray progressive_restarts = cjpeg(picture, {"-progressive", "-restart", "1"}, &why);
        QTest::newRow("progressive, restart markers") << progressive_restarts << why;
        QTest::newRow("MPF preview, little-endian")
                << with_mpf_preview(with_exif_thumbnail(qt_jpeg(picture, false), thumbnail), preview, true) << QString();
        QTest::newRow("MPF preview, big-endian") << with_mpf_preview(qt_jpeg(picture, true), preview, false) << QString();
        QByteArray ffmpeg_photo;
        if (ffmpeg_available(&why)) {
            PhotoOptions o;
            o.width = 640;
            o.height = 480;
            ffmpeg_photo = with_photo_header(encode_photo(o, m_dir.filePath("ffmpeg"), &why), PhotoHeader::Exif2044);
        }
        QTest::newRow("ffmpeg, marker header") << ffmpeg_photo << why;
        // Noise hardly compresses: 1,800 x 1,350 pixels of it at quality 100
        // make more than 4 MiB.
        QTest::newRow("larger than 4 MiB") << qt_jpeg(detailed_picture(1800, 1350, 4), false, 100) << QString();
    }

    void recovered_photo_is_the_original()
    {
        QFETCH(QByteArray, photo);
        QFETCH(QString, missing);
        if (photo.isEmpty())
            QSKIP(qPrintable(missing.isEmpty() ? QStringLiteral("the photo could not be encoded") : missing));
        QVERIFY(photo.startsWith("\xFF\xD8") && photo.endsWith("\xFF\xD9"));
        if (QByteArray(QTest::currentDataTag()).contains("restart"))
            QVERIFY(photo.contains("\xFF\xD0"));
        if (QByteArray(QTest::currentDataTag()).contains("4 MiB"))
            QVERIFY(photo.size() > int(PHOTO_BUF_SIZE));

        QTemporaryDir dir;
        const QByteArray card = card_with(photo, dir);
        QVERIFY(!card.isEmpty());
        // With fewer than three end markers of its own, the end markers alone
        // take the wrong end.
        if (photo.count("\xFF\xD9") < 3)
            QVERIFY(old_rule(card, MIB) != std::uint64_t(photo.size()));

        MemorySource source(bytes(card), std::uint64_t(card.size()));
        const PhotoResult r = recover_photo(source, std::uint64_t(card.size()), MIB, dir.path());
        QVERIFY2(r.written, qPrintable(r.error));
        QCOMPARE(r.length, std::uint64_t(photo.size()));
        QVERIFY(read_all(r.file_name) == photo);
        QCOMPARE(r.verdict(), Verdict::Intact);
    }

    void broken_structure_keeps_the_old_length_data()
    {
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<int>("length");  // -1: what the end markers alone give

        const QByteArray good = qt_jpeg(detailed_picture(160, 120, 5), false);
        const QByteArray preview = qt_jpeg(detailed_picture(80, 60, 6), false);
        QByteArray lying_app0 = good;  // JFIF APP0 of length 16 said to be 17
        QCOMPARE(uchar(lying_app0[3]), uchar(0xE0));
        lying_app0[5] = char(lying_app0[5] + 1);
        QByteArray lying_scan = good;  // the SOS header's length runs into the data
        const int sos = lying_scan.indexOf("\xFF\xDA");
        lying_scan[sos + 3] = char(lying_scan[sos + 3] + 40);
        QByteArray short_table = good;  // a DQT of length 1
        const int dqt = short_table.indexOf("\xFF\xDB");
        short_table[dqt + 2] = 0, short_table[dqt + 3] = 1;

        QTest::newRow("APP0 length lies") << lying_app0 << -1;
        QTest::newRow("SOS length lies") << lying_scan << -1;
        QTest::newRow("length below 2") << short_table << -1;
        QTest::newRow("unknown marker") << QByteArray("\xFF\xD8\xFF\x02", 4) + good.mid(2) << -1;
        QTest::newRow("EOI before any scan") << QByteArray("\xFF\xD8\xFF\xD9", 4) + good.mid(2) << -1;
        QTest::newRow("no frame header") << good.left(2) + good.mid(sos) << -1;
        // An index that points beside the preview is not trusted: the photo
        // ends with its own image.
        const QByteArray misled = with_mpf_preview(good, preview, true, 7);
        QTest::newRow("MPF offset lies") << misled << misled.size() - preview.size();
    }

    void broken_structure_keeps_the_old_length()
    {
        QFETCH(QByteArray, photo);
        QFETCH(int, length);
        QTemporaryDir dir;
        const QByteArray card = card_with(photo, dir);
        QVERIFY(!card.isEmpty());
        const std::uint64_t by_markers = old_rule(card, MIB);
        QVERIFY(by_markers > std::uint64_t(photo.size()));  // stray markers follow the photo

        MemorySource source(bytes(card), std::uint64_t(card.size()));
        const PhotoResult r = recover_photo(source, std::uint64_t(card.size()), MIB, dir.path());
        QCOMPARE(r.length, length < 0 ? by_markers : std::uint64_t(length));
        QVERIFY(read_all(r.file_name) == card.mid(int(MIB), int(r.length)));
        // Only a structure walked to its end says the photo is whole.
        QCOMPARE(r.verdict(), length < 0 ? Verdict::Partial : Verdict::Intact);
    }

    // A photo whose later clusters were overwritten: its first cluster is
    // on the card, noise follows. The end markers then guess its end, or
    // find none; the photo is never called whole.
    void a_photo_cut_short_is_not_intact_data()
    {
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<bool>("stray_markers");  // in the noise
        QTest::addColumn<Verdict>("verdict");

        const QByteArray plain = qt_jpeg(detailed_picture(320, 240, 21), false);
        const QByteArray with_thumbnail = with_exif_thumbnail(plain, qt_jpeg(detailed_picture(160, 120, 22), false, 75));
        QTest::newRow("whole") << plain << false << true << Verdict::Intact;
        QTest::newRow("cut short, stray end markers after") << plain << true << true << Verdict::Partial;
        QTest::newRow("cut short, its thumbnail's end marker left") << with_thumbnail << true << false << Verdict::Partial;
        QTest::newRow("cut short, no end marker left") << plain << true << false << Verdict::Empty;
    }

    void a_photo_cut_short_is_not_intact()
    {
        QFETCH(QByteArray, photo);
        QFETCH(bool, cut);
        QFETCH(bool, stray_markers);
        QFETCH(Verdict, verdict);
        QVERIFY(photo.size() > 2 * int(STEP));
        const std::uint64_t kept = cut ? STEP : std::uint64_t(photo.size());
        QTemporaryDir dir;
        Layout layout;
        layout.noise = stray_markers ? Noise::StrayEndMarkers : Noise::Clean;
        layout.split(Content::bytes(QStringLiteral("P.JPG"), photo), {Extent{MIB, 0, kept}});
        const QString path = dir.filePath(QStringLiteral("card.img"));
        QVERIFY(build_card(layout, path).ok);
        const QByteArray card = read_all(path);

        MemorySource source(bytes(card), std::uint64_t(card.size()));
        const PhotoResult r = recover_photo(source, std::uint64_t(card.size()), MIB, dir.path());
        QVERIFY2(r.written, qPrintable(r.error));
        // The walk takes any bytes free of markers for compressed data, so
        // it runs on through the noise to a stray end marker; only decoding
        // the data would tell.
        if (cut && stray_markers)
            QEXPECT_FAIL("", "a walk through marker-free bytes to a stray end marker counts as whole", Continue);
        QCOMPARE(verdict_name(r.verdict()), verdict_name(verdict));
        if (!cut)
            QCOMPARE(r.length, kept);
    }

    void walk_reads_on_up_to_64_mib_data()
    {
        QTest::addColumn<int>("eoi");   // MiB into the photo, 0 for none
        QTest::addColumn<int>("size");  // MiB of the source
        QTest::addColumn<bool>("walked");

        QTest::newRow("end at 60 MiB") << 60 << 70 << true;
        QTest::newRow("end past 64 MiB") << 66 << 70 << false;
        QTest::newRow("source ends first") << 0 << 30 << false;
    }

    void walk_reads_on_up_to_64_mib()
    {
        // A photo whose compressed data runs on for tens of MiB, with an
        // Exif thumbnail in its head: the end markers alone end it there.
        QFETCH(int, eoi);
        QFETCH(int, size);
        QFETCH(bool, walked);
        const QByteArray thumbnail = qt_jpeg(detailed_picture(64, 48, 7), false);
        const QByteArray head = with_exif_thumbnail(qt_jpeg(detailed_picture(64, 48, 8), false), thumbnail);
        const int data_at = head.indexOf("\xFF\xDA", head.indexOf("\xFF\xD9") + 2);
        QVERIFY(data_at > 0);
        QByteArray card = head.left(data_at + 2 + (uchar(head[data_at + 2]) << 8 | uchar(head[data_at + 3])));
        card.append(int(std::uint64_t(size) * MIB) - card.size(), '\x11');
        if (eoi)
            card.replace(int(std::uint64_t(eoi) * MIB) - 2, 2, "\xFF\xD9");

        WatchedSource source(bytes(card), std::uint64_t(card.size()));
        photo_num = 1;
        photo_list[0] = PhotoInfo{0, 0};
        QCOMPARE(measure_photo(source, std::uint64_t(card.size()), 0), std::uint64_t(0));
        const std::uint64_t thumbnail_end = std::uint64_t(head.indexOf("\xFF\xD9") + 2);
        QCOMPARE(photo_list[0].length, walked ? std::uint64_t(eoi) * MIB : thumbnail_end);
        QVERIFY(source.furthest <= std::min<std::uint64_t>(std::uint64_t(card.size()), PHOTO_MAX_LENGTH));
    }

    void unreadable_bytes_of_a_photo_read_as_zeros()
    {
        // A photo whose second 32 KiB unit cannot be read: its end marker
        // in the first unit still counts, the bad unit is counted as lost.
        QByteArray card(8 * 32768, '\x11');
        card.replace(0, 4, QByteArray::fromHex("ffd8ffdb"));
        card.replace(1000, 2, QByteArray::fromHex("ffd9"));
        card.replace(40000, 2, QByteArray::fromHex("ffd9"));
        FailingSource source(card, {{32768, 65536}});
        scan_reset();
        photo_num = 1;
        photo_list[0] = PhotoInfo{0, 0};
        QCOMPARE(measure_photo(source, card.size(), 0), std::uint64_t(32768));
        QCOMPARE(photo_list[0].length, std::uint64_t(1002));
    }

    void a_long_photo_is_recovered_and_shown_whole()
    {
        // Noise on top, a red band at the bottom, one unreadable unit past
        // the first 4 MiB: the file has every byte but that unit's, the
        // loss is counted once, and the thumbnail shows the band.
        QImage picture = detailed_picture(2000, 1500, 9);
        for (int y = 1300; y < 1500; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(picture.scanLine(y)), 2000, qRgb(255, 0, 0));
        const QByteArray photo = qt_jpeg(picture, false, 100);
        QVERIFY(photo.size() > int(PHOTO_BUF_SIZE) + int(UNIT));
        QTemporaryDir dir;
        const QByteArray card = card_with(photo, dir);
        const std::uint64_t bad = MIB + PHOTO_BUF_SIZE;  // on the 32 KiB grid
        FailingSource source(card, {{bad, bad + UNIT}});

        const PhotoResult r = recover_photo(source, std::uint64_t(card.size()), MIB, dir.path());
        QCOMPARE(r.length, std::uint64_t(photo.size()));
        QCOMPARE(r.unreadable, UNIT);
        QByteArray expected = photo;
        expected.replace(int(PHOTO_BUF_SIZE), int(UNIT), QByteArray(int(UNIT), '\0'));
        QVERIFY(read_all(r.file_name) == expected);

        MemorySource clean(bytes(card), std::uint64_t(card.size()));
        const QString png = dir.filePath("ab0.png");
        QVERIFY(make_photo_thumbnail(clean, std::uint64_t(card.size()), 0, png));
        const QImage thumb(png);
        QCOMPARE(thumb.size(), QSize(120, 90));
        QVERIFY(qRed(thumb.pixel(60, 86)) > 200 && qGreen(thumb.pixel(60, 86)) < 60);
    }

    void photos_of_the_test_cards_keep_their_bytes_data()
    {
        QTest::addColumn<QString>("card");
        QTest::newRow("demo card") << "demo";
        QTest::newRow("tessaro-cli's card") << "cli";
        QTest::newRow("recovery card") << "recovery";
    }

    void photos_of_the_test_cards_keep_their_bytes()
    {
        // The photos other tests lay, before the recordings they lie before:
        // each comes back exactly as it went on the card.
        QFETCH(QString, card);
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test media: " + why));
        const QString cache = m_dir.filePath("media");
        const auto qt_photo = [](int w, int h, QColor colour, PhotoHeader header) {
            return Content::bytes(QStringLiteral("%1.JPG").arg(colour.name()),
                                  with_photo_header(encode_test_jpeg(w, h, colour), header));
        };
        Layout layout;
        if (card == "demo") {
            QVERIFY2(demo_layout(cache, &layout, &why), qPrintable(why));
        } else if (card == "cli") {
            const QString samples = qEnvironmentVariable("TESSARO_SAMPLES");
            const QString karma = samples + "/gopro-karma.mp4", max = samples + "/gopro-max-heromode.mp4";
            if (!QFile::exists(karma) || !QFile::exists(max))
                QSKIP("the sample recordings are not there (set TESSARO_SAMPLES)");
            layout.contiguous(qt_photo(160, 120, Qt::red, PhotoHeader::Jfif), MIB)
                    .contiguous(Content::file(karma, "KARMA.MP4"))
                    .contiguous(qt_photo(160, 120, Qt::green, PhotoHeader::Exif2044))
                    .contiguous(Content::file(max, "MAX.MP4"), NEXT_FREE, 64 * KIB)
                    .contiguous(qt_photo(160, 120, Qt::blue, PhotoHeader::Exif14831))
                    .contiguous(qt_photo(320, 240, Qt::gray, PhotoHeader::Plain), NEXT_FREE, 32 * KIB)
                    .contiguous(qt_photo(320, 240, Qt::cyan, PhotoHeader::Plain));
        } else {
            ClipOptions o;
            o.seconds = 1.5;
            const QString clip = encode_clip(o, cache, &why);
            QVERIFY2(!clip.isEmpty(), qPrintable(why));
            layout.contiguous(qt_photo(96, 64, QColor::fromHsv(40, 200, 200), PhotoHeader::Jfif), MIB)
                    .contiguous(Content::file(clip, "A.MP4"))
                    .contiguous(qt_photo(96, 64, QColor::fromHsv(80, 200, 200), PhotoHeader::Exif2044))
                    .contiguous(Content::file(clip, "B.MP4"))
                    .contiguous(qt_photo(96, 64, QColor::fromHsv(120, 200, 200), PhotoHeader::Exif14831))
                    .contiguous(qt_photo(96, 64, QColor::fromHsv(160, 200, 200), PhotoHeader::Plain));
        }
        QTemporaryDir dir;
        const QString image = dir.filePath("card.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));
        QString error;
        std::unique_ptr<FileSource> source = FileSource::open(image, &error);
        QVERIFY2(source, qPrintable(error));

        int photos = 0;
        for (const PlacedFile &f : built.manifest.files) {
            if (!f.name.endsWith(".JPG"))
                continue;
            ++photos;
            const PhotoResult r = recover_photo(*source, std::uint64_t(QFileInfo(image).size()), f.start(), dir.path());
            QCOMPARE(r.length, f.size);
            QCOMPARE(QCryptographicHash::hash(read_all(r.file_name), QCryptographicHash::Sha256).toHex(), f.sha256);
        }
        QVERIFY(photos >= 4);
    }

    void photo_steps_read_only_what_the_photo_needs_data()
    {
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<bool>("walked");  // false: the end markers over the head decide

        const QByteArray thumbnail = qt_jpeg(detailed_picture(160, 120, 11), false, 75);
        const QByteArray preview = qt_jpeg(detailed_picture(200, 150, 12), false, 80);
        const QByteArray small = with_exif_thumbnail(qt_jpeg(detailed_picture(160, 120, 13), false), thumbnail);
        const QByteArray large = with_exif_thumbnail(qt_jpeg(detailed_picture(400, 300, 14), false), thumbnail);
        const int first = int(PHOTO_FIRST_READ);
        QTest::newRow("small") << small << true;
        QTest::newRow("walk crosses the first read's end") << large << true;
        QTest::newRow("ends with the first read") << padded(small, first) << true;
        QTest::newRow("end marker split by the first read's end") << padded(small, first + 1) << true;
        QTest::newRow("MPF preview past the first read") << with_mpf_preview(large, preview, false) << true;
        // The index segment starts 40 bytes before the first read ends.
        const QByteArray shifted = padded(small, small.size() + first - 40 - app_segments_end(small));
        QTest::newRow("MPF index across the first read's end") << with_mpf_preview(shifted, preview, true) << true;
        QTest::newRow("longer than 4 MiB") << qt_jpeg(detailed_picture(1800, 1350, 15), false, 100) << true;
        QByteArray lying = large;  // a DQT of length 1, past the Exif thumbnail
        const int dqt = lying.indexOf("\xFF\xDB", app_segments_end(lying));
        lying[dqt + 2] = 0, lying[dqt + 3] = 1;
        QTest::newRow("broken structure") << lying << false;
    }

    void photo_steps_read_only_what_the_photo_needs()
    {
        // The length is today's, to the byte; measuring reads little past
        // it; the thumbnail reads nothing more; the recovery of a measured
        // photo reads each of its bytes once.
        QFETCH(QByteArray, photo);
        QFETCH(bool, walked);
        QVERIFY(photo.startsWith("\xFF\xD8"));
        QTemporaryDir dir;
        const QByteArray card = card_with(photo, dir);
        QVERIFY(!card.isEmpty());
        const std::uint64_t end = std::uint64_t(card.size());
        const std::uint64_t expected = length_with_whole_head(card, MIB);
        QCOMPARE(expected, walked ? std::uint64_t(photo.size()) : old_rule(card, MIB));
        MemorySource source(bytes(card), end);
        photo_num = 1;

        photo_list[0] = PhotoInfo{MIB, 0};
        std::uint64_t before = source_bytes_read();
        QCOMPARE(measure_photo(source, end, 0), std::uint64_t(0));
        const std::uint64_t measured = source_bytes_read() - before;
        QCOMPARE(photo_list[0].length, expected);
        if (walked) {
            const std::uint64_t last_step = std::max(PHOTO_FIRST_READ, expected / 8);
            QVERIFY2(measured >= expected && measured <= expected + last_step + UNIT, qPrintable(QString::number(measured)));
        } else {
            QCOMPARE(measured, std::min(PHOTO_READ_STEP, end - MIB));
        }

        photo_list[0] = PhotoInfo{MIB, 0};
        before = source_bytes_read();
        QCOMPARE(make_photo_thumbnail(source, end, 0, dir.filePath("ab0.png")), walked);
        QCOMPARE(source_bytes_read() - before, measured);
        QCOMPARE(photo_list[0].length, expected);

        save_dir = dir.path();
        before = source_bytes_read();
        const PhotoResult r = extract_photo(source, end, 0);
        QCOMPARE(source_bytes_read() - before, expected);
        QVERIFY2(r.written, qPrintable(r.error));
        QVERIFY(read_all(r.file_name) == card.mid(int(MIB), int(expected)));
        // The scan's measure carries the walk's outcome to the recovery.
        QCOMPARE(r.verdict(), walked ? Verdict::Intact : Verdict::Partial);
    }

    void recovery_writes_the_extent_the_scan_measured()
    {
        // A length that the bytes would not give: the recovery takes the
        // scan's word for it rather than measuring again.
        const QByteArray photo = qt_jpeg(detailed_picture(160, 120, 16), false);
        QTemporaryDir dir;
        const QByteArray card = card_with(photo, dir);
        MemorySource source(bytes(card), std::uint64_t(card.size()));
        photo_num = 1;
        photo_list[0] = PhotoInfo{MIB, 1000};
        save_dir = dir.path();
        const PhotoResult r = extract_photo(source, std::uint64_t(card.size()), 0);
        QVERIFY(r.written);
        QCOMPARE(r.length, std::uint64_t(1000));
        QVERIFY(read_all(r.file_name) == card.mid(int(MIB), 1000));
        // A length that no walk gave is no sign of a whole photo.
        QCOMPARE(r.verdict(), Verdict::Partial);
    }

    void thumbnails_are_made_at_once_and_reported_in_order_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("two workers") << 2;
        QTest::newRow("one per core") << 0;
    }

    void thumbnails_are_made_at_once_and_reported_in_order()
    {
        // Photo 0's first read waits for photo 1's, so photo 1 is done
        // first; the codes still come in table order, from this thread.
        // Each thumbnail fits 120 x 90 with the photo's shape, a small
        // photo's grown to fit as ever; bytes that do not decode still get
        // their code and no picture.
        QFETCH(int, parallel);
        if (parallel == 0 && QThread::idealThreadCount() < 2)
            QSKIP("one core: the photos are made one after another");
        const QVector<QSize> shapes{{400, 200}, {300, 400}, {4000, 3000}, {60, 40}};
        const QVector<QSize> fits{{120, 60}, {67, 90}, {120, 90}, {120, 80}};
        Layout layout;
        layout.noise = Noise::StrayEndMarkers;
        for (int k = 0; k < shapes.size(); ++k) {
            QImage picture(shapes[k], QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(60 * k, 200, 200));
            layout.contiguous(Content::bytes(QStringLiteral("%1.JPG").arg(k), qt_jpeg(picture, k % 2)), k ? NEXT_FREE : MIB);
        }
        layout.contiguous(Content::bytes(QStringLiteral("junk.JPG"), QByteArray("\xFF\xD8\xFF\xDB\x00\x04\x11\x11\xFF\xD9", 10)));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("card.img"));
        const CardResult built = build_card(layout, path);
        QVERIFY2(built.ok, qPrintable(built.error));
        const QByteArray card = read_all(path);
        const auto &files = built.manifest.files;
        photo_num = std::uint32_t(files.size());
        for (std::uint32_t i = 0; i < photo_num; ++i)
            photo_list[i] = PhotoInfo{files[i].start(), 0};
        QVERIFY(use_work_folder_in(dir).isEmpty());

        GateSource source(card, files[0].start(), files[1].start());
        ThreadProgress progress;
        photo_thumbnail_step(source, std::uint64_t(card.size()), progress, parallel);
        QVERIFY(!source.waited_in_vain);
        QCOMPARE(QVector<int>(progress.codes.begin(), progress.codes.end()), (QVector<int>{30000, 30001, 30002, 30003, 30004}));
        for (QThread *t : progress.threads)
            QCOMPARE(t, QThread::currentThread());
        for (int k = 0; k < shapes.size(); ++k) {
            QCOMPARE(photo_list[k].length, files[k].size);
            QCOMPARE(QImage(temp_dir + QStringLiteral("ab%1.png").arg(k)).size(), fits[k]);
        }
        QCOMPARE(photo_list[4].length, length_with_whole_head(card, files[4].start()));
        QVERIFY(!QFile::exists(temp_dir + "ab4.png"));
    }

    void thumbnail_fits_120_by_90()
    {
        QImage picture(400, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(picture.save(&buffer, "JPEG"));
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("ab12.png"));

        QVERIFY(save_photo_thumbnail(reinterpret_cast<const unsigned char *>(jpeg.constData()), jpeg.size(), png));
        const QImage thumb(png);
        QCOMPARE(thumb.size(), QSize(120, 60));
        QVERIFY(!save_photo_thumbnail(reinterpret_cast<const unsigned char *>(jpeg.constData()), 0, png + "x"));
        QVERIFY(!QFile::exists(png + "x"));
    }
};

QTEST_GUILESS_MAIN(TestPhotos)
#include "test_photos.moc"
