// Groups of every kind on cards of real clips: which recording each file
// number gets, and how much of it comes back, as the scan and the recovery
// see them.
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "drives/drive_table.h"
#include "rebuild/region_analysis.h"
#include "recover/scan_thread.h"
#include "recover/video_rebuild.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"
#include "support/chunk_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QtTest>

using namespace card;

namespace {

Content marker(int n)
{
    return Content::bytes(QString("M%1.JPG").arg(n),
                          with_photo_header(encode_test_jpeg(64, 48, QColor::fromHsv(n * 30 % 360, 200, 200)), PhotoHeader::Jfif));
}

// Rebuilds every piece in full into `folder`, as the recovery does.
void rebuild_all(const QString &folder)
{
    QString error;
    auto source = FileSource::open(source_path(), &error);
    QVERIFY2(source, qPrintable(error));
    save_dir = folder;
    QDir().mkpath(folder);
    int n = 0;
    for (std::uint32_t g = 0; g < group_count(); ++g) {
        const VideoGroup &group = group_list[g];
        analyse_region(*source, source_size(), int(g), group.tail_pos - group.head_pos, group.head_pos);
        for (int k = 0; k < group_pieces(g); ++k, ++n)
            QVERIFY(rebuild_video(*source, source_size(), n, group.piece_pos[k], moov_buf[k], group.moov_size[k], false).written);
    }
}

ChunkMatch match(const QString &original, const QString &folder, int n)
{
    return compare_chunks(read_file(original), read_file(folder + "/" + QString::number(n) + ".mp4"));
}

}  // namespace

class TestScanGroups : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

    QString clip(double seconds, int pattern, int kbps = 0, int width = 160, int height = 120)
    {
        ClipOptions o;
        o.seconds = seconds;
        o.pattern = pattern;
        o.bitrate_kbps = kbps;
        o.width = width;
        o.height = height;
        QString why;
        const QString path = encode_clip(o, m_cache, &why);
        if (path.isEmpty())
            qWarning() << why;
        return path;
    }

private slots:
    void initTestCase()
    {
        m_cache = m_dir.filePath("clips");
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
        // The scan's ffmpeg thumbnails are not what these tests are about.
        qputenv("PATH", "/nonexistent");
    }

    void a_large_recording_loses_no_frame_at_the_analysis_chunks()
    {
        // 40 MB: its frames cross the 16 MiB chunks of the region analysis.
        const QString big = clip(17, 1, 20000, 640, 360);
        QVERIFY(QFileInfo(big).size() > 40 * 1000 * 1000);
        Layout layout;
        layout.contiguous(marker(1), MIB).contiguous(Content::file(big)).contiguous(marker(2));
        const QString card = m_dir.filePath("big.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        QCOMPARE(video_total, 1u);
        rebuild_all(m_dir.filePath("big"));
        const ChunkMatch m = match(big, m_dir.filePath("big"), 0);
        QVERIFY(m.single_frame > 400);
        QCOMPARE(m.exact, m.single_frame);
    }

    void a_recording_and_its_proxy_interleaved()
    {
        // Marker, main and proxy in 2 MiB runs, marker: one group of kind 2.
        // The main recording ends first on the card, so its moov box is the
        // first found and file 0 is the main recording.
        const QString main = clip(3.5, 2, 8000, 320, 240), proxy = clip(4, 3, 8000, 320, 240);
        Layout layout;
        layout.contiguous(marker(1), MIB)
                .interleaved(Content::file(main, "MAIN.MP4"), Content::file(proxy, "PROXY.LRV"), 2 * MIB)
                .contiguous(marker(2));
        const QString card = m_dir.filePath("proxy.img");
        const CardResult built = build_card(layout, card);
        QVERIFY2(built.ok, qPrintable(built.error));
        scan_image(card);
        QCOMPARE(group_num[1], 1u);
        QCOMPARE(video_total, 2u);
        QCOMPARE(group_list[0].piece_pos[0], built.manifest.find("MAIN.MP4")->start());
        QCOMPARE(group_list[0].piece_pos[1], built.manifest.find("PROXY.LRV")->start());
        rebuild_all(m_dir.filePath("proxy"));
        // A frame cut by a run boundary cannot be matched; all others are.
        for (const auto &[n, original] : {std::pair<int, QString>{0, main}, {1, proxy}}) {
            const ChunkMatch m = match(original, m_dir.filePath("proxy"), n);
            QVERIFY2(m.exact_share() > 0.9, qPrintable(QString("file %1: %2 of %3").arg(n).arg(m.exact).arg(m.single_frame)));
        }
    }

    void nine_recordings_between_two_markers()
    {
        Layout layout;
        layout.contiguous(marker(1), MIB);
        QStringList clips;
        for (int i = 0; i < 9; ++i) {
            clips << clip(1, 10 + i);
            layout.contiguous(Content::file(clips.last(), QString("V%1.MP4").arg(i)));
        }
        layout.contiguous(marker(2));
        const QString card = m_dir.filePath("nine.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        QCOMPARE(group_num[8], 1u);
        QCOMPARE(video_total, 9u);
        rebuild_all(m_dir.filePath("nine"));
        for (int n = 0; n < 9; ++n) {
            const ChunkMatch m = match(clips[n], m_dir.filePath("nine"), n);
            QVERIFY(m.single_frame > 20);
            QVERIFY2(m.exact == m.single_frame, qPrintable(QString("file %1").arg(n)));
        }
    }

    void recordings_without_markers_form_triples()
    {
        // Four recordings and no marker photo: triples (0, 1, 2) and (1, 2, 3).
        // A triple's stretch begins at its first recording, whose moov box is
        // the first found there, so each file holds its triple's first
        // recording under the middle one's ftyp box. The first and the last
        // recording, pieces of no triple, come back as files 2 and 3.
        Layout layout;
        QStringList clips;
        for (int i = 0; i < 4; ++i) {
            clips << clip(1, 20 + i);
            layout.contiguous(Content::file(clips.last(), QString("T%1.MP4").arg(i)), i == 0 ? MIB : NEXT_FREE);
        }
        const QString card = m_dir.filePath("triples.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        QCOMPARE(triple_num, 2u);
        QCOMPARE(single_num, 2u);
        QCOMPARE(video_total, 4u);
        rebuild_all(m_dir.filePath("triples"));
        const QStringList held{clips[0], clips[1], clips[0], clips[3]};
        for (int n = 0; n < 4; ++n) {
            const ChunkMatch m = match(held[n], m_dir.filePath("triples"), n);
            QVERIFY2(m.exact == m.single_frame && m.exact > 20, qPrintable(QString("file %1").arg(n)));
        }
    }
};

QTEST_GUILESS_MAIN(TestScanGroups)
#include "test_scan_groups.moc"
