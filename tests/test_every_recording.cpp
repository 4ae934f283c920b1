// Every recording on cards as cameras and file systems leave them: a camera
// that writes no marker photos (main recording and proxy interleaved, a
// plain thumbnail beside each), the last recording with no marker after
// it, more than nine recordings between two markers, and a FAT32 card where
// a longer recording filled a deleted one's hole and went on after the next
// recording. Each recording whose bytes are on the card comes back with
// every video sample at its offset and decodes without an error.
#include "card_builder/camera_session.h"
#include "card_builder/card_writer.h"
#include "card_builder/fat32_card.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"

#include <QtTest>

using namespace card;

class TestEveryRecording : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

    // Scans and recovers the card; then checks each original against the
    // recovered file that holds most of its samples.
    void check_recovered(const QString &image, const std::vector<Content> &originals, const QStringList &gone,
                         int videos)
    {
        scan_image(image);
        QCOMPARE(int(video_total), videos);
        const QString out = m_dir.filePath("out");
        QDir(out).removeRecursively();
        recover_into(out);

        QStringList files;
        for (int n = 0; n < videos; ++n)
            files << out + "/" + QString::number(n) + ".mp4";
        int checked = 0;
        for (const Content &original : originals) {
            if (!original.name.endsWith(".MP4") && !original.name.endsWith(".LRV"))
                continue;
            if (gone.contains(original.name))
                continue;
            const QByteArray bytes = original.path.isEmpty() ? original.data : read_file(original.path);
            SampleMatch best;
            QString best_file;
            for (const QString &f : files) {
                const SampleMatch m = compare_samples(bytes, read_file(f));
                if (m.exact > best.exact) {
                    best = m;
                    best_file = f;
                }
            }
            QVERIFY2(best.samples > 20 && best.exact == best.samples,
                     qPrintable(QString("%1: %2 of %3 samples").arg(original.name).arg(best.exact).arg(best.samples)));
            const QString errors = decode_errors(best_file);
            QVERIFY2(errors.isEmpty(), qPrintable(original.name + ": " + errors.left(400)));
            ++checked;
        }
        QVERIFY(checked > 0);
    }

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

    void camera_sessions_data()
    {
        QTest::addColumn<int>("recordings");
        QTest::addColumn<int>("markers");
        QTest::addColumn<bool>("keep_sei");
        QTest::newRow("no marker photos") << 3 << int(SessionMarkers::None) << false;
        QTest::newRow("no marker photos, clips as the encoder wrote them") << 2 << int(SessionMarkers::None) << true;
        QTest::newRow("no marker after the last recording") << 2 << int(SessionMarkers::BeforeEach) << false;
        QTest::newRow("ten starts between two markers") << 5 << int(SessionMarkers::AroundAll) << false;
    }

    void camera_sessions()
    {
        QFETCH(int, recordings);
        QFETCH(int, markers);
        QFETCH(bool, keep_sei);
        SessionOptions options;
        options.recordings = recordings;
        options.markers = SessionMarkers(markers);
        options.main.keep_sei = keep_sei;
        options.proxy.keep_sei = keep_sei;
        Layout layout;
        QString why;
        QVERIFY2(camera_session_layout(options, m_cache, &layout, &why), qPrintable(why));
        const QString image = m_dir.filePath("session.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));
        std::vector<Content> originals;
        for (const Placement &p : layout.placements) {
            originals.push_back(p.file);
            if (p.kind == Placement::Interleaved)
                originals.push_back(p.second);
        }
        check_recovered(image, originals, {}, 2 * recordings);
        QFile::remove(image);
    }

    // Clip D fills deleted clip B's hole and goes on after clip C: D comes
    // back whole, with the moov box from its second piece; B's bytes are
    // gone.
    void a_hole_filled_on_fat32()
    {
        QString why;
        if (!mtools_available(true, &why))
            QSKIP(qPrintable("mtools cannot write the card: " + why));
        const QString image = m_dir.filePath("fat32.img");
        const Fat32Card built = fat32_card(Fat32Options(), image, m_cache);
        QVERIFY2(built.ok, qPrintable(built.error));
        check_recovered(image, built.files, built.deleted, 3);
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestEveryRecording)
#include "test_every_recording.moc"
