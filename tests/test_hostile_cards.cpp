// Whole scans of cards that lie or overflow the tables: each completes, its
// results stay bounded, and what fits the tables is what a card without the
// excess gives.
#include "drives/drive_table.h"
#include "recover/scan_thread.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"

#include <QtTest>
#include <cstring>

namespace {

constexpr int UNIT_BYTES = 32768;

QByteArray be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray box(const char *type, const QByteArray &payload, qint64 claimed = -1)
{
    return be32(quint32(claimed >= 0 ? claimed : payload.size() + 8)) + QByteArray(type, 4) + payload;
}

void put(QByteArray &card, int at, const QByteArray &bytes)
{
    std::memcpy(card.data() + at, bytes.constData(), size_t(bytes.size()));
}

QByteArray marker() { return QByteArray::fromHex("ffd8ffe000104a464946000101"); }

// A moov box whose first child is a 108-byte movie header, then an stco
// with the given size field, entry count and entries.
QByteArray moov(quint32 stco_size, quint32 count, const QVector<quint32> &entries, qint64 claimed = -1)
{
    QByteArray table = be32(0) + be32(count);
    for (quint32 e : entries)
        table += be32(e);
    const QByteArray stco = be32(stco_size) + QByteArray("stco") + table;
    return box("moov", box("mvhd", QByteArray(100, '\0')) + stco, claimed);
}

struct ScanRun {
    QVector<int> codes;
};

ScanRun scan(const QTemporaryDir &dir, const QByteArray &card)
{
    select_image_source(write_image(dir, "card.img", card));
    ScanRun run;
    creatimage_aa thread;
    QObject::connect(&thread, &creatimage_aa::UpdateSignal_num, &thread, [&](int c) { run.codes << c; },
                     Qt::DirectConnection);
    thread.start();
    thread.wait();
    return run;
}

}  // namespace

class TestHostileCards : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArray m_path;

private slots:
    void initTestCase()
    {
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        // Thousands of videos: keep ffmpeg out of it, its absence is handled.
        m_path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
    }
    void cleanupTestCase() { qputenv("PATH", m_path); }

    void lying_boxes_data()
    {
        QTest::addColumn<QByteArray>("ftyp");
        QTest::addColumn<QByteArray>("moov_box");

        const QByteArray good_ftyp = box("ftyp", "mp42" + QByteArray(12, '\0'));
        const QByteArray good_moov = moov(24, 2, {65536, 66536});
        auto ftyp_sized = [](quint32 size) { return be32(size) + "ftypmp42" + QByteArray(12, '\0'); };
        QTest::newRow("ftyp size 0") << ftyp_sized(0) << good_moov;
        QTest::newRow("ftyp size 7") << ftyp_sized(7) << good_moov;
        QTest::newRow("ftyp size 2^32-1") << ftyp_sized(0xFFFFFFFF) << good_moov;
        QTest::newRow("moov size 0") << good_ftyp << moov(24, 2, {65536, 66536}, 0);
        QTest::newRow("moov size 7") << good_ftyp << moov(24, 2, {65536, 66536}, 7);
        QTest::newRow("moov size 2^32-1") << good_ftyp << moov(24, 2, {65536, 66536}, 0xFFFFFFFF);
        QTest::newRow("stco claims 10^9 entries") << good_ftyp << moov(24, 1000000000, {65536, 66536});
        QTest::newRow("stco runs past its box") << good_ftyp << moov(4000000, 999999, {65536, 66536, 67536});
    }

    void lying_boxes()
    {
        QFETCH(QByteArray, ftyp);
        QFETCH(QByteArray, moov_box);
        // Marker, a recording whose boxes lie, marker: one group, one file.
        QByteArray card(40 * UNIT_BYTES, '\x80');
        put(card, 0, marker());
        put(card, UNIT_BYTES, ftyp);
        put(card, 3 * UNIT_BYTES, QByteArray::fromHex("00000002091000000000000002091000"));
        put(card, 20 * UNIT_BYTES + 64, moov_box);
        put(card, 39 * UNIT_BYTES, marker());

        const ScanRun run = scan(m_dir, card);
        QCOMPARE(run.codes.last(), 20001);
        QCOMPARE(video_total, 1u);
        // A recording whose ftyp box lies gets no work copy; any other gets
        // one of bounded size.
        const QFileInfo work_copy(temp_dir + "0.mp4");
        QVERIFY(work_copy.size() < 64 * 1024 * 1024);
        QCOMPARE(work_copy.exists(), !QByteArray(QTest::currentDataTag()).startsWith("ftyp"));
        QFile::remove(work_copy.filePath());
    }

    void finds_beyond_every_table()
    {
        // 2,500 video starts without a marker, then 2,500 QuickTime starts,
        // then 1,500 photos: more than the first version's fixed tables held.
        const int videos = 2500, qts = 2500, photos = 1500;
        QByteArray card((videos + qts + photos) * UNIT_BYTES, '\x80');
        int unit = 0;
        for (int i = 0; i < videos; ++i)
            put(card, unit++ * UNIT_BYTES, box("ftyp", "mp42"));
        const int first_qt = unit;
        for (int i = 0; i < qts; ++i)
            put(card, unit++ * UNIT_BYTES, box("ftyp", "qt  "));
        const int first_photo = unit;
        for (int i = 0; i < photos; ++i)
            put(card, unit++ * UNIT_BYTES, QByteArray::fromHex("ffd8ffdb00"));

        const ScanRun run = scan(m_dir, card);
        QCOMPARE(run.codes.last(), 20001);
        QCOMPARE(start_num, std::uint32_t(videos));
        QCOMPARE(qt_num, std::uint32_t(qts));
        QCOMPARE(photo_num, std::uint32_t(photos));
        QCOMPARE(dropped_finds.starts + dropped_finds.qt + dropped_finds.photos, std::uint64_t(0));
        for (std::uint32_t i = 0; i < start_num; ++i)
            QCOMPARE(start_list[i].position, std::uint64_t(i) * UNIT_BYTES);
        QCOMPARE(qt_list[0], std::uint64_t(first_qt) * UNIT_BYTES);
        QCOMPARE(photo_list[photos - 1].position, std::uint64_t(first_photo + photos - 1) * UNIT_BYTES);
        // 2,498 triples and 2,499 QuickTime groups, triples first; the
        // first and last video start and the last QuickTime start, pieces of
        // none of them, get their own.
        QCOMPARE(triple_num, 2498u);
        QCOMPARE(qt_group_num, 2499u);
        QCOMPARE(single_num, 3u);
        QCOMPARE(dropped_finds.groups, std::uint64_t(0));
        QCOMPARE(video_total, 2498u + 2499u + 3u);
        QCOMPARE(run.codes.count(20001), 1);
    }

    void edges_of_the_card_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("photo_at");
        QTest::addColumn<int>("photos");
        // One byte of a photo start is no photo; three are.
        QTest::newRow("last chunk of 1 byte") << (16 * 1024 * 1024 + 1) << (16 * 1024 * 1024) << 0;
        QTest::newRow("photo in the last unit") << (5 * UNIT_BYTES) << (4 * UNIT_BYTES) << 1;
        QTest::newRow("photo cut by the card's end") << (5 * UNIT_BYTES + 3) << (5 * UNIT_BYTES) << 1;
    }

    void edges_of_the_card()
    {
        QFETCH(int, size);
        QFETCH(int, photo_at);
        QFETCH(int, photos);
        QByteArray card(size, '\x80');
        const QByteArray photo = QByteArray::fromHex("ffd8ffdb0043ffd9");
        card.replace(photo_at, qMin(photo.size(), size - photo_at), photo.left(size - photo_at));
        const ScanRun run = scan(m_dir, card);
        QCOMPARE(run.codes.last(), 20001);
        QCOMPARE(photo_num, std::uint32_t(photos));
        if (!photos)
            return;
        QCOMPARE(photo_list[0].position, std::uint64_t(photo_at));
        // Bytes past the card's end read as zeros, never as a stale chunk.
        QCOMPARE(photo_list[0].length, size - photo_at >= photo.size() ? std::uint64_t(photo.size()) : 0u);
    }
};

QTEST_GUILESS_MAIN(TestHostileCards)
#include "test_hostile_cards.moc"
