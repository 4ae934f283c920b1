// The recovery thread on cards built from ffmpeg-encoded clips: the order and
// numbering of the files, full rebuilds, photos, repeat runs; and the drive
// copy into an image file.
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "drives/drive_table.h"
#include "image/image_copy.h"
#include "rebuild/chunk_table.h"
#include "recover/plan_writer.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"
#include "support/chunk_compare.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QCryptographicHash>
#include <QtTest>
#include <unistd.h>

using namespace card;

namespace {

struct Recovery {
    QVector<int> counts;
    QStringList files;
    QStringList verdicts;  // "0.mp4 partial 40/45", "0.jpg intact"
    int failed = -1;
    int finished = 0;
};

Recovery recover_watching(const QString &folder)
{
    save_dir = folder;
    QDir().mkpath(folder);
    Recovery r;
    savefile_new thread;
    QObject::connect(&thread, &savefile_new::UpdateSignal_rec, &thread, [&](int n) { r.counts << n; },
                     Qt::DirectConnection);
    QObject::connect(&thread, &savefile_new::fileJudged, &thread,
                     [&](const QString &name, const QString &verdict, int located, int chunks) {
                         r.verdicts << QFileInfo(name).fileName() + " " + verdict
                                               + (chunks < 0 ? QString() : QString(" %1/%2").arg(located).arg(chunks));
                     },
                     Qt::DirectConnection);
    QObject::connect(&thread, &savefile_new::fileWritten, &thread,
                     [&](const QString &name, bool complete, const QString &) {
                         r.files << QFileInfo(name).fileName() + (complete ? "" : " (incomplete)");
                     },
                     Qt::DirectConnection);
    QObject::connect(&thread, &savefile_new::recoveryFinished, &thread,
                     [&](int failed, const QString &, qulonglong) { r.failed = failed; ++r.finished; },
                     Qt::DirectConnection);
    thread.start();
    thread.wait();
    return r;
}

// "n.mp4 intact N/N" for a recording whose index lists N chunks.
QString intact(int n, const QString &clip)
{
    const int chunks = chunks_at(read_file(clip), 0, 0).chunks;
    return QString("%1.mp4 intact %2/%2").arg(n).arg(chunks);
}

QByteArray small_jpeg(PhotoHeader header, int pattern)
{
    return with_photo_header(encode_test_jpeg(96, 64, QColor::fromHsv(pattern * 40 % 360, 200, 200)), header);
}

}  // namespace

class TestRecovery : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QStringList m_clips;  // in the order the recovery must number them
    QString m_long;       // long enough to lose a cluster from its middle

private slots:
    void initTestCase()
    {
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
        const QString cache = m_dir.filePath("clips");
        for (int i = 0; i < 5; ++i) {
            ClipOptions clip;
            clip.seconds = 1.5;
            clip.pattern = i;
            clip.quicktime = i >= 3;
            const QString path = encode_clip(clip, cache, &why);
            QVERIFY2(!path.isEmpty(), qPrintable(why));
            m_clips << path;
        }
        ClipOptions clip;
        clip.seconds = 4;
        clip.pattern = 5;
        m_long = encode_clip(clip, cache, &why);
        QVERIFY2(!m_long.isEmpty(), qPrintable(why));
    }

    void files_come_in_group_order()
    {
        // The QuickTime recordings first on the card, then a kind-2 group,
        // then a kind-1 group: the numbering follows the kinds, not the card.
        // The last QuickTime start, which opens no QuickTime group, comes last.
        Layout layout;
        layout.contiguous(Content::file(m_clips[3], "Q1.MOV"), 1 * MIB)
                .contiguous(Content::file(m_clips[4], "Q2.MOV"))
                .contiguous(Content::bytes("Q3.MOV", QByteArray("\0\0\0\x14" "ftypqt  ", 12) + QByteArray(8, '\0')))
                .contiguous(Content::bytes("M1.JPG", small_jpeg(PhotoHeader::Jfif, 1)), NEXT_FREE, 64 * KIB)
                .contiguous(Content::file(m_clips[1], "A.MP4"))
                .contiguous(Content::file(m_clips[2], "B.MP4"))
                .contiguous(Content::bytes("M2.JPG", small_jpeg(PhotoHeader::Exif2044, 2)))
                .contiguous(Content::file(m_clips[0], "C.MP4"))
                .contiguous(Content::bytes("M3.JPG", small_jpeg(PhotoHeader::Exif14831, 3)))
                .contiguous(Content::bytes("P.JPG", small_jpeg(PhotoHeader::Plain, 4)));
        const QString card = m_dir.filePath("groups.img");
        const CardResult built = build_card(layout, card);
        QVERIFY2(built.ok, qPrintable(built.error));
        scan_image(card);
        QCOMPARE(video_total, 6u);

        const QString out = m_dir.filePath("out1");
        const Recovery r = recover_watching(out);
        QCOMPARE(r.counts, (QVector<int>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(r.files, (QStringList{"0.mp4", "1.mp4", "2.mp4", "3.mp4", "4.mp4", "5.mp4", "0.jpg", "1.jpg", "2.jpg",
                                       "3.jpg"}));
        QCOMPARE(r.failed, 0);
        QCOMPARE(r.finished, 1);
        // Every recording came back whole and checks out; the QuickTime
        // start without a movie box gives a file with nothing of a recording.
        QCOMPARE(r.verdicts, (QStringList{intact(0, m_clips[0]), intact(1, m_clips[1]), intact(2, m_clips[2]),
                                          intact(3, m_clips[3]), intact(4, m_clips[4]), "5.mp4 empty 0/0",
                                          "0.jpg intact", "1.jpg intact", "2.jpg intact", "3.jpg intact"}));

        // File n holds recording n's chunks, all but the last, where they
        // were (ffmpeg's first chunk may hold two frames, which no single
        // found frame can stand for; a camera's never does).
        const QStringList order{m_clips[0], m_clips[1], m_clips[2], m_clips[3], m_clips[4]};
        for (int n = 0; n < 5; ++n) {
            const ChunkMatch m = compare_chunks(read_file(order[n]), read_file(out + "/" + QString::number(n) + ".mp4"));
            QVERIFY(m.single_frame >= 40);
            QVERIFY2(m.exact == m.single_frame, qPrintable(QString("file %1: %2 of %3").arg(n).arg(m.exact).arg(m.single_frame)));
        }
        // A photo is its bytes up to the chosen end marker.
        const QByteArray plain = small_jpeg(PhotoHeader::Plain, 4);
        QCOMPARE(read_file(out + "/3.jpg"), plain);

        // Recovering again into the same folder gives the same files.
        QCryptographicHash first_run(QCryptographicHash::Sha256), second_run(QCryptographicHash::Sha256);
        for (const QString &name : QDir(out).entryList(QDir::Files, QDir::Name))
            first_run.addData(read_file(out + "/" + name));
        recover_watching(out);
        for (const QString &name : QDir(out).entryList(QDir::Files, QDir::Name))
            second_run.addData(read_file(out + "/" + name));
        QCOMPARE(second_run.result(), first_run.result());
    }

    // A recording of which one 32 KiB cluster was overwritten by noise, the
    // rest in its place or further on. The chunks that begin in the lost
    // cluster cannot come back; one that only ends in it may, when its video
    // samples lie before the noise. The file is partial and says how much.
    void a_recording_missing_a_cluster_is_partial_data()
    {
        QTest::addColumn<quint64>("moved");  // noise before the rest, beyond the lost cluster
        QTest::newRow("the rest in place") << quint64(0);
        QTest::newRow("the rest further on") << quint64(256 * KIB);
    }

    void a_recording_missing_a_cluster_is_partial()
    {
        QFETCH(quint64, moved);
        const QByteArray clip = read_file(m_long);
        const std::uint64_t lost = 3 * STEP, rest = lost + STEP;
        QVERIFY(std::uint64_t(clip.size()) > rest + 2 * STEP);
        Layout layout;
        layout.split(Content::file(m_long, "LONG.MP4"),
                     {Extent{MIB, 0, lost}, Extent{MIB + rest + moved, rest, std::uint64_t(clip.size()) - rest}});
        const QString card = m_dir.filePath(QString("cluster-lost-%1.img").arg(moved));
        const CardResult built = build_card(layout, card);
        QVERIFY2(built.ok, qPrintable(built.error));
        scan_image(card);
        QCOMPARE(video_total, 1u);

        const Recovery r = recover_watching(m_dir.filePath(QString("out-cluster-lost-%1").arg(moved)));
        QCOMPARE(r.files, QStringList{"0.mp4"});
        const QRegularExpressionMatch m = QRegularExpression(R"(^0\.mp4 partial (\d+)/(\d+)$)").match(r.verdicts.value(0));
        QVERIFY2(m.hasMatch(), qPrintable(r.verdicts.join(", ")));
        const ChunksAt at = chunks_at(clip, lost, rest);
        QVERIFY(at.starting > 0);
        QCOMPARE(m.captured(2).toInt(), at.chunks);
        const int located = m.captured(1).toInt();
        QVERIFY2(located >= at.chunks - at.touching && located <= at.chunks - at.starting,
                 qPrintable(QString("%1 located; %2 chunks, %3 begin in the lost cluster, %4 touch it")
                                    .arg(located).arg(at.chunks).arg(at.starting).arg(at.touching)));
    }

    // The writer's account of a whole recording's plan with one thing
    // amiss: no file with a chunk it did not find, or found in the wrong
    // bytes, is called intact.
    void a_plan_with_a_chunk_amiss_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("lost");  // chunks of the index not counted as located; -1: all

        QTest::newRow("none") << "" << "intact" << 0;
        QTest::newRow("one chunk filler") << "filler" << "partial" << 1;
        QTest::newRow("one chunk from the wrong bytes") << "shifted" << "partial" << 1;
        QTest::newRow("the last chunk not found") << "no tail" << "partial" << 1;
        QTest::newRow("the index cut short") << "cut" << "partial" << 0;
        QTest::newRow("no chunk found") << "all filler" << "empty" << -1;
    }

    void a_plan_with_a_chunk_amiss()
    {
        QFETCH(QString, fault);
        QFETCH(QString, verdict);
        QFETCH(int, lost);
        Layout layout;
        layout.contiguous(Content::file(m_clips[0], "A.MP4"), 1 * MIB);
        const QString card = m_dir.filePath("plan.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        QCOMPARE(video_plans.size(), std::size_t(1));
        VideoPlan plan = video_plans[0];
        QVERIFY(plan.tail && !plan.table_cut);
        const int chunks = chunks_at(read_file(m_clips[0]), 0, 0).chunks;
        QCOMPARE(int(plan.chunks.size()), chunks);

        PlannedChunk &middle = plan.chunks[plan.chunks.size() / 2];
        QVERIFY(middle.located != ChunkSource::None && !middle.skipped);
        if (fault == "filler")
            middle.located = ChunkSource::None;
        else if (fault == "shifted")
            middle.card_pos += 1;
        else if (fault == "no tail")
            plan.chunks.pop_back(), plan.tail = false;
        else if (fault == "cut")
            plan.table_cut = true;
        else if (fault == "all filler")
            for (PlannedChunk &c : plan.chunks)
                c.located = ChunkSource::None;

        save_dir = m_dir.filePath("out-plan");
        QDir().mkpath(save_dir);
        QString why;
        const std::unique_ptr<FileSource> source = FileSource::open(card, &why);
        QVERIFY2(source, qPrintable(why));
        const RebuildResult r = write_plan(*source, std::uint64_t(QFileInfo(card).size()), 0, plan, ALL_CHUNKS);
        QVERIFY2(r.written, qPrintable(r.error));
        QCOMPARE(verdict_name(r.verdict()), verdict);
        QCOMPARE(int(r.table_entries), chunks);
        QCOMPARE(int(r.located()), lost < 0 ? 0 : chunks - lost);
        QCOMPARE(int(r.filled), fault == "filler" ? 1 : fault == "all filler" ? int(plan.chunks.size()) : 0);
        QCOMPARE(int(r.unsound), fault == "shifted" ? 1 : 0);
    }

    void a_card_with_photos_only_still_gives_its_photos()
    {
        Layout layout;
        layout.contiguous(Content::bytes("P1.JPG", small_jpeg(PhotoHeader::Plain, 5)), 1 * MIB)
                .contiguous(Content::bytes("P2.JPG", small_jpeg(PhotoHeader::Plain, 6)));
        const QString card = m_dir.filePath("photos.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        QCOMPARE(video_total, 0u);
        const Recovery r = recover_watching(m_dir.filePath("out2"));
        QVERIFY(r.counts.isEmpty());
        QCOMPARE(r.files, (QStringList{"0.jpg", "1.jpg"}));
        QCOMPARE(r.finished, 1);
    }

    void failed_files_are_reported()
    {
        // A recovery folder that cannot be written: every file fails, and
        // the end notice says so.
        Layout layout;
        layout.contiguous(Content::bytes("P1.JPG", small_jpeg(PhotoHeader::Plain, 7)), 1 * MIB);
        const QString card = m_dir.filePath("one.img");
        QVERIFY(build_card(layout, card).ok);
        scan_image(card);
        save_dir = card + "/not-a-folder";
        Recovery r;
        savefile_new thread;
        QObject::connect(&thread, &savefile_new::recoveryFinished, &thread,
                         [&](int failed, const QString &, qulonglong) { r.failed = failed; }, Qt::DirectConnection);
        thread.start();
        thread.wait();
        QCOMPARE(r.failed, 1);
    }
};

class TestImageCopy : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void copy_is_byte_identical_and_progress_counts_chunks()
    {
        QByteArray data(int(2 * IMAGE_COPY_CHUNK + 12345), '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + i / 4096);
        MemorySource source(reinterpret_cast<const unsigned char *>(data.constData()), data.size());
        QVector<qulonglong> progress;
        const QString out = m_dir.filePath("copy.img");
        const CopyOutcome outcome = copy_to_image(source, data.size(), out, [&](std::uint64_t at) { progress << at; });
        QVERIFY(outcome.ok);
        QCOMPARE(outcome.unreadable, std::uint64_t(0));
        QCOMPARE(progress, (QVector<qulonglong>{IMAGE_COPY_CHUNK, 2 * IMAGE_COPY_CHUNK, qulonglong(data.size())}));
        QVERIFY(read_file(out) == data);
    }

    void unreadable_ranges_become_zeros_in_place()
    {
        QByteArray data(int(IMAGE_COPY_CHUNK + 5 * 32768), '\x5a');
        // Bad from the middle of unit 3 to the middle of unit 5.
        const std::uint64_t bad_from = 3 * 32768 + 100, bad_to = 5 * 32768 + 100;
        FailingSource source(data, {{bad_from, bad_to}});
        const QString out = m_dir.filePath("failing.img");
        const CopyOutcome outcome = copy_to_image(source, data.size(), out, nullptr);
        QVERIFY(outcome.ok);
        const QByteArray image = read_file(out);
        QCOMPARE(image.size(), data.size());
        // The units the bad range touches are zeros from where the read
        // stopped; everything else is intact.
        QByteArray expected = data;
        expected.replace(int(bad_from), int(6 * 32768 - bad_from), QByteArray(int(6 * 32768 - bad_from), '\0'));
        QVERIFY(image == expected);
        QCOMPARE(outcome.unreadable, std::uint64_t(6 * 32768 - bad_from));
    }

    void a_destination_that_cannot_be_written_is_an_error()
    {
        QByteArray data(65536, '\x01');
        MemorySource source(reinterpret_cast<const unsigned char *>(data.constData()), data.size());
        const CopyOutcome outcome = copy_to_image(source, data.size(), "/nonexistent/dir/x.img", nullptr);
        QVERIFY(!outcome.ok);
        QVERIFY(outcome.error.contains("cannot create"));
    }

    void image_of_a_loop_device()
    {
        if (getuid() != 0)
            QSKIP("attaching a loop device needs root");
        QByteArray data(3 * 1024 * 1024, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i % 251);
        const QString file = write_image(m_dir, "loop.img", data);
        QProcess losetup;
        losetup.start("losetup", {"--find", "--show", "--read-only", file});
        losetup.waitForFinished();
        const QString device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        if (losetup.exitCode() != 0 || device.isEmpty())
            QSKIP("losetup could not attach a loop device here");
        auto detach = qScopeGuard([&] { QProcess::execute("losetup", {"-d", device}); });
        QString error;
        auto source = FileSource::open(device, &error);
        QVERIFY2(source, qPrintable(error));
        const QString out = m_dir.filePath("from-loop.img");
        QVERIFY(copy_to_image(*source, data.size(), out, nullptr).ok);
        QVERIFY(read_file(out) == data);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestRecovery recovery;
    TestImageCopy copy;
    return QTest::qExec(&recovery, argc, argv) | QTest::qExec(&copy, argc, argv);
}
#include "test_recovery.moc"
