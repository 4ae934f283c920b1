// Recordings laid on a card as a camera and a file system leave them, found
// by the scan and rebuilt by the recovery: contiguous ones come back byte for
// byte, fragmented ones with every video sample, both decode without error,
// the work copies follow the same rules, and no card gives back fewer
// samples than the rebuild's earlier rules did.
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "drives/drive_table.h"
#include "recover/scan_thread.h"
#include "recover/video_rebuild.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QtTest>
#include <vector>

using namespace card;

namespace {

QByteArray marker(PhotoHeader header, int pattern)
{
    return with_photo_header(encode_test_jpeg(96, 64, QColor::fromHsv(pattern * 40 % 360, 200, 200)), header);
}

// The file cut at 32 KiB boundaries into `pieces` parts of about equal
// size, laid from `at` in an order where no part is followed by the next
// one of the file, with `gap` bytes of noise between parts.
std::vector<Extent> fragments(std::uint64_t size, int pieces, std::uint64_t at, std::uint64_t gap)
{
    static const std::vector<std::vector<int>> orders = {{2, 1, 0}, {1, 3, 0, 2}, {3, 0, 4, 2, 1}};
    const std::vector<int> &order = orders[std::size_t(pieces - 3)];
    std::vector<std::uint64_t> cuts{0};
    for (int i = 1; i < pieces; ++i)
        cuts.push_back(size * std::uint64_t(i) / std::uint64_t(pieces) / STEP * STEP);
    cuts.push_back(size);
    std::vector<Extent> extents;
    for (int part : order) {
        const std::uint64_t length = cuts[std::size_t(part) + 1] - cuts[std::size_t(part)];
        extents.push_back(Extent{at, cuts[std::size_t(part)], length});
        at = align_up(at + length) + gap;
    }
    return extents;
}

}  // namespace

class TestExactRebuild : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;
    QString m_samples;

    // A recording by name: a sample from the camera or a clip from ffmpeg.
    QString recording(const QString &name)
    {
        if (name.startsWith("sample:")) {
            const QString path = m_samples + "/" + name.mid(7);
            return QFile::exists(path) ? path : QString();
        }
        ClipOptions o;
        o.seconds = 3;
        o.bitrate_kbps = 2000;
        o.fps = name == "clip60" ? 60 : 30;
        o.audio = name != "clip-silent";
        // As the encoder writes it: the first sample begins with x264's SEI.
        o.keep_sei = name == "clip30-sei";
        // The moov box first, as a "fast start" export writes it.
        o.moov_first = name == "clip30-moov-first";
        QString why;
        return encode_clip(o, m_cache, &why);
    }

    // Scans the card, recovers it, and checks each recovered video against
    // the recording whose moov box it carries: at least as many samples
    // exact as the earlier rules gave, none of theirs lost.
    void check_nothing_lost(const QString &image, const QStringList &originals)
    {
        scan_image(image);
        QVERIFY(video_total > 0);
        const QByteArray card = read_file(image);
        // The stretch and piece of each video, before the recovery runs.
        struct Piece {
            quint64 P, L, Q;
        };
        std::vector<Piece> pieces;
        for (std::uint32_t g = 0; pieces.size() < video_total && g < group_count(); ++g) {
            const VideoGroup &group = group_list[g];
            for (int k = 0; k < MAX_KIND && group.piece_pos[k] != 0 && pieces.size() < video_total; ++k)
                pieces.push_back(Piece{group.head_pos, group.tail_pos - group.head_pos, group.piece_pos[k]});
        }
        const QString out = m_dir.filePath("out-" + QFileInfo(image).baseName());
        recover_into(out);
        int compared = 0;
        for (std::size_t n = 0; n < pieces.size(); ++n) {
            const QByteArray rebuilt = read_file(out + "/" + QString::number(n) + ".mp4");
            const QByteArray moov = moov_of(rebuilt);
            for (const QString &path : originals) {
                const QByteArray original = read_file(path);
                if (moov.isEmpty() || moov_of(original) != moov)
                    continue;
                const QByteArray earlier = earlier_rebuild(card, pieces[n].P, pieces[n].L, pieces[n].Q, moov);
                const SampleMatch before = compare_samples(original, earlier), now = compare_samples(original, rebuilt);
                QVERIFY2(now.exact >= before.exact && samples_lost(original, earlier, rebuilt).isEmpty(),
                         qPrintable(QString("video %1: %2 samples exact, the earlier rules %3; lost: %4")
                                        .arg(n).arg(now.exact).arg(before.exact)
                                        .arg(samples_lost(original, earlier, rebuilt))));
                ++compared;
            }
        }
        QVERIFY(compared > 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        m_cache = m_dir.filePath("clips");
        m_samples = qEnvironmentVariable("TESSARO_SAMPLES");
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
    }

    void recordings_come_back_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pieces");  // 0: contiguous
        QTest::addColumn<int>("gap");     // noise between the pieces; negative: another recording's bytes
        for (const char *name :
             {"sample:gopro-karma.mp4", "sample:gopro-max-heromode.mp4", "clip30", "clip60", "clip30-sei",
              "clip30-moov-first"}) {
            QTest::newRow(qPrintable(QString("%1 contiguous").arg(name))) << QString(name) << 0 << 0;
            QTest::newRow(qPrintable(QString("%1 in 3 pieces").arg(name))) << QString(name) << 3 << 0;
            QTest::newRow(qPrintable(QString("%1 in 4 pieces, noise between").arg(name))) << QString(name) << 4 << 65536;
            QTest::newRow(qPrintable(QString("%1 in 5 pieces").arg(name))) << QString(name) << 5 << 0;
        }
        // Between the pieces another recording's bytes, coded data like its
        // own: a key frame cut twice over can only be told by decoding it.
        QTest::newRow("sample:gopro-karma.mp4 in 3 pieces, other video between")
            << QString("sample:gopro-karma.mp4") << 3 << -65536;
    }

    // Between two marker photos: contiguous, the recording comes back as it
    // was; in pieces, every video sample, the ones the cuts split included.
    // Either way ffmpeg finds nothing wrong, the work copy (these are under
    // 401 chunks) is the same file, and nothing the earlier rules gave back
    // is lost.
    void recordings_come_back()
    {
        QFETCH(QString, name);
        QFETCH(int, pieces);
        QFETCH(int, gap);
        const QString path = recording(name);
        if (path.isEmpty() && name.startsWith("sample:"))
            QSKIP("the sample recordings are not there (TESSARO_SAMPLES)");
        QVERIFY(!path.isEmpty());
        const QByteArray original = read_file(path);

        Layout layout;
        layout.contiguous(Content::bytes("M1.JPG", marker(PhotoHeader::Jfif, 1)), 1 * MIB);
        const std::uint64_t at = 1 * MIB + 64 * KIB;
        if (pieces == 0)
            layout.contiguous(Content::file(path, "GX010001.MP4"), at);
        else
            layout.split(Content::file(path, "GX010001.MP4"), fragments(std::uint64_t(original.size()), pieces, at,
                                                                       std::uint64_t(std::abs(gap))));
        layout.contiguous(Content::bytes("M2.JPG", marker(PhotoHeader::Exif2044, 2)), NEXT_FREE, 64 * KIB);
        const QString image = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));
        if (gap < 0) {
            // Every byte around the pieces from the other camera's recording.
            const QByteArray other = read_file(recording("sample:gopro-max-heromode.mp4"));
            QVERIFY(!other.isEmpty());
            QByteArray card = read_file(image);
            std::vector<bool> used(std::size_t(card.size()), false);
            qint64 last = 0;
            for (const Extent &e : fragments(std::uint64_t(original.size()), pieces, at, std::uint64_t(-gap))) {
                std::fill(used.begin() + qint64(e.card_pos), used.begin() + qint64(e.card_pos + e.length), true);
                last = std::max(last, qint64(e.card_pos + e.length));
            }
            for (qint64 i = qint64(at); i < last + 65536; ++i)
                if (!used[std::size_t(i)])
                    card[int(i)] = other[int(i % (other.size() / 2) + other.size() / 4)];
            QFile f(image);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(card);
        }

        check_nothing_lost(image, {path});
        QCOMPARE(video_total, 1u);
        const QString file = save_dir + "/0.mp4";
        const QByteArray rebuilt = read_file(file);
        const SampleMatch m = compare_samples(original, rebuilt);
        QVERIFY(m.samples > 80);
        QVERIFY2(m.exact == m.samples, qPrintable(QString("%1 of %2 samples exact, not: %3")
                                                      .arg(m.exact).arg(m.samples)
                                                      .arg(samples_lost(original, original, rebuilt))));
        if (pieces == 0)
            QVERIFY2(rebuilt == original, "not the recording byte for byte");
        const QString errors = decode_errors(file);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.left(600)));
        QVERIFY2(read_file(temp_dir + "0.mp4") == rebuilt, "the work copy differs from the recovered file");
        QFile::remove(image);
    }

    // The work copy holds the first 401 chunks, the last of them whole, and
    // the moov box right after them.
    void work_copy_of_a_long_recording()
    {
        ClipOptions o;
        o.seconds = 15;
        o.width = 160;
        o.height = 120;
        o.bitrate_kbps = 300;
        QString why;
        const QString path = encode_clip(o, m_cache, &why);
        QVERIFY2(!path.isEmpty(), qPrintable(why));
        const QByteArray original = read_file(path);
        Layout layout;
        layout.contiguous(Content::bytes("M1.JPG", marker(PhotoHeader::Jfif, 3)), 1 * MIB)
                .split(Content::file(path, "LONG.MP4"), fragments(std::uint64_t(original.size()), 3, 2 * MIB, 0))
                .contiguous(Content::bytes("M2.JPG", marker(PhotoHeader::Exif14831, 4)), NEXT_FREE, 64 * KIB);
        const QString image = m_dir.filePath("long.img");
        QVERIFY(build_card(layout, image).ok);
        scan_image(image);
        QCOMPARE(video_total, 1u);
        const QByteArray work = read_file(temp_dir + "0.mp4");
        const SampleMatch m = compare_samples(original, work, int(SHORT_REBUILD_CHUNKS));
        QVERIFY(m.samples >= int(SHORT_REBUILD_CHUNKS));
        QCOMPARE(m.exact, m.samples);
        QCOMPARE(moov_of(work), moov_of(original));
        // The moov box names chunks past the end of the work copy, where it
        // stands itself (ffmpeg, reading ahead, may say so); the frames up to
        // there decode clean.
        const QString errors = decode_errors(temp_dir + "0.mp4", {"-an", "-frames:v", "400"});
        QVERIFY2(!errors.contains("error while decoding") && !errors.contains("concealing"), qPrintable(errors.left(600)));
        QFile::remove(image);
    }

    // The other kinds of card the test suite builds: several clips in a
    // group, a clip and its proxy interleaved in 2 MiB runs, QuickTime,
    // moov first, frames merged into large chunks (no audio), the demo card.
    void earlier_rules_lose_nothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("three clips, one split") << 0;
        QTest::newRow("main and proxy interleaved") << 1;
        QTest::newRow("QuickTime, moov first, no audio") << 2;
        QTest::newRow("demo card") << 3;
    }

    void earlier_rules_lose_nothing()
    {
        QFETCH(int, kind);
        auto clip = [&](int pattern, auto &&edit) {
            ClipOptions o;
            o.seconds = 2;
            o.pattern = pattern;
            edit(o);
            QString why;
            const QString p = encode_clip(o, m_cache, &why);
            if (p.isEmpty())
                qWarning() << why;
            return p;
        };
        auto plain = [](ClipOptions &) {};
        Layout layout;
        QStringList originals;
        layout.contiguous(Content::bytes("M1.JPG", marker(PhotoHeader::Jfif, 5)), 1 * MIB);
        if (kind == 0) {
            originals << clip(1, plain) << clip(2, [](ClipOptions &o) { o.fps = 60; })
                      << clip(3, [](ClipOptions &o) { o.bitrate_kbps = 3000; });
            layout.contiguous(Content::file(originals[0], "A.MP4")).contiguous(Content::file(originals[1], "B.MP4"));
            const std::uint64_t size = std::uint64_t(QFileInfo(originals[2]).size());
            layout.split(Content::file(originals[2], "C.MP4"), fragments(size, 4, 16 * MIB, 32768));
        } else if (kind == 1) {
            originals << clip(4, [](ClipOptions &o) { o.seconds = 6; o.bitrate_kbps = 4000; })
                      << clip(5, [](ClipOptions &o) { o.seconds = 6; o.width = 160; o.height = 120; });
            layout.interleaved(Content::file(originals[0], "MAIN.MP4"), Content::file(originals[1], "PROXY.LRV"),
                               2 * MIB, NEXT_FREE);
        } else if (kind == 2) {
            originals << clip(6, [](ClipOptions &o) { o.quicktime = true; })
                      << clip(7, [](ClipOptions &o) { o.moov_first = true; })
                      << clip(8, [](ClipOptions &o) { o.audio = false; });
            layout.contiguous(Content::file(originals[1], "F.MP4"))
                    .contiguous(Content::file(originals[2], "S.MP4"))
                    .contiguous(Content::bytes("M2.JPG", marker(PhotoHeader::Exif2044, 6)), NEXT_FREE, 64 * KIB)
                    .contiguous(Content::file(originals[0], "Q.MOV"));
        } else {
            QString why;
            layout = Layout();
            QVERIFY2(demo_layout(m_cache, &layout, &why), qPrintable(why));
            for (const Placement &p : layout.placements)
                if (p.file.name.endsWith(".MP4", Qt::CaseInsensitive) && !p.file.path.isEmpty())
                    originals << p.file.path;
        }
        for (const QString &o : originals)
            QVERIFY(!o.isEmpty());
        if (kind != 3)
            layout.contiguous(Content::bytes("M3.JPG", marker(PhotoHeader::Exif14831, 7)), NEXT_FREE, 64 * KIB);
        const QString image = m_dir.filePath("kinds.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));
        check_nothing_lost(image, originals);
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestExactRebuild)
#include "test_exact_rebuild.moc"
