// Recordings whose moov box was never written: cut on a cluster boundary
// part way through their mdat, its size left at zero, as a camera leaves a
// file when its battery dies. A complete recording made with the same
// settings lies on the same card. The cut one comes back with an index made
// anew: every video sample wholly on the card at its index, no decode
// error, and its pictures decoded as the original's; the complete one stays
// exact.
#include "card_builder/card_writer.h"
#include "card_builder/cut_recording.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "rebuild/video_plan.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/mp4_track.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QImage>
#include <QProcess>
#include <QtTest>

using namespace card;

namespace {

// The hash of each decoded picture of the file's video, in output order.
QStringList decoded_pictures(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(ffmpeg_program(), {"-v", "error", "-i", path, "-map", "0:v", "-f", "framemd5", "-"});
    ffmpeg.waitForFinished(120000);
    QStringList hashes;
    for (const QByteArray &line : ffmpeg.readAllStandardOutput().split('\n'))
        if (!line.startsWith('#') && line.contains(','))
            hashes << QString::fromLatin1(line.split(',').last().trimmed());
    return hashes;
}

// The video samples of `rebuilt`, by its own index, against those of the
// original that lie wholly within its first `kept` bytes.
struct IndexMatch {
    int present = 0;
    int exact = 0;
};

IndexMatch match_at_index(const QByteArray &original, const QByteArray &rebuilt, qint64 kept)
{
    const Mp4Track before = read_video_track(moov_of(original));
    const Mp4Track after = read_video_track(moov_of(rebuilt));
    IndexMatch m;
    for (std::size_t i = 0; i < before.samples.size(); ++i) {
        const TrackSample &s = before.samples[i];
        if (qint64(s.offset + s.size) > kept)
            continue;
        ++m.present;
        if (i < after.samples.size() && after.samples[i].size == s.size
            && rebuilt.mid(int(after.samples[i].offset), int(s.size)) == original.mid(int(s.offset), int(s.size)))
            ++m.exact;
    }
    return m;
}

}  // namespace

class TestLostIndex : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        m_cache = m_dir.filePath("clips");
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
    }

    void cut_recording_comes_back_data()
    {
        QTest::addColumn<bool>("h265");
        QTest::addColumn<bool>("markers");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<bool>("keep_sei");
        QTest::newRow("H.264 with B-frames, alone") << false << false << 0.7 << false;
        QTest::newRow("H.264, between marker photos") << false << true << 0.5 << false;
        QTest::newRow("H.264 as x264 writes it, its SEI first") << false << false << 0.6 << true;
        QTest::newRow("H.265 with B-frames, alone") << true << false << 0.7 << false;
    }

    void cut_recording_comes_back()
    {
        QFETCH(bool, h265);
        QFETCH(bool, markers);
        QFETCH(double, fraction);
        QFETCH(bool, keep_sei);
        QString why;
        if (h265 && !hevc_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode H.265: " + why));
        ClipOptions clip;
        clip.codec = h265 ? ClipCodec::H265 : ClipCodec::H264;
        clip.seconds = 4;
        clip.keep_sei = keep_sei;
        ClipOptions sibling_clip = clip;
        sibling_clip.pattern = 3;
        const QString cut_path = encode_clip(clip, m_cache, &why);
        QVERIFY2(!cut_path.isEmpty(), qPrintable(why));
        const QString sibling_path = encode_clip(sibling_clip, m_cache, &why);
        QVERIFY2(!sibling_path.isEmpty(), qPrintable(why));
        const QByteArray original = read_file(cut_path);
        const QByteArray sibling = read_file(sibling_path);
        const QByteArray cut = cut_recording(original, fraction);
        QVERIFY(!cut.isEmpty());

        auto marker = [](int n) {
            return Content::bytes(QString("MARK%1.JPG").arg(n),
                                  with_photo_header(encode_test_jpeg(64, 48, QColor::fromHsv(n * 50, 200, 200)),
                                                    PhotoHeader::Jfif));
        };
        Layout layout;
        if (markers)
            layout.contiguous(marker(1), MIB);
        layout.contiguous(Content::bytes("CUT.MP4", cut), markers ? NEXT_FREE : MIB, STEP);
        if (markers)
            layout.contiguous(marker(2), NEXT_FREE, STEP);
        layout.contiguous(Content::file(sibling_path, "WHOLE.MP4"), NEXT_FREE, 4 * STEP);
        if (markers)
            layout.contiguous(marker(3), NEXT_FREE, STEP);
        const QString image = m_dir.filePath("lost.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));

        scan_image(image);
        QCOMPARE(int(video_total), 2);
        int rebuilt_n = -1;
        for (std::size_t n = 0; n < video_plans.size(); ++n)
            if (video_plans[n].index == IndexOrigin::Rebuilt)
                rebuilt_n = int(n);
        QVERIFY2(rebuilt_n >= 0, "no plan with a rebuilt index");
        // The scan's work copy makes a thumbnail, as any recording's does.
        const QImage thumbnail(temp_dir + QString::number(rebuilt_n) + ".png");
        QVERIFY2(thumbnail.size() == QSize(120, 90) && thumbnail.pixel(60, 45) != thumbnail.pixel(0, 0),
                 "no thumbnail of the work copy");
        const QString out = m_dir.filePath("out");
        QDir(out).removeRecursively();
        recover_into(out);

        const QString rebuilt_path = out + QString("/%1.mp4").arg(rebuilt_n);
        const QByteArray rebuilt = read_file(rebuilt_path);
        const IndexMatch m = match_at_index(original, rebuilt, cut.size());
        QVERIFY2(m.present > 20 && m.exact * 100 >= m.present * 97,
                 qPrintable(QString("%1 of %2 samples wholly on the card exact").arg(m.exact).arg(m.present)));
        const QString errors = decode_errors(rebuilt_path);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.left(400)));

        // The pictures decode as the original's, but for the last few
        // before the cut (frames that refer to pictures beyond it).
        const QStringList before = decoded_pictures(cut_path), after = decoded_pictures(rebuilt_path);
        QVERIFY2(after.size() + 8 >= m.present && after.size() <= before.size(),
                 qPrintable(QString("%1 pictures of %2 present").arg(after.size()).arg(m.present)));
        const int compared = after.size() - 4;
        QCOMPARE(after.mid(0, compared), before.mid(0, compared));

        // The complete recording beside it stays exact.
        const int whole_n = 1 - rebuilt_n;
        const SampleMatch whole = compare_samples(sibling, read_file(out + QString("/%1.mp4").arg(whole_n)));
        QVERIFY(whole.samples > 20);
        QCOMPARE(whole.exact, whole.samples);
        QFile::remove(image);
    }

    // With no recording of the same settings on the card, the samples come
    // back as a raw stream: each NAL unit behind a start code, in order, the
    // last sample the cut may have left incomplete dropped.
    void without_a_sibling_a_raw_stream()
    {
        QString why;
        ClipOptions clip;
        clip.seconds = 3;
        const QString path = encode_clip(clip, m_cache, &why);
        QVERIFY2(!path.isEmpty(), qPrintable(why));
        const QByteArray original = read_file(path);
        const QByteArray cut = cut_recording(original, 0.6);
        Layout layout;
        layout.contiguous(Content::bytes("CUT.MP4", cut), MIB);
        const QString image = m_dir.filePath("alone.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));

        scan_image(image);
        QCOMPARE(int(video_plans.size()), 1);
        QCOMPARE(int(video_plans[0].index), int(IndexOrigin::None));
        const QString out = m_dir.filePath("raw");
        QDir(out).removeRecursively();
        recover_into(out);
        QVERIFY(!QFile::exists(out + "/0.mp4"));
        const QByteArray raw = read_file(out + "/0.h264");

        // The original's samples wholly on the card, as the stream should
        // hold them.
        QByteArray expected;
        int present = 0, held = 0;
        qint64 held_bytes = 0;
        for (const TrackSample &t : read_video_track(moov_of(original)).samples) {
            if (qint64(t.offset + t.size) > cut.size())
                break;
            ++present;
            for (qint64 p = 0; p + 4 <= t.size;) {
                const QByteArray length = original.mid(int(t.offset + p), 4);
                const auto *b = reinterpret_cast<const uchar *>(length.constData());
                const qint64 n = qint64(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
                expected += QByteArray("\0\0\0\1", 4) + original.mid(int(t.offset + p + 4), int(n));
                p += 4 + n;
            }
            if (raw.startsWith(expected)) {
                held = present;
                held_bytes = expected.size();
            }
        }
        QVERIFY2(present > 20 && held >= present - 1,
                 qPrintable(QString("%1 of %2 samples in the stream").arg(held).arg(present)));
        QCOMPARE(qint64(raw.size()), held_bytes);
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestLostIndex)
#include "test_lost_index.moc"
