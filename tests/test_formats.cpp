// H.265 recordings as libx265 and ffmpeg write them, on cards: three
// between marker photos, one of them cut into pieces out of order, with and
// without audio, and a camera's session whose main files are H.265 and its
// proxies H.264. Every recording comes back with every video sample at its
// offset, decodes without an error and has a thumbnail from the scan.
#include "card_builder/camera_session.h"
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/mp4_track.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QImage>
#include <QSet>
#include <QtTest>

using namespace card;

namespace {

enum class CardKind { Contiguous, Pieces, Session };

// The recording of a three-recording card that is cut into pieces.
const QString CUT = QStringLiteral("GX010003.MP4");

QByteArray marker(PhotoHeader header, int pattern)
{
    return with_photo_header(encode_test_jpeg(96, 64, QColor::fromHsv(pattern * 40 % 360, 200, 200)), header);
}

// The file cut on the 32 KiB grid into four parts laid from `at` so that
// no part is followed by the next one of the file, 32 KiB of noise apart.
std::vector<Extent> out_of_order(std::uint64_t size, std::uint64_t at)
{
    std::vector<std::uint64_t> cuts{0};
    for (std::uint64_t i = 1; i < 4; ++i)
        cuts.push_back(size * i / 4 / STEP * STEP);
    cuts.push_back(size);
    std::vector<Extent> extents;
    for (int part : {1, 3, 0, 2}) {
        const std::uint64_t length = cuts[std::size_t(part) + 1] - cuts[std::size_t(part)];
        extents.push_back(Extent{at, cuts[std::size_t(part)], length});
        at = align_up(at + length) + STEP;
    }
    return extents;
}

// The NAL unit types of an H.265 sample in order, or {-1} when its 4-byte
// lengths do not run exactly to its end.
QVector<int> h265_nal_types(const QByteArray &sample)
{
    QVector<int> types;
    qint64 at = 0;
    while (sample.size() - at >= 6) {
        const auto *p = reinterpret_cast<const unsigned char *>(sample.constData() + at);
        const qint64 length = qint64(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (length < 2 || length > sample.size() - at - 4)
            return {-1};
        types << ((p[4] >> 1) & 0x3F);
        at += 4 + length;
    }
    return at == sample.size() ? types : QVector<int>{-1};
}

bool is_key_slice(int type)
{
    return type >= 16 && type <= 21;  // BLA, IDR, CRA
}

// Distinct colours on a coarse grid: a handful for a blank or grey frame,
// many for the test pattern.
int colours(const QImage &image)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            seen.insert(image.pixel(x, y));
    return seen.size();
}

}  // namespace

class TestFormats : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

    QString clip(ClipOptions o)
    {
        QString why;
        const QString path = encode_clip(o, m_cache, &why);
        if (path.isEmpty())
            qWarning("%s", qPrintable(why));
        return path;
    }

    // A card of three H.265 recordings between two marker photos, the
    // third in pieces when asked; the originals in `recordings`.
    bool three_recordings(bool pieces, bool audio, Layout *layout, std::vector<Content> *recordings)
    {
        layout->contiguous(Content::bytes("MARK0001.JPG", marker(PhotoHeader::Jfif, 1)), 1 * MIB);
        for (int i = 0; i < 3; ++i) {
            ClipOptions o;
            o.codec = ClipCodec::H265;
            o.seconds = 2 + 0.5 * i;
            o.bitrate_kbps = 1500;
            o.audio = audio;
            o.pattern = i;
            const QString path = clip(o);
            if (path.isEmpty())
                return false;
            const Content c = Content::file(path, i == 2 ? CUT : QStringLiteral("GX01000%1.MP4").arg(i + 1));
            recordings->push_back(c);
            if (pieces && i == 2)
                layout->split(c, out_of_order(std::uint64_t(QFileInfo(path).size()), 8 * MIB));
            else
                layout->contiguous(c, NEXT_FREE, 64 * KIB);
        }
        layout->contiguous(Content::bytes("MARK0002.JPG", marker(PhotoHeader::Exif2044, 2)), NEXT_FREE, 64 * KIB);
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        m_cache = m_dir.filePath("clips");
        QString why;
        if (!hevc_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the H.265 test clips: " + why));
    }

    // What the cards below are made of: x265's samples, their NAL units
    // running to each sample's end, no SEI in them, the delimiter first in
    // every sample after the first. The first one begins with its key
    // frame's slice or a delimiter (x265 writes its first delimiter with
    // its stream headers, which ffmpeg turns into the sample description).
    void clips_as_x265_writes_them_data()
    {
        QTest::addColumn<bool>("delimiters");
        QTest::addColumn<bool>("audio");
        QTest::newRow("delimiters, audio") << true << true;
        QTest::newRow("delimiters, no audio") << true << false;
        QTest::newRow("no delimiters") << false << true;
    }

    void clips_as_x265_writes_them()
    {
        QFETCH(bool, delimiters);
        QFETCH(bool, audio);
        ClipOptions o;
        o.codec = ClipCodec::H265;
        o.delimiters = delimiters;
        o.audio = audio;
        const QString path = clip(o);
        QVERIFY(!path.isEmpty());
        const QByteArray file = read_file(path);
        const Mp4Track track = read_video_track(moov_of(file));
        QCOMPARE(QByteArray(track.sample_entry), QByteArray("hvc1"));
        QCOMPARE(int(track.samples.size()), int(o.seconds * o.fps));
        const QByteArray delimiter("\0\0\0\x03\x46\x01", 6);
        for (std::size_t i = 0; i < track.samples.size(); ++i) {
            const TrackSample &s = track.samples[i];
            QVERIFY(s.offset + s.size <= std::uint64_t(file.size()));
            const QByteArray sample = file.mid(int(s.offset), int(s.size));
            const QVector<int> types = h265_nal_types(sample);
            QStringList listed;
            for (int t : types)
                listed << QString::number(t);
            const QByteArray where = QStringLiteral("sample %1: NAL types %2").arg(i).arg(listed.join(' ')).toUtf8();
            QVERIFY2(types.value(0) != -1, where.constData());
            QVERIFY2(!types.contains(39) && !types.contains(40), where.constData());
            if (!delimiters)
                QVERIFY2(!types.contains(35), where.constData());
            else if (i > 0)
                QVERIFY2(sample.startsWith(delimiter) && types.count(35) == 1, where.constData());
            if (i == 0)
                QVERIFY2(types.first() == 35 || is_key_slice(types.first()), where.constData());
        }
        QCOMPARE(decode_errors(path), QString());
    }

    void h265_cards_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("audio");
        // Without audio ffmpeg writes a short clip as one chunk. Cut into
        // pieces out of order, such a chunk does not come back, whatever
        // the codec: H.264 clips fail the same way.
        QTest::addColumn<QString>("known_gap");
        const QString one_chunk_cut = QStringLiteral("one chunk cut into pieces out of order is not followed");
        QTest::newRow("three recordings between marker photos") << int(CardKind::Contiguous) << true << QString();
        QTest::newRow("three recordings, no audio") << int(CardKind::Contiguous) << false << QString();
        QTest::newRow("one recording in pieces out of order") << int(CardKind::Pieces) << true << QString();
        QTest::newRow("one recording in pieces out of order, no audio")
            << int(CardKind::Pieces) << false << one_chunk_cut;
        QTest::newRow("camera session, H.265 main files, H.264 proxies") << int(CardKind::Session) << true << QString();
    }

    void h265_cards()
    {
        QFETCH(int, kind);
        QFETCH(bool, audio);
        QFETCH(QString, known_gap);
        Layout layout;
        std::vector<Content> recordings;
        if (CardKind(kind) == CardKind::Session) {
            SessionOptions o;
            o.recordings = 2;
            o.main.codec = ClipCodec::H265;
            o.main.seconds = o.proxy.seconds = 2;
            o.main.audio = o.proxy.audio = audio;
            QString why;
            QVERIFY2(camera_session_layout(o, m_cache, &layout, &why), qPrintable(why));
            for (const Placement &p : layout.placements)
                if (p.kind == Placement::Interleaved)
                    recordings.insert(recordings.end(), {p.file, p.second});
        } else {
            QVERIFY(three_recordings(CardKind(kind) == CardKind::Pieces, audio, &layout, &recordings));
        }
        const QString image = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));

        scan_image(image);
        QCOMPARE(int(video_total), int(recordings.size()));
        const QString out = m_dir.filePath("out");
        QDir(out).removeRecursively();
        recover_into(out);

        for (const Content &recording : recordings) {
            const QByteArray original = read_file(recording.path);
            const QByteArray entry = read_video_track(moov_of(original)).sample_entry;
            QCOMPARE(entry, QByteArray(recording.name.endsWith(".LRV") ? "avc1" : "hvc1"));
            // The recovered file that holds most of its samples.
            SampleMatch best;
            int found = -1;
            for (int n = 0; n < int(video_total); ++n) {
                const SampleMatch m = compare_samples(original, read_file(QStringLiteral("%1/%2.mp4").arg(out).arg(n)));
                if (m.exact > best.exact || found < 0) {
                    best = m;
                    found = n;
                }
            }
            const QString what = QStringLiteral("%1 (%2)").arg(recording.name, QString::fromLatin1(entry));
            const QString exact = QStringLiteral("%1: %2 of %3 samples exact").arg(what).arg(best.exact).arg(best.samples);
            if (!known_gap.isEmpty() && recording.name == CUT)
                QEXPECT_FAIL("", qPrintable(known_gap), Abort);
            QVERIFY2(best.samples >= 60 && best.exact == best.samples, qPrintable(exact));
            const QString errors = decode_errors(QStringLiteral("%1/%2.mp4").arg(out).arg(found));
            QVERIFY2(errors.isEmpty(), qPrintable(what + ": " + errors.left(400)));
            const QImage thumbnail(temp_dir + QString::number(found) + ".png");
            QVERIFY2(thumbnail.size() == QSize(120, 90) && colours(thumbnail) > 20,
                     qPrintable(QStringLiteral("%1: thumbnail %2.png").arg(what).arg(found)));
        }
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "test_formats.moc"
