// Whole-disk images: the partition table read from the first sectors as
// sfdisk writes it (and damaged), the steps each partition is tested on,
// and FAT32 cards written with mtools whose partition starts off the
// card's 32 KiB grid (sector 63) or on it (1 MiB in a GPT), beside one
// without a table, whose files are found where they begin and come back
// whole.
#include "card_builder/fat32_card.h"
#include "scan/partition_table.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "scan/signatures.h"
#include "scan/step_grids.h"
#include "scan/work_folder.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <map>

using namespace card;

namespace {

constexpr std::uint64_t SECTOR = 512;
// FAT32 with 32 KiB clusters needs 65525 of them: a little over 2 GiB.
constexpr std::uint64_t CARD_SIZE = 2048 * MIB + 64 * MIB;

QString sfdisk_path()
{
    QString path = QStandardPaths::findExecutable("sfdisk");
    return path.isEmpty() ? QStandardPaths::findExecutable("sfdisk", {"/usr/sbin", "/sbin"}) : path;
}

// The first `head` bytes of a sparse image of `size` bytes partitioned by
// sfdisk from `script`; empty when sfdisk fails.
QByteArray sfdisk_head(const QTemporaryDir &dir, std::uint64_t size, const QString &script, int head = 64 * 1024)
{
    const QString path = dir.filePath("table.img");
    QFile::remove(path);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(size)))
            return {};
    }
    QProcess p;
    p.start(sfdisk_path(), {"--no-reread", "--no-tell-kernel", "-q", path});
    p.write(script.toLatin1());
    p.closeWriteChannel();
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(head) : QByteArray();
}

void put_le32(QByteArray &b, int at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

struct Step {
    std::uint64_t position;
    std::uint32_t kind;  // KIND_VIDEO or KIND_MARKER_PHOTO; 0 for a photo alone
    bool photo;
};

}  // namespace

class TestPartitionGrids : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;
    std::map<QString, Fat32Card> m_cards;  // built once, by their image's name

    const Fat32Card *fat32(std::uint64_t partition_at, bool gpt, QString *image)
    {
        Fat32Options o;
        o.size = CARD_SIZE;
        o.partition_at = partition_at;
        o.gpt = gpt;
        const QString name = QStringLiteral("%1-%2.img").arg(gpt ? "gpt" : "mbr").arg(partition_at);
        *image = m_dir.filePath(name);
        auto it = m_cards.find(name);
        if (it == m_cards.end())
            it = m_cards.emplace(name, fat32_card(o, m_dir.filePath(name), m_cache)).first;
        return &it->second;
    }

    // Where the card's live files begin, with what their first bytes are.
    static std::vector<Step> file_starts(const Fat32Card &card)
    {
        std::vector<Step> steps;
        for (std::size_t i = 0; i < card.files.size(); ++i) {
            const PlacedFile &p = card.manifest.files[i];
            if (card.deleted.contains(p.name) || p.extents.empty())
                continue;
            const Content &c = card.files[i];
            QByteArray head = c.path.isEmpty() ? c.data : read_file(c.path);
            head = head.left(16);
            const auto *b = reinterpret_cast<const unsigned char *>(head.constData());
            Step s{p.extents.front().card_pos, 0, is_photo_start(b)};
            if (is_video_start(b))
                s.kind = KIND_VIDEO;
            else if (is_marker_photo(b))
                s.kind = KIND_MARKER_PHOTO;
            steps.push_back(s);
        }
        std::sort(steps.begin(), steps.end(), [](const Step &a, const Step &b) { return a.position < b.position; });
        return steps;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        m_cache = m_dir.filePath("clips");
    }

    // Tables as sfdisk writes them, and damaged: a damaged GPT still gives
    // the entries that make sense; a table that does not add up, or a
    // volume's own boot sector, is no table.
    void tables_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("partitions");  // "number:start:length ..."
        QTest::addColumn<bool>("mismatch");

        const QString dos63 = "label: dos\nstart=63, size=131009, type=c\n";
        const QString gpt = "label: gpt\nstart=2048, size=4096, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                            "start=8192, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n";
        QTest::newRow("MBR at sector 63") << dos63 << "" << int(TableKind::Mbr) << "1:32256:67076608" << false;
        QTest::newRow("MBR, two partitions and an extended one")
                << "label: dos\nstart=2048, size=2048, type=c\nstart=16384, size=4096, type=83\n"
                   "start=4096, size=8192, type=5\nstart=4097, size=1024, type=83\n"
                << "" << int(TableKind::Mbr) << "1:1048576:1048576 2:8388608:2097152" << false;
        QTest::newRow("MBR partition past the image's end: cut there")
                << dos63 << "size:200000" << int(TableKind::Mbr) << "1:32256:67076608" << false;
        QTest::newRow("MBR partition starting past the end") << dos63 << "start:140000" << int(TableKind::None) << ""
                                                             << false;
        QTest::newRow("MBR partitions overlapping")
                << "label: dos\nstart=2048, size=4096, type=c\nstart=8192, size=4096, type=c\n" << "overlap"
                << int(TableKind::None) << "" << false;
        QTest::newRow("MBR with a bad status byte") << dos63 << "status" << int(TableKind::None) << "" << false;
        QTest::newRow("GPT at 1 MiB") << gpt << "" << int(TableKind::Gpt) << "1:1048576:2097152 2:4194304:4194304"
                                      << false;
        QTest::newRow("GPT, an entry damaged: the other one stays")
                << gpt << "gpt-entry" << int(TableKind::Gpt) << "2:4194304:4194304" << true;
        QTest::newRow("GPT header gone: the protective MBR alone is no table")
                << gpt << "gpt-header" << int(TableKind::None) << "" << false;
        QTest::newRow("GPT entry count beyond bounds") << gpt << "gpt-count" << int(TableKind::None) << "" << false;
        QTest::newRow("a FAT volume from byte 0") << "" << "fat" << int(TableKind::None) << "" << false;
    }

    void tables()
    {
        QFETCH(QString, script);
        QFETCH(QString, damage);
        QFETCH(int, kind);
        QFETCH(QString, partitions);
        QFETCH(bool, mismatch);
        const std::uint64_t size = 64 * MIB;
        QByteArray head;
        if (damage == "fat") {
            QString why;
            if (!mtools_available(false, &why))
                QSKIP(qPrintable("mtools cannot format the volume: " + why));
            const QString path = m_dir.filePath("volume.img");
            QFile::remove(path);
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("MTOOLS_SKIP_CHECK", "1");
            p.setProcessEnvironment(env);
            p.start(QStandardPaths::findExecutable("mformat"), {"-C", "-i", path, "-T", "131072", "-h", "16", "-s", "32", "::"});
            QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
            head = read_file(path).left(64 * 1024);
        } else {
            if (sfdisk_path().isEmpty())
                QSKIP("sfdisk is not installed (apt-get install fdisk)");
            head = sfdisk_head(m_dir, size, script);
        }
        QVERIFY(head.size() >= 32 * 1024);
        QCOMPARE(std::uint8_t(head[510]), std::uint8_t(0x55));

        if (damage.startsWith("size:"))
            put_le32(head, 446 + 12, damage.mid(5).toUInt());
        else if (damage.startsWith("start:"))
            put_le32(head, 446 + 8, damage.mid(6).toUInt());
        else if (damage == "overlap")
            put_le32(head, 446 + 16 + 8, 4096);
        else if (damage == "status")
            head[446] = char(0x7F);
        else if (damage == "gpt-entry")
            head[1024 + 32 + 4] = 1;  // the first entry's first LBA 2^32 sectors on
        else if (damage == "gpt-header")
            head[512] = 'X';
        else if (damage == "gpt-count")
            put_le32(head, 512 + 80, 0x10000000);

        const PartitionTable table =
                read_partition_table(reinterpret_cast<const unsigned char *>(head.constData()), std::size_t(head.size()), size);
        QCOMPARE(int(table.kind), kind);
        QStringList got;
        for (const Partition &p : table.partitions)
            got << QStringLiteral("%1:%2:%3").arg(p.number).arg(p.start).arg(p.length);
        QCOMPARE(got.join(' '), partitions);
        QCOMPARE(table.checksum_mismatch, mismatch);
    }

    // Every step the grids give is on its region's own grid, and every
    // position that should be a step is one, across chunk edges and
    // partition ends.
    void steps_data()
    {
        QTest::addColumn<QString>("partitions");  // "start:length ..."
        QTest::newRow("no table") << "";
        QTest::newRow("sector 63") << "32256:20000000";
        QTest::newRow("on the grid, then off it, then ending inside a chunk")
                << "1048576:3145728 4194816:16776704 20972032:33280";
        QTest::newRow("ending one sector after a step") << "512:33280";
    }

    void steps()
    {
        QFETCH(QString, partitions);
        PartitionTable table;
        table.kind = partitions.isEmpty() ? TableKind::None : TableKind::Mbr;
        int number = 0;
        for (const QString &p : partitions.split(' ', Qt::SkipEmptyParts))
            table.partitions.push_back(Partition{++number, p.section(':', 0, 0).toULongLong(), p.section(':', 1).toULongLong()});
        const StepGrids grids(table);

        const std::uint64_t chunk = 16 * MIB;
        std::vector<std::uint64_t> visited, expected;
        for (std::uint64_t c = 0; c < 3 * chunk; c += chunk)
            grids.visit(c, c + chunk, [&](std::uint64_t p) {
                visited.push_back(p);
                return true;
            });
        for (std::uint64_t p = 0; p < 3 * chunk; p += SECTOR) {
            std::uint64_t origin = 0;
            for (const Partition &q : table.partitions)
                if (p >= q.start && p < q.start + q.length)
                    origin = q.start;
            if ((p - origin) % UNIT == 0)
                expected.push_back(p);
        }
        QCOMPARE(visited, expected);
        for (std::uint64_t p : visited)
            QVERIFY(p % chunk + SECTOR <= chunk);  // a step's bytes stay in its chunk
    }

    // The reading pass records a start where each file begins, and nothing
    // else: on the partition's own grid, and, without a table, the disk's
    // grid as ever (a FAT32 boot sector at byte 0 ends in 55 AA too).
    void starts_where_files_begin_data()
    {
        QTest::addColumn<qulonglong>("partition_at");
        QTest::addColumn<bool>("gpt");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("grids");
        QTest::newRow("no table, FAT32 from byte 0")
                << 0ull << false << int(TableKind::None) << "no partition table: the disk's grid";
        QTest::newRow("MBR at sector 63") << 63ull * SECTOR << false << int(TableKind::Mbr)
                                          << "MBR: partition 1 at 32256: its own grid; outside partitions: the "
                                             "disk's grid";
        QTest::newRow("GPT at 1 MiB") << 1ull * MIB << true << int(TableKind::Gpt)
                                      << "GPT: partition 1 at 1048576: its own grid (the disk's); outside "
                                         "partitions: the disk's grid";
    }

    void starts_where_files_begin()
    {
        QFETCH(qulonglong, partition_at);
        QFETCH(bool, gpt);
        QFETCH(int, kind);
        QFETCH(QString, grids);
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
        if (!mtools_available(partition_at != 0, &why))
            QSKIP(qPrintable("mtools cannot write the card: " + why));
        QString image;
        const Fat32Card *card = fat32(partition_at, gpt, &image);
        QVERIFY2(card->ok, qPrintable(card->error));
        QCOMPARE(card->volume.partition_at, std::uint64_t(partition_at));

        scan_reset();
        std::unique_ptr<FileSource> source = FileSource::open(image, &why);
        QVERIFY2(source, qPrintable(why));
        RecordingProgress progress;
        reading_phase(*source, CARD_SIZE, progress);
        QCOMPARE(int(scan_grids.kind()), kind);
        QCOMPARE(scan_grids.describe(), grids);
        std::map<std::uint64_t, Step> found;
        for (std::uint32_t i = 0; i < start_num; ++i)
            found[start_list[i].position] = Step{start_list[i].position, start_list[i].kind, false};
        for (std::uint32_t i = 0; i < photo_num; ++i) {
            Step &s = found[photo_list[i].position];
            s.position = photo_list[i].position;
            s.photo = true;
        }
        QCOMPARE(qt_num, 0u);
        const std::vector<Step> want = file_starts(*card);
        QCOMPARE(found.size(), want.size());
        auto it = found.begin();
        for (const Step &w : want) {
            const Step &g = (it++)->second;
            QCOMPARE(g.position, w.position);
            QCOMPARE(g.kind, w.kind);
            QCOMPARE(g.photo, w.photo);
        }
    }

    // Off the card's grid and in a GPT: every recording whose bytes are on
    // the card comes back with every video sample at its offset and decodes
    // without an error, D too, whose two pieces around C lie on the
    // partition's grid; every photo comes back byte for byte.
    void everything_comes_back_data()
    {
        QTest::addColumn<qulonglong>("partition_at");
        QTest::addColumn<bool>("gpt");
        QTest::newRow("MBR at sector 63") << 63ull * SECTOR << false;
        QTest::newRow("GPT at 1 MiB") << 1ull * MIB << true;
    }

    void everything_comes_back()
    {
        QFETCH(qulonglong, partition_at);
        QFETCH(bool, gpt);
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the test clips: " + why));
        if (!mtools_available(true, &why))
            QSKIP(qPrintable("mtools cannot write the card: " + why));
        QString image;
        const Fat32Card *card = fat32(partition_at, gpt, &image);
        QVERIFY2(card->ok, qPrintable(card->error));

        scan_image(image);
        const QString out = m_dir.filePath("out");
        QDir(out).removeRecursively();
        recover_into(out);

        QStringList videos;
        for (std::uint32_t n = 0; n < video_total; ++n)
            videos << out + "/" + QString::number(n) + ".mp4";
        QList<QByteArray> photos;
        for (std::uint32_t j = 0; j < photo_num; ++j)
            photos << read_file(out + "/" + QString::number(j) + ".jpg");
        int recordings = 0, pictures = 0;
        for (const Content &c : card->files) {
            if (card->deleted.contains(c.name))
                continue;
            const QByteArray bytes = c.path.isEmpty() ? c.data : read_file(c.path);
            if (c.name.endsWith(".JPG")) {
                QVERIFY2(photos.contains(bytes), qPrintable(c.name + " is not among the photos"));
                ++pictures;
                continue;
            }
            SampleMatch best;
            QString best_file;
            for (const QString &f : videos) {
                const SampleMatch m = compare_samples(bytes, read_file(f));
                if (m.exact > best.exact) {
                    best = m;
                    best_file = f;
                }
            }
            QVERIFY2(best.samples > 20 && best.exact == best.samples,
                     qPrintable(QString("%1: %2 of %3 samples").arg(c.name).arg(best.exact).arg(best.samples)));
            const QString errors = decode_errors(best_file);
            QVERIFY2(errors.isEmpty(), qPrintable(c.name + ": " + errors.left(400)));
            ++recordings;
        }
        QCOMPARE(recordings, 3);
        QCOMPARE(pictures, 5);
    }

    void cleanupTestCase()
    {
        for (const auto &card : m_cards)
            QFile::remove(m_dir.filePath(card.first));
    }
};

QTEST_GUILESS_MAIN(TestPartitionGrids)
#include "test_partition_grids.moc"
