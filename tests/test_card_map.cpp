// The card map that the reading pass builds stands in for reading each
// group's stretch again: on cards as cameras and file systems leave them,
// the frames, tails and moov boxes a group gets from the map of the whole
// card are those that reading its stretch alone gives, and so are the files
// rebuilt from them.
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "drives/drive_table.h"
#include "rebuild/frame_index.h"
#include "rebuild/region_analysis.h"
#include "rebuild/video_plan.h"
#include "recover/video_rebuild.h"
#include "scan/card_map.h"
#include "scan/chunk_rule.h"
#include "scan/grouping.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QtTest>
#include <cstring>
#include <vector>

using namespace card;

namespace {

// What an analysis leaves for the rebuilds of a group.
struct Taken {
    RegionReport report;
    std::vector<FrameNode> frames;
    std::vector<std::pair<FrameNode, std::uint64_t>> tails;
    bool has_last = false;
    FrameNode last{0, 0};
    VideoGroup group{};
    std::vector<QByteArray> moovs;

    static Taken now(const RegionReport &r, int g)
    {
        Taken t;
        t.report = r;
        stretch_frames(::VideoCodec::H264).for_each([&](const FrameNode &f) { t.frames.push_back(f); });
        stretch_frames(::VideoCodec::H264).for_each_tail([&](const FrameNode &f, std::uint64_t size) { t.tails.push_back({f, size}); });
        if (const FrameNode *l = stretch_frames(::VideoCodec::H264).last()) {
            t.has_last = true;
            t.last = *l;
        }
        t.group = group_list[std::size_t(g)];
        for (int k = 0; k < MOOV_SLOTS; ++k)
            t.moovs.push_back(QByteArray(reinterpret_cast<const char *>(moov_buf[k]), int(t.group.moov_size[k])));
        return t;
    }

    // What differs from `o`, or empty.
    QString differences(const Taken &o) const
    {
        QStringList d;
        auto pairs = [](const std::vector<FrameNode> &v) {
            QStringList s;
            for (const FrameNode &f : v)
                s << QString("%1+%2").arg(f.position).arg(f.length);
            return s.join(' ');
        };
        if (pairs(frames) != pairs(o.frames))
            d << QString("frames %1 / %2").arg(frames.size()).arg(o.frames.size());
        if (tails.size() != o.tails.size())
            d << "tails";
        for (std::size_t i = 0; i < tails.size() && i < o.tails.size(); ++i)
            if (tails[i].first.position != o.tails[i].first.position || tails[i].first.length != o.tails[i].first.length
                || tails[i].second != o.tails[i].second)
                d << QString("tail %1").arg(i);
        if (has_last != o.has_last || last.position != o.last.position || last.length != o.last.length)
            d << QString("last %1+%2 / %3+%4").arg(last.position).arg(last.length).arg(o.last.position).arg(o.last.length);
        if (std::memcmp(group.moov_pos, o.group.moov_pos, sizeof group.moov_pos) != 0
            || std::memcmp(group.moov_size, o.group.moov_size, sizeof group.moov_size) != 0)
            d << "moov pairs";
        if (moovs != o.moovs)
            d << "moov bytes";
        if (report.moov_found != o.report.moov_found || report.moov_kept != o.report.moov_kept
            || report.moov_unfit != o.report.moov_unfit || report.frames != o.report.frames
            || report.tails != o.report.tails)
            d << "report";
        return d.join(", ");
    }
};

QByteArray marker(PhotoHeader header, int pattern)
{
    return with_photo_header(encode_test_jpeg(96, 64, QColor::fromHsv(pattern * 50 % 360, 200, 200)), header);
}

// The offset of the moov box in an MP4 file whose moov box follows its mdat.
std::uint64_t moov_offset(const QByteArray &file)
{
    return std::uint64_t(file.lastIndexOf("moov") - 4);
}

}  // namespace

class TestCardMap : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

    QString clip(int fps, int pattern, bool moov_first = false)
    {
        ClipOptions o;
        o.seconds = 3;
        o.bitrate_kbps = 2000;
        o.fps = fps;
        o.pattern = pattern;
        o.moov_first = moov_first;
        QString why;
        const QString path = encode_clip(o, m_cache, &why);
        if (path.isEmpty())
            qWarning() << why;
        return path;
    }

    // The card a test row names.
    bool make_card(const QString &name, const QString &image)
    {
        Layout layout;
        const QString samples = qEnvironmentVariable("TESSARO_SAMPLES");
        const QString karma = samples + "/gopro-karma.mp4", max = samples + "/gopro-max-heromode.mp4";
        if (name == "demo") {
            QString why;
            if (!demo_layout(m_cache, &layout, &why))
                return false;
        } else if (name == "samples across chunk boundaries") {
            // Two recordings between markers and a third group, with the
            // 16 MiB boundaries of the reading falling inside frames and
            // inside a moov box.
            const QByteArray k = read_file(karma);
            if (k.isEmpty())
                return false;
            const std::uint64_t moov_at = moov_offset(k);
            const std::uint64_t cut = moov_at / STEP * STEP;
            layout.contiguous(Content::bytes("M1.JPG", marker(PhotoHeader::Jfif, 1)), 14 * MIB)
                    .contiguous(Content::file(max, "A.MP4"), NEXT_FREE, 64 * KIB)
                    // The head of the karma recording on the grid, its last
                    // piece so that the moov box straddles 32 MiB.
                    .split(Content::file(karma, "B.MP4"),
                           {Extent{align_up(14 * MIB + 4 * MIB + 256 * KIB), 0, cut},
                            Extent{32 * MIB - (moov_at - cut) - 40, cut, std::uint64_t(k.size()) - cut}})
                    .contiguous(Content::bytes("M2.JPG", marker(PhotoHeader::Exif2044, 2)), NEXT_FREE, 64 * KIB)
                    .contiguous(Content::file(clip(60, 3), "C.MP4"), 48 * MIB - 2 * MIB)
                    .contiguous(Content::bytes("M3.JPG", marker(PhotoHeader::Exif14831, 3)), NEXT_FREE, 64 * KIB);
        } else if (name == "clips in pieces, no markers") {
            // Four recordings in a row without marker photos (triple
            // groups), one cut into out-of-order pieces, one moov first.
            const QString a = clip(30, 4), b = clip(60, 5), c = clip(30, 6, true), d = clip(30, 7);
            const std::uint64_t size_b = std::uint64_t(QFileInfo(b).size());
            layout.contiguous(Content::file(a, "A.MP4"), 1 * MIB)
                    .split(Content::file(b, "B.MP4"),
                           {Extent{align_up(1 * MIB + 2 * MIB), 0, 256 * KIB},
                            Extent{align_up(1 * MIB + 2 * MIB) + 2 * MIB, 256 * KIB, size_b - 256 * KIB}})
                    .contiguous(Content::file(c, "C.MP4"), NEXT_FREE, 64 * KIB)
                    .contiguous(Content::file(d, "D.MP4"), NEXT_FREE, 96 * KIB);
        } else {
            return false;
        }
        const CardResult built = build_card(layout, image);
        if (!built.ok)
            qWarning() << built.error;
        return built.ok;
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

    void map_gives_what_reading_the_stretch_gives_data()
    {
        QTest::addColumn<QString>("card");
        QTest::newRow("demo") << "demo";
        QTest::newRow("samples across chunk boundaries") << "samples across chunk boundaries";
        QTest::newRow("clips in pieces, no markers") << "clips in pieces, no markers";
    }

    // Each group's analysis from the card map equals the reading of its
    // stretch alone; the files rebuilt from them are the same bytes.
    void map_gives_what_reading_the_stretch_gives()
    {
        QFETCH(QString, card);
        const QString image = m_dir.filePath("card.img");
        if (!make_card(card, image)) {
            if (qEnvironmentVariable("TESSARO_SAMPLES").isEmpty() || !QFile::exists(qEnvironmentVariable("TESSARO_SAMPLES")))
                QSKIP("the sample recordings are not there (TESSARO_SAMPLES)");
            QFAIL("the card could not be built");
        }
        select_image_source(image);
        QString why;
        std::unique_ptr<FileSource> source = FileSource::open(image, &why);
        QVERIFY2(source, qPrintable(why));
        const std::uint64_t end = source_size();

        scan_reset();
        RecordingProgress progress;
        reading_phase(*source, end, progress);
        group_scan();
        video_total = count_videos();
        QVERIFY(video_total >= 2);
        QVERIFY(!card_map.frames().empty());

        const QString by_reading = m_dir.filePath("by-reading"), by_map = m_dir.filePath("by-map");
        QDir().mkpath(by_reading);
        QDir().mkpath(by_map);
        // Both rebuild sequences start from the same filler.
        std::memset(fill_buf, 0, FILL_BUF_SIZE);
        int n = 0;
        for (std::uint32_t g = 0; g < group_count(); ++g) {
            const VideoGroup group = group_list[g];
            const std::uint64_t L = group.tail_pos - group.head_pos, P = group.head_pos;
            const Taken read = Taken::now(analyse_region(*source, end, int(g), L, P), int(g));
            const Taken mapped = Taken::now(analyse_region(card_map, source.get(), end, int(g), L, P), int(g));
            QVERIFY2(read.differences(mapped).isEmpty(),
                     qPrintable(QString("group %1, card map: %2").arg(g).arg(read.differences(mapped))));
            QVERIFY(!read.frames.empty());

            // The rebuilds of the group's pieces, once from each path.
            for (const auto &[folder, by_map_path] : {std::pair<QString, bool>{by_reading, false}, {by_map, true}}) {
                if (by_map_path)
                    analyse_region(card_map, source.get(), end, int(g), L, P);
                else
                    analyse_region(*source, end, int(g), L, P);
                save_dir = folder;
                for (int k = 0; k < group_pieces(g); ++k)
                    QVERIFY(rebuild_video(*source, end, n + k, group.piece_pos[k], moov_buf[k], group_list[g].moov_size[k],
                                          false).written);
            }
            n += group_pieces(g);
        }
        for (int i = 0; i < n; ++i) {
            const QByteArray a = read_file(by_reading + QString("/%1.mp4").arg(i));
            QVERIFY(a.size() > 1000);
            QVERIFY2(a == read_file(by_map + QString("/%1.mp4").arg(i)), qPrintable(QString("video %1 differs").arg(i)));
        }
        QFile::remove(image);
    }

    void the_card_is_read_once_data() { map_gives_what_reading_the_stretch_gives_data(); }

    // The scan reads the card once, plus the bytes of its work copies and
    // what the rules check of chunks split on the card: photos are measured
    // from the bytes the reading pass has. The recovery reads what it
    // writes. Three units of slack per file cover reads on the 32 KiB grid
    // and each video's ftyp box.
    void the_card_is_read_once()
    {
        QFETCH(QString, card);
        const QString image = m_dir.filePath("card.img");
        if (!make_card(card, image))
            QSKIP("the card could not be built (see the test above)");
        const std::uint64_t size = std::uint64_t(QFileInfo(image).size());
        const std::uint64_t before_scan = source_bytes_read();
        scan_image(image);
        const std::uint64_t scan_read = source_bytes_read() - before_scan;
        QVERIFY(video_total >= 2);

        std::uint64_t copies = 0, checked = 0;
        for (std::uint32_t n = 0; n < video_total; ++n)
            copies += std::uint64_t(QFileInfo(temp_dir + QString::number(n) + ".mp4").size());
        for (const VideoPlan &plan : video_plans)
            checked += plan.checked;
        const std::uint64_t slack = 3 * UNIT * video_total;
        QVERIFY2(scan_read <= read_length_for(size) + copies + checked + slack,
                 qPrintable(QString("the scan read %1 bytes of a %2-byte card, with %3 in work copies and %4 to check "
                                    "chunks")
                                .arg(scan_read).arg(size).arg(copies).arg(checked)));

        const QString out = m_dir.filePath("recovered");
        QDir(out).removeRecursively();
        const std::uint64_t before_recovery = source_bytes_read();
        recover_into(out);
        const std::uint64_t recovery_read = source_bytes_read() - before_recovery;
        std::uint64_t written = 0;
        for (const QFileInfo &f : QDir(out).entryInfoList(QDir::Files))
            written += std::uint64_t(f.size());
        QVERIFY(written > 0);
        QVERIFY2(recovery_read <= written + written / 10 + 3 * UNIT * (video_total + photo_num),
                 qPrintable(QString("the recovery read %1 bytes to write %2").arg(recovery_read).arg(written)));
        QFile::remove(image);
    }

    void starts_across_buffer_boundaries_data()
    {
        QTest::addColumn<int>("at");  // where the start lies relative to a boundary
        for (int at = -12; at <= 1; ++at)
            QTest::newRow(qPrintable(QString::number(at))) << at;
    }

    // A frame start or a moov box cut by the boundary between two buffers
    // fed to the map is found once, and the box is copied whole.
    void starts_across_buffer_boundaries()
    {
        QFETCH(int, at);
        const std::size_t half = 4096;
        QByteArray stream(int(3 * half), '\x80');
        QByteArray moov(200, '\x55');
        std::memcpy(moov.data(), "\x00\x00\x00\xc8moov\x00\x00\x00\x6c", 12);
        const int frame_at = int(half) + at, moov_at = int(2 * half) + at;
        std::memcpy(stream.data() + frame_at, "\x00\x00\x00\x02\x09", 5);
        std::memcpy(stream.data() + moov_at, moov.constData(), std::size_t(moov.size()));
        CardMap map;
        CardMapBuilder builder(map, 1000);
        const auto *bytes = reinterpret_cast<const unsigned char *>(stream.constData());
        builder.feed(bytes, half);
        builder.feed(bytes + half, half);
        builder.feed(bytes + 2 * half, half);
        builder.finish(true);
        QCOMPARE(map.frames().size(), std::size_t(1));
        QCOMPARE(map.frames()[0].position, std::uint64_t(1000 + frame_at));
        QCOMPARE(map.frames()[0].length, std::uint32_t(moov_at - frame_at));  // ends at the moov box
        QCOMPARE(map.moovs().size(), std::size_t(1));
        QCOMPARE(map.moovs()[0].position, std::uint64_t(1000 + moov_at));
        const unsigned char *copy = map.moov_copy(map.moovs()[0]);
        QVERIFY(copy);
        QVERIFY(std::memcmp(copy, moov.constData(), std::size_t(moov.size())) == 0);
        QCOMPARE(map.frames_in(1000 + std::uint64_t(frame_at), 1000 + std::uint64_t(frame_at) + 1),
                 (std::pair<std::size_t, std::size_t>(0, 1)));
        QCOMPARE(map.frames_in(1000 + std::uint64_t(frame_at) + 1, 100000), (std::pair<std::size_t, std::size_t>(1, 1)));
    }

    // Past its ceilings the map counts what it leaves out; a box past the
    // copy ceiling is listed without bytes, for the analysis to read.
    void ceilings_are_counted()
    {
        QByteArray stream(64 * 1024, '\x80');
        for (int i = 0; i < 100; ++i)
            std::memcpy(stream.data() + i * 100, "\x00\x00\x00\x02\x09", 5);
        for (int i = 0; i < 5; ++i)
            std::memcpy(stream.data() + 20000 + i * 8192, "\x00\x00\x01\x00moov\x00\x00\x00\x6c", 12);
        CardMap map;
        map.set_ceilings(CardMap::Ceilings{10, 4, 3 * 256});
        CardMapBuilder builder(map, 0);
        builder.feed(reinterpret_cast<const unsigned char *>(stream.constData()), std::size_t(stream.size()));
        builder.finish(true);
        QCOMPARE(map.frames().size(), std::size_t(10));
        QCOMPARE(map.frames_dropped(), std::uint64_t(90));
        QCOMPARE(map.moovs().size(), std::size_t(4));
        QCOMPARE(map.moovs_dropped(), std::uint64_t(1));
        QCOMPARE(map.moovs_not_copied(), std::uint64_t(1));
        QVERIFY(map.moov_copy(map.moovs()[2]));
        QVERIFY(!map.moov_copy(map.moovs()[3]));
    }

    // A stream that stops short of the card's end (a cancelled scan) keeps
    // no partial copy; one that reaches it keeps zeros past the end.
    void a_box_cut_by_the_end_of_the_stream()
    {
        QByteArray stream(8192, '\x80');
        std::memcpy(stream.data() + 8000, "\x00\x00\x01\x00moov\x00\x00\x00\x6c", 12);
        const auto *bytes = reinterpret_cast<const unsigned char *>(stream.constData());
        for (const bool card_end : {false, true}) {
            CardMap map;
            CardMapBuilder builder(map, 0);
            builder.feed(bytes, 8192);
            builder.finish(card_end);
            QCOMPARE(map.moovs().size(), std::size_t(1));
            const unsigned char *copy = map.moov_copy(map.moovs()[0]);
            QCOMPARE(copy != nullptr, card_end);
            if (copy)
                QCOMPARE(copy[255], static_cast<unsigned char>(0));
            QCOMPARE(map.covers(1u << 30), card_end);
        }
    }
};

QTEST_GUILESS_MAIN(TestCardMap)
#include "test_card_map.moc"
