// Recordings whose frames no access-unit delimiter leads, as x264 and x265
// write them by default: the card map holds no frame start of theirs, so
// their chunks are followed by their samples' NAL chains alone. Each card
// holds two such recordings (audio interleaved, every frame its own chunk,
// as a camera writes them) between marker photos, one contiguous and one
// cut on the 32 KiB grid into three pieces laid out of order. Every video
// sample comes back at its offset, the files decode without an error and
// the verdict is intact.
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "rebuild/video_plan.h"
#include "recover/file_facts.h"
#include "scan/scan_tables.h"
#include "support/mp4_track.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QtTest>

using namespace card;

Q_DECLARE_METATYPE(card::ClipCodec)

namespace {

QByteArray marker(PhotoHeader header, int pattern)
{
    return with_photo_header(encode_test_jpeg(96, 64, QColor::fromHsv(pattern * 50 % 360, 200, 200)), header);
}

// The file cut on the 32 KiB grid into three parts laid out of order, so
// that no part is followed by the next one of the file: from `at` the last
// part, then the middle one, `gap` bytes of noise after each (0: back to
// back, where the bytes after a part are another part of the same file);
// the first part, which holds the start, after them or, when `first` is not
// 0, there.
std::vector<Extent> three_pieces(std::uint64_t size, std::uint64_t at, std::uint64_t gap, std::uint64_t first)
{
    const std::uint64_t cuts[4] = {0, size / 3 / STEP * STEP, size * 2 / 3 / STEP * STEP, size};
    std::vector<Extent> extents;
    for (int part : {2, 1, 0}) {
        const std::uint64_t length = cuts[part + 1] - cuts[part];
        if (part == 0 && first != 0) {
            extents.push_back(Extent{first, 0, length});
            break;
        }
        extents.push_back(Extent{at, cuts[part], length});
        at = align_up(at + length) + gap;
    }
    return extents;
}

}  // namespace

class TestWithoutDelimiters : public QObject
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

    void recordings_come_back_data()
    {
        QTest::addColumn<ClipCodec>("codec");
        QTest::addColumn<quint64>("gap");
        // Where the cut recording's first piece lies; 0: after its others.
        // Before the contiguous recording, its start comes first on the card
        // and its moov box last: the stretch's order pairs them wrongly.
        QTest::addColumn<quint64>("first");
        QTest::newRow("H.264, pieces apart") << ClipCodec::H264 << quint64(STEP) << quint64(0);
        QTest::newRow("H.264, pieces back to back") << ClipCodec::H264 << quint64(0) << quint64(0);
        QTest::newRow("H.264, first piece before the other recording")
            << ClipCodec::H264 << quint64(STEP) << quint64(1 * MIB + 64 * KIB);
        QTest::newRow("H.265, pieces apart") << ClipCodec::H265 << quint64(2 * STEP) << quint64(0);
    }

    void recordings_come_back()
    {
        QFETCH(ClipCodec, codec);
        QFETCH(quint64, gap);
        QFETCH(quint64, first);
        QString why;
        if (codec == ClipCodec::H265 && !hevc_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the H.265 test clips: " + why));

        Layout layout;
        layout.contiguous(Content::bytes("MARK0001.JPG", marker(PhotoHeader::Jfif, 1)), 1 * MIB);
        std::vector<Content> recordings;
        for (int i = 0; i < 2; ++i) {
            ClipOptions o;
            o.codec = codec;
            o.delimiters = false;
            o.seconds = 2 + i;
            o.bitrate_kbps = 1500;
            o.pattern = 3 + i;
            const QString path = encode_clip(o, m_cache, &why);
            QVERIFY2(!path.isEmpty(), qPrintable(why));
            const QByteArray file = read_file(path);
            // What makes these cards: no frame start anywhere in the clip.
            QVERIFY(!file.contains(QByteArray("\0\0\0\x02\x09", 5)) && !file.contains(QByteArray("\0\0\0\x03\x46\x01", 6)));
            recordings.push_back(Content::file(path, QStringLiteral("GX01000%1.MP4").arg(i + 1)));
            if (i == 0)
                layout.contiguous(recordings.back(), 2 * MIB);
            else
                layout.split(recordings.back(), three_pieces(std::uint64_t(file.size()), 4 * MIB, gap, first));
        }
        layout.contiguous(Content::bytes("MARK0002.JPG", marker(PhotoHeader::Exif2044, 2)), NEXT_FREE, 64 * KIB);
        const QString image = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));

        scan_image(image);
        QCOMPARE(int(video_total), 2);
        QCOMPARE(int(video_plans.size()), 2);
        const QString out = m_dir.filePath("out");
        QDir(out).removeRecursively();
        recover_into(out);

        for (const Content &recording : recordings) {
            const QByteArray original = read_file(recording.path);
            SampleMatch best;
            int found = -1;
            for (int n = 0; n < 2; ++n) {
                const SampleMatch m = compare_samples(original, read_file(QStringLiteral("%1/%2.mp4").arg(out).arg(n)));
                if (found < 0 || m.exact > best.exact) {
                    best = m;
                    found = n;
                }
            }
            const QString exact =
                QStringLiteral("%1: %2 of %3 samples exact").arg(recording.name).arg(best.exact).arg(best.samples);
            QVERIFY2(best.samples >= 60 && best.exact == best.samples, qPrintable(exact));
            const QString errors = decode_errors(QStringLiteral("%1/%2.mp4").arg(out).arg(found));
            QVERIFY2(errors.isEmpty(), qPrintable(recording.name + ": " + errors.left(400)));
            const VideoFacts facts = video_facts(video_plans[std::size_t(found)]);
            QVERIFY2(facts.verdict == Verdict::Intact, qPrintable(recording.name + ": " + verdict_text(facts)));
        }
        QFile::remove(image);
    }

    // The cut recording's middle piece is gone, written over: the search for
    // it sweeps the card in vain, cluster by cluster of the gap, and the
    // piece after the gap is still found. Every sample the card holds comes
    // back; the verdict says the file is partial.
    void a_lost_piece_leaves_the_rest()
    {
        ClipOptions o;
        o.delimiters = false;
        o.seconds = 3;
        o.bitrate_kbps = 1500;
        o.pattern = 4;
        QString why;
        const QString path = encode_clip(o, m_cache, &why);
        QVERIFY2(!path.isEmpty(), qPrintable(why));
        const QByteArray original = read_file(path);
        const std::uint64_t size = std::uint64_t(original.size());
        std::vector<Extent> extents = three_pieces(size, 4 * MIB, STEP, 0);
        const std::uint64_t gap_from = size / 3 / STEP * STEP, gap_to = size * 2 / 3 / STEP * STEP;
        extents.erase(std::remove_if(extents.begin(), extents.end(),
                                     [&](const Extent &e) { return e.file_offset == gap_from; }),
                      extents.end());
        QCOMPARE(int(extents.size()), 2);

        Layout layout;
        layout.contiguous(Content::bytes("MARK0001.JPG", marker(PhotoHeader::Jfif, 1)), 1 * MIB);
        layout.split(Content::file(path, "GX010001.MP4"), extents);
        layout.contiguous(Content::bytes("MARK0002.JPG", marker(PhotoHeader::Exif2044, 2)), NEXT_FREE, 64 * KIB);
        const QString image = m_dir.filePath("lost.img");
        const CardResult built = build_card(layout, image);
        QVERIFY2(built.ok, qPrintable(built.error));

        scan_image(image);
        QCOMPARE(int(video_total), 1);
        const QString out = m_dir.filePath("lost");
        QDir(out).removeRecursively();
        recover_into(out);

        const QByteArray rebuilt = read_file(out + "/0.mp4");
        const Mp4Track track = read_video_track(moov_of(original));
        int held = 0, exact = 0;
        for (const TrackSample &t : track.samples) {
            if (t.offset + t.size > gap_from && t.offset < gap_to)
                continue;
            ++held;
            exact += rebuilt.mid(int(t.offset), int(t.size)) == original.mid(int(t.offset), int(t.size));
        }
        QVERIFY(held >= 40 && held < int(track.samples.size()));
        QCOMPARE(exact, held);
        QCOMPARE(video_facts(video_plans[0]).verdict, Verdict::Partial);
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestWithoutDelimiters)
#include "test_without_delimiters.moc"
