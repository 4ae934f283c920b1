// The reading phase: which steps are recorded where, the progress codes of
// the whole scan thread, cancelling, table capacities and unreadable reads.
#include "drives/drive_table.h"
#include "recover/scan_thread.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "support/temp_image.h"

#include <QtTest>
#include <cstring>

namespace {

constexpr int MIB16 = 16 * 1024 * 1024;

void put(QByteArray &image, int at, const QByteArray &bytes)
{
    std::memcpy(image.data() + at, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray ftyp(const char *brand)
{
    QByteArray box("\x00\x00\x00\x18" "ftyp", 8);
    box += QByteArray(brand, 4);
    return box;
}

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }

struct ThreadRun {
    std::vector<qulonglong> bytes;
    std::vector<int> codes;
    QString failure;
};

ThreadRun run_scan_thread(std::function<void(int)> on_code = nullptr)
{
    ThreadRun run;
    creatimage_aa thread;
    QObject::connect(&thread, &creatimage_aa::UpdateSignal, &thread,
                     [&](qulonglong b) { run.bytes.push_back(b); }, Qt::DirectConnection);
    QObject::connect(&thread, &creatimage_aa::UpdateSignal_num, &thread,
                     [&](int c) { run.codes.push_back(c); if (on_code) on_code(c); }, Qt::DirectConnection);
    QObject::connect(&thread, &creatimage_aa::sourceFailed, &thread,
                     [&](const QString &why) { run.failure = why; }, Qt::DirectConnection);
    thread.start();
    thread.wait();
    return run;
}

// Cancels the scan when the read of the chosen chunk has been made.
class CancellingSource : public MemorySource
{
public:
    CancellingSource(const QByteArray &d, std::uint64_t cancel_at)
        : MemorySource(reinterpret_cast<const unsigned char *>(d.constData()), d.size()), m_at(cancel_at) {}
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override
    {
        if (pos == m_at)
            scan_flag = 0;
        return MemorySource::read_once(pos, buf, len);
    }

private:
    std::uint64_t m_at;
};

}  // namespace

class TestReadingPhase : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
    }

    void steps_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");  // start kinds, then q per QuickTime start, p per photo

        QTest::newRow("mp brand") << 32768 << ftyp("mp42") << "2";
        QTest::newRow("av brand") << 32768 << ftyp("avc1") << "2";
        QTest::newRow("MS brand") << 32768 << ftyp("MSNV") << "2";
        QTest::newRow("qt brand") << 32768 << ftyp("qt  ") << "q";
        QTest::newRow("isom brand") << 32768 << ftyp("isom") << "";
        QTest::newRow("ftyp off the grid") << 4096 << ftyp("mp42") << "";
        QTest::newRow("JFIF marker") << 65536 << hex("ffd8ffe000104a4649") << "1p";
        QTest::newRow("Exif 2044 marker") << 65536 << hex("ffd8ffe107fc457869") << "1p";
        QTest::newRow("Exif 14831 marker") << 65536 << hex("ffd8ffe139ef457869") << "1p";
        QTest::newRow("other Exif length") << 65536 << hex("ffd8ffe1123445786966") << "p";
        QTest::newRow("photo and video start at once")
                << 98304 << hex("ffd8ffe0") + QByteArray("ftypmp42") << "2p";
        QTest::newRow("photo in the last unit") << MIB16 - 32768 << hex("ffd8ffdb") << "p";
    }

    void steps()
    {
        QFETCH(int, at);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QByteArray image(MIB16, '\x11');
        put(image, at, bytes);

        scan_reset();
        MemorySource source(reinterpret_cast<const unsigned char *>(image.constData()), image.size());
        RecordingProgress progress;
        reading_phase(source, image.size(), progress);

        QString got;
        for (std::uint32_t i = 0; i < start_num; ++i) {
            got += QString::number(start_list[i].kind);
            QCOMPARE(start_list[i].position, std::uint64_t(at));
        }
        got += QString(int(qt_num), QLatin1Char('q')) + QString(int(photo_num), QLatin1Char('p'));
        QCOMPARE(got, expected);
        if (photo_num)
            QCOMPARE(photo_list[0].position, std::uint64_t(at));
        if (qt_num)
            QCOMPARE(qt_list[0], std::uint64_t(at));
    }

    void progress_codes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QVector<qulonglong>>("bytes");
        QTest::addColumn<QVector<int>>("codes");

        QTest::newRow("32 KiB") << qint64(32768) << QVector<qulonglong>{} << QVector<int>{50, 20002, 20001};
        QTest::newRow("3 x 16 MiB") << qint64(3) * MIB16
                                   << QVector<qulonglong>{16777216, 33554432, 50331648}
                                   << QVector<int>{16, 33, 50, 50, 20002, 30000, 20001};
        // The photo at 16 MiB is read by the short last chunk.
        QTest::newRow("16 MiB + 1000") << qint64(MIB16) + 1000 << QVector<qulonglong>{16777216}
                                      << QVector<int>{49, 50, 20002, 30000, 20001};
    }

    void progress_codes()
    {
        QFETCH(qint64, size);
        QFETCH(QVector<qulonglong>, bytes);
        QFETCH(QVector<int>, codes);
        QByteArray image(int(size), '\x11');
        if (size > MIB16)
            put(image, MIB16, hex("ffd8ffdb0043"));
        select_image_source(write_image(m_dir, QStringLiteral("card.img"), image));

        const ThreadRun run = run_scan_thread();
        QVERIFY(run.failure.isEmpty());
        QCOMPARE(QVector<qulonglong>(run.bytes.begin(), run.bytes.end()), bytes);
        QCOMPARE(QVector<int>(run.codes.begin(), run.codes.end()), codes);
        if (size > MIB16) {
            QCOMPARE(photo_num, 1u);
            QCOMPARE(photo_list[0].position, std::uint64_t(MIB16));
        }
    }

    void cancel_during_reading()
    {
        // Four chunks with a photo in every chunk; cancelling after the first
        // chunk's progress stops the reading, and the later steps still run.
        QByteArray image(4 * MIB16, '\x11');
        for (int c = 0; c < 4; ++c)
            put(image, c * MIB16 + 32768, hex("ffd8ffdb"));
        select_image_source(write_image(m_dir, QStringLiteral("card.img"), image));

        const ThreadRun run = run_scan_thread([](int code) { if (code < 50) scan_flag = 0; });
        QCOMPARE(QVector<int>(run.codes.begin(), run.codes.end()), (QVector<int>{12, 50, 20002, 30000, 20001}));
        QCOMPARE(photo_num, 1u);
    }

    void cancel_seen_after_a_read_tests_only_the_first_step()
    {
        QByteArray image(3 * MIB16, '\x11');
        put(image, MIB16, hex("ffd8ffdb"));          // first step of chunk 2: kept
        put(image, MIB16 + 32768, hex("ffd8ffdb"));  // second step: not tested
        scan_reset();
        CancellingSource source(image, MIB16);
        RecordingProgress progress;
        reading_phase(source, image.size(), progress);
        QCOMPARE(photo_num, 1u);
        QCOMPARE(photo_list[0].position, std::uint64_t(MIB16));
        QCOMPARE(QVector<int>(progress.codes.begin(), progress.codes.end()), (QVector<int>{16, 33, 50}));
    }

    void source_that_cannot_be_opened()
    {
        image_path = m_dir.filePath(QStringLiteral("missing.img"));
        image_size = 32768;
        select_disk = disk_num;
        const ThreadRun run = run_scan_thread();
        QCOMPARE(run.failure, QStringLiteral("No such file or directory"));
        QVERIFY(run.codes.empty());
    }

    void finds_grow_with_the_card()
    {
        // 2,500 video starts and 1,500 photos, more than the first version's
        // fixed tables held: all kept, in position order.
        const int units = 2500;
        QByteArray image(units * 32768, '\x11');
        for (int i = 0; i < units; ++i)
            put(image, i * 32768, i < 1500 ? hex("ffd8ffdb") + ftyp("mp42").mid(4) : ftyp("mp42"));
        scan_reset();
        MemorySource source(reinterpret_cast<const unsigned char *>(image.constData()), image.size());
        RecordingProgress progress;
        reading_phase(source, image.size(), progress);
        QCOMPARE(start_num, std::uint32_t(units));
        QCOMPARE(photo_num, 1500u);
        QCOMPARE(dropped_finds.starts, std::uint64_t(0));
        QCOMPARE(dropped_finds.photos, std::uint64_t(0));
        QCOMPARE(start_list[start_num - 1].position, std::uint64_t(units - 1) * 32768);
        QCOMPARE(start_kind_at(start_num), 0u);
        QCOMPARE(start_kind_at(start_num + MAX_KIND + 1), 0u);
    }

    void unreadable_ranges_cost_only_their_units()
    {
        // A bad stretch of 100 bytes inside the second unit: the photo in the
        // third unit is still found, and only the rest of the bad unit, from
        // where its read failed, counts as lost.
        QByteArray image(MIB16, '\x11');
        put(image, 2 * 32768, hex("ffd8ffdb"));
        FailingSource source(image, {{32768 + 500, 32768 + 600}});
        scan_reset();
        RecordingProgress progress;
        reading_phase(source, image.size(), progress);
        QCOMPARE(photo_num, 1u);
        QCOMPARE(unreadable_bytes, std::uint64_t(32768 - 500));
    }
};

QTEST_GUILESS_MAIN(TestReadingPhase)
#include "test_reading_phase.moc"
