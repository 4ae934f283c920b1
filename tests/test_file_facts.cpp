// What a found file is before it is written: a recording's facts from its
// moov box, a photo's pixel size from its frame header, a video's verdict
// from its plan; and that none of them reads past what the card gave.
#include "recover/file_facts.h"
#include "support/test_jpeg.h"

#include <QtTest>

namespace {

// The top-level box `type` of an MP4 file, whole; empty when there is none.
QByteArray top_box(const QByteArray &file, const char *type)
{
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(file.constData() + at);
        quint64 size = be32(p);
        if (size == 1 && at + 16 <= file.size())
            size = (quint64(be32(p + 8)) << 32) | be32(p + 12);
        if (size < 8 || at + qint64(size) > file.size())
            return QByteArray();
        if (std::memcmp(p + 4, type, 4) == 0)
            return file.mid(int(at), int(size));
        at += qint64(size);
    }
    return QByteArray();
}

RecordingFacts facts_of(const QByteArray &moov)
{
    return recording_facts(reinterpret_cast<const unsigned char *>(moov.constData()), quint64(moov.size()));
}

QByteArray box(const char *type, const QByteArray &payload)
{
    QByteArray b(4, '\0');
    put_be32(reinterpret_cast<unsigned char *>(b.data()), quint32(8 + payload.size()));
    return b + QByteArray(type, 4) + payload;
}

QByteArray be(quint32 v)
{
    QByteArray b(4, '\0');
    put_be32(reinterpret_cast<unsigned char *>(b.data()), v);
    return b;
}

// A plan of `chunks` table chunks and the last, the chunks `lost` filler.
VideoPlan plan_of(std::uint32_t chunks, std::vector<std::uint32_t> lost)
{
    VideoPlan plan;
    plan.table_chunks = chunks;
    plan.chunks.resize(chunks + 1);
    for (PlannedChunk &c : plan.chunks)
        c.located = ChunkSource::Frame;
    for (std::uint32_t j : lost)
        plan.chunks[j].located = ChunkSource::None;
    plan.tail = true;
    return plan;
}

}  // namespace

class TestFileFacts : public QObject
{
    Q_OBJECT

private slots:
    // The camera recordings: what ffprobe says of them.
    void camera_recordings_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("seconds");
        QTest::newRow("Karma") << "gopro-karma.mp4" << 854 << 480 << 362 << 12.079;
        QTest::newRow("MAX") << "gopro-max-heromode.mp4" << 848 << 480 << 315 << 10.517;
    }

    void camera_recordings()
    {
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, frames);
        QFETCH(double, seconds);
        QFile f(qEnvironmentVariable("TESSARO_SAMPLES") + "/" + file);
        if (!f.open(QIODevice::ReadOnly))
            QSKIP("the sample recordings are not there (set TESSARO_SAMPLES)");
        const QByteArray moov = top_box(f.readAll(), "moov");
        QVERIFY(!moov.isEmpty());
        const RecordingFacts r = facts_of(moov);
        QCOMPARE(int(r.width), width);
        QCOMPARE(int(r.height), height);
        QCOMPARE(int(r.frames), frames);
        QCOMPARE(r.codec, VideoCodec::H264);
        QVERIFY2(qAbs(r.frame_rate - 29.97) < 0.01, qPrintable(QString::number(r.frame_rate)));
        QVERIFY2(qAbs(r.duration_ms / 1000.0 - seconds) < 0.05, qPrintable(QString::number(r.duration_ms)));

        // Cut short anywhere, its size field kept: nothing is read past the
        // cut (the sanitizer build watches), and what is told stays true.
        for (int cut = 0; cut < moov.size(); cut += 1 + cut / 64) {
            const QByteArray shorter(moov.constData(), cut);  // its own allocation, exactly `cut` bytes
            const RecordingFacts s = facts_of(shorter);
            QVERIFY(s.width == 0 || int(s.width) == width);
            QVERIFY(s.duration_ms == 0 || s.duration_ms == r.duration_ms);
        }
    }

    // Boxes that claim more than they hold, version 1 headers, a zero
    // timescale and no video track.
    void hostile_boxes_data()
    {
        QTest::addColumn<QByteArray>("moov");
        QTest::addColumn<qulonglong>("duration_ms");
        QTest::addColumn<int>("width");
        const QByteArray mvhd0 = box("mvhd", QByteArray(4, '\0') + QByteArray(8, '\0') + be(1000) + be(7500));
        QTest::newRow("mvhd alone") << box("moov", mvhd0) << 7500ull << 0;
        QTest::newRow("zero timescale") << box("moov", box("mvhd", QByteArray(12, '\0') + be(0) + be(7500))) << 0ull << 0;
        QByteArray mvhd1 = QByteArray(1, '\1') + QByteArray(3, '\0') + QByteArray(16, '\0') + be(600) + be(0) + be(600 * 90);
        QTest::newRow("mvhd version 1") << box("moov", box("mvhd", mvhd1)) << 90000ull << 0;
        QByteArray huge = mvhd0;
        put_be32(reinterpret_cast<unsigned char *>(huge.data()), 0xFFFFFFF0u);
        QTest::newRow("mvhd past its parent") << box("moov", huge) << 0ull << 0;
        QTest::newRow("a year and more") << box("moov", box("mvhd", QByteArray(12, '\0') + be(1) + be(0xFFFFFFFFu))) << 0ull << 0;
        const QByteArray hdlr = box("hdlr", QByteArray(8, '\0') + "vide" + QByteArray(12, '\0'));
        const QByteArray tkhd_short = box("tkhd", QByteArray(40, '\0'));
        QTest::newRow("tkhd too short for its size")
                << box("moov", mvhd0 + box("trak", tkhd_short + box("mdia", hdlr))) << 7500ull << 0;
        QByteArray tkhd(4 + 20 + 16 + 36 + 8, '\0');
        put_be32(reinterpret_cast<unsigned char *>(tkhd.data()) + 76, 1920u << 16);
        put_be32(reinterpret_cast<unsigned char *>(tkhd.data()) + 80, 1080u << 16);
        QTest::newRow("video track") << box("moov", mvhd0 + box("trak", box("tkhd", tkhd) + box("mdia", hdlr))) << 7500ull
                                     << 1920;
        const QByteArray sound = box("hdlr", QByteArray(8, '\0') + "soun" + QByteArray(12, '\0'));
        QTest::newRow("sound only") << box("moov", mvhd0 + box("trak", box("tkhd", tkhd) + box("mdia", sound))) << 7500ull
                                    << 0;
        QTest::newRow("not a moov") << box("free", mvhd0) << 0ull << 0;
    }

    void hostile_boxes()
    {
        QFETCH(QByteArray, moov);
        QFETCH(qulonglong, duration_ms);
        QFETCH(int, width);
        const RecordingFacts r = facts_of(moov);
        QCOMPARE(qulonglong(r.duration_ms), duration_ms);
        QCOMPARE(int(r.width), width);
    }

    // The frame header found past other segments, and not past the bytes.
    void jpeg_pixel_size_data()
    {
        QTest::addColumn<QByteArray>("jpeg");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        const QByteArray qt = encode_test_jpeg(321, 123, Qt::red);
        QTest::newRow("Qt's JPEG") << qt << 321 << 123;
        const QByteArray app1 = QByteArray("\xFF\xE1", 2) + be(2 + 60000).mid(2) + QByteArray(60000, 'x');
        QTest::newRow("after a long APP1") << qt.left(2) + app1 + qt.mid(2) << 321 << 123;
        QTest::newRow("fill bytes") << qt.left(2) + QByteArray("\xFF\xFF", 2) + qt.mid(2) << 321 << 123;
        QTest::newRow("cut before its frame") << qt.left(30) << 0 << 0;
        QTest::newRow("a segment past the end") << QByteArray("\xFF\xD8\xFF\xE0\xFF\xF0", 6) << 0 << 0;
        QTest::newRow("no JPEG") << QByteArray("\x00\x00\x00\x14" "ftypmp42", 12) << 0 << 0;
    }

    void jpeg_pixel_size()
    {
        QFETCH(QByteArray, jpeg);
        QFETCH(int, width);
        QFETCH(int, height);
        std::uint32_t w = 0, h = 0;
        const bool found = ::jpeg_pixel_size(reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                             quint64(jpeg.size()), &w, &h);
        QCOMPARE(found, width != 0);
        QCOMPARE(int(w), width);
        QCOMPARE(int(h), height);
        for (int cut = 0; cut < jpeg.size(); cut += 1 + cut / 32) {
            const QByteArray shorter(jpeg.constData(), cut);
            w = h = 0;
            ::jpeg_pixel_size(reinterpret_cast<const unsigned char *>(shorter.constData()), quint64(cut), &w, &h);
            QVERIFY(w == 0 || int(w) == width);
        }
    }

    // A photo's facts read from the card: its size from the scan, its
    // pixel size from its first bytes, its verdict from its walk.
    void photo_on_a_card()
    {
        const QByteArray jpeg = encode_test_jpeg(640, 480, Qt::blue);
        QByteArray card(int(4 * UNIT), '\0');
        card.replace(int(UNIT), jpeg.size(), jpeg);
        MemorySource source(reinterpret_cast<const unsigned char *>(card.constData()), quint64(card.size()));
        PhotoInfo photo{UNIT, quint64(jpeg.size()), true};
        PhotoFacts f = photo_facts(source, quint64(card.size()), photo);
        QCOMPARE(int(f.width), 640);
        QCOMPARE(f.verdict, Verdict::Intact);
        QCOMPARE(verdict_text(f), QStringLiteral("intact"));
        photo.walked = false;
        QCOMPARE(verdict_text(photo_facts(source, quint64(card.size()), photo)), QStringLiteral("partial: its end is a guess"));
        photo.length = 0;
        QCOMPARE(photo_facts(source, quint64(card.size()), photo).verdict, Verdict::Empty);
        // At the card's end: only what the card holds is read.
        PhotoInfo last{3 * UNIT, 10 * UNIT, true};
        QCOMPARE(photo_facts(source, quint64(card.size()), last).width, 0u);
    }

    // The verdict before anything is written, from the plan alone.
    void video_verdicts()
    {
        QCOMPARE(verdict_text(video_facts(plan_of(9, {}))), QStringLiteral("intact"));
        QCOMPARE(verdict_text(video_facts(plan_of(9, {3, 4}))), QStringLiteral("partial: 8 of 10 chunks"));
        QCOMPARE(verdict_text(video_facts(plan_of(9, {9}))), QStringLiteral("partial: 9 of 10 chunks"));
        VideoPlan cut = plan_of(9, {});
        cut.table_cut = true;
        QCOMPARE(video_facts(cut).verdict, Verdict::Partial);
        VideoPlan unread = plan_of(9, {});
        unread.unreadable = 32768;
        QCOMPARE(video_facts(unread).verdict, Verdict::Partial);
        QCOMPARE(verdict_text(video_facts(plan_of(2, {0, 1, 2}))), QStringLiteral("empty"));
        VideoPlan none;
        none.error = QStringLiteral("no moov box");
        QCOMPARE(video_facts(none).verdict, Verdict::Empty);
        // A recording whose index was never written, as the writer says it.
        VideoPlan rebuilt = plan_of(9, {2});
        rebuilt.index = IndexOrigin::Rebuilt;
        QCOMPARE(verdict_text(video_facts(rebuilt)), QStringLiteral("rebuilt index"));
        VideoPlan raw = plan_of(9, {});
        raw.index = IndexOrigin::None;
        QCOMPARE(verdict_text(video_facts(raw)), QStringLiteral("no index"));
    }

    void words_data()
    {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("want");
        QTest::newRow("seconds") << duration_text(7400) << "0:07";
        QTest::newRow("minutes") << duration_text(65000) << "1:05";
        QTest::newRow("hours") << duration_text(3723000) << "1:02:03";
        QTest::newRow("unknown length") << duration_text(0) << "?";
        QTest::newRow("resolution") << resolution_text(1920, 1080) << "1920×1080";
        QTest::newRow("unknown resolution") << resolution_text(0, 1080) << "?";
        QTest::newRow("whole frame rate") << frame_rate_text(30.0) << "30 fps";
        QTest::newRow("NTSC frame rate") << frame_rate_text(30000.0 / 1001) << "29.97 fps";
        QTest::newRow("no frame rate") << frame_rate_text(0) << "?";
        QTest::newRow("kilobytes") << size_text(342977) << "343 KB";
        QTest::newRow("megabytes") << size_text(41300000) << "41.3 MB";
        QTest::newRow("gigabytes") << size_text(4290000000ull) << "4.29 GB";
    }

    void words()
    {
        QFETCH(QString, got);
        QFETCH(QString, want);
        QCOMPARE(got, want);
    }
};

QTEST_GUILESS_MAIN(TestFileFacts)
#include "test_file_facts.moc"
