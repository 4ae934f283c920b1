// tessaro-cli end to end: a card built from the sample recordings, scanned
// and recovered through the real program; its exit statuses.
#include "card_builder/card_writer.h"
#include "card_builder/photo_headers.h"
#include "support/chunk_compare.h"
#include "support/sample_compare.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace card;

namespace {

struct Run {
    int status;
    QByteArray out;
    QByteArray err;
};

Run tessaro_cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TESSARO_CLI), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QByteArray ftyp_box(const char *brand)
{
    return QByteArray("\x00\x00\x00\x14" "ftyp", 8) + QByteArray(brand, 4) + QByteArray(8, '\0');
}

// The figures a run reports, by their JSON key, from the JSON object or from
// the lines of the text summary.
QMap<QString, qint64> figures(const QByteArray &out, bool json)
{
    QMap<QString, qint64> found;
    if (json) {
        const QJsonObject report = QJsonDocument::fromJson(out).object();
        for (const char *key : {"source_bytes_read", "scan_bytes_read", "recovery_bytes_read", "bytes_written",
                                "peak_memory_bytes"})
            if (report.contains(key))
                found[key] = qint64(report[key].toDouble());
        return found;
    }
    const QList<QPair<QString, QString>> lines{
            {"source_bytes_read", R"(source read: +(\d+) bytes)"},
            {"peak_memory_bytes", R"(peak memory: +(\d+) bytes)"},
            {"source_bytes_read", R"(\nRead (\d+) bytes)"},
            {"scan_bytes_read", R"(: the scan (\d+),)"},
            {"recovery_bytes_read", R"(, the recovery (\d+)\n)"},
            {"bytes_written", R"(\nWrote (\d+) bytes\n)"},
            {"peak_memory_bytes", R"(\nPeak memory (\d+) bytes\n)"}};
    for (const auto &line : lines) {
        const QRegularExpressionMatch m = QRegularExpression(line.second).match(QString::fromUtf8(out));
        if (m.hasMatch())
            found[line.first] = m.captured(1).toLongLong();
    }
    return found;
}

qint64 folder_bytes(const QString &folder)
{
    qint64 sum = 0;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files))
        sum += f.size();
    return sum;
}

// The /dev node of the block device holding `path`; empty when there is
// none (an overlay or a network file system).
QString block_device_holding(const QString &path)
{
    struct stat st{};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    QFile uevent(QStringLiteral("/sys/dev/block/%1:%2/uevent").arg(major(st.st_dev)).arg(minor(st.st_dev)));
    if (!uevent.open(QIODevice::ReadOnly))
        return QString();
    const QRegularExpressionMatch m = QRegularExpression("DEVNAME=(\\S+)").match(QString::fromLatin1(uevent.readAll()));
    return m.hasMatch() && QFileInfo::exists("/dev/" + m.captured(1)) ? "/dev/" + m.captured(1) : QString();
}

QList<qint64> numbers(const QJsonArray &a, int field = -1)
{
    QList<qint64> out;
    for (const QJsonValue &v : a)
        out << qint64(field < 0 ? v.toDouble() : v.toArray().at(field).toDouble());
    return out;
}

}  // namespace

class TestCli : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_card;
    Manifest m_manifest;

private slots:
    void initTestCase()
    {
        const QString samples = qEnvironmentVariable("TESSARO_SAMPLES");
        const QString karma = samples + "/gopro-karma.mp4", max = samples + "/gopro-max-heromode.mp4";
        if (!QFile::exists(karma) || !QFile::exists(max))
            QSKIP("the sample recordings are not there (set TESSARO_SAMPLES)");

        // As a camera fills its card: a marker photo before and after each
        // recording, loose photos after them; then starts of the other brands.
        Layout layout;
        layout.contiguous(Content::bytes("M1.JPG", with_photo_header(encode_test_jpeg(160, 120, Qt::red), PhotoHeader::Jfif)), 1 * MIB)
                .contiguous(Content::file(karma, "KARMA.MP4"))
                .contiguous(Content::bytes("M2.JPG", with_photo_header(encode_test_jpeg(160, 120, Qt::green), PhotoHeader::Exif2044)))
                .contiguous(Content::file(max, "MAX.MP4"), NEXT_FREE, 64 * KIB)
                .contiguous(Content::bytes("M3.JPG", with_photo_header(encode_test_jpeg(160, 120, Qt::blue), PhotoHeader::Exif14831)))
                .contiguous(Content::bytes("P1.JPG", with_photo_header(encode_test_jpeg(320, 240, Qt::gray), PhotoHeader::Plain)), NEXT_FREE, 32 * KIB)
                .contiguous(Content::bytes("P2.JPG", with_photo_header(encode_test_jpeg(320, 240, Qt::cyan), PhotoHeader::Plain)))
                .contiguous(Content::bytes("AV.MP4", ftyp_box("avc1")), NEXT_FREE, MIB)
                .contiguous(Content::bytes("MS.MP4", ftyp_box("MSNV")))
                .contiguous(Content::bytes("QT.MOV", ftyp_box("qt  ")))
                .contiguous(Content::bytes("OFFGRID", ftyp_box("mp42")), NEXT_FREE, MIB);
        m_card = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, m_card);
        QVERIFY2(built.ok, qPrintable(built.error));
        m_manifest = built.manifest;

        // Move the last start 4,096 bytes off the grid.
        const std::uint64_t at = m_manifest.find("OFFGRID")->start();
        QFile f(m_card);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(qint64(at));
        const QByteArray box = f.read(20);
        f.seek(qint64(at));
        f.write(QByteArray(20, '\x80'));
        f.seek(qint64(at + 4096));
        f.write(box);
    }

    void scan_lists_every_start_at_its_position()
    {
        const Run run = tessaro_cli({"scan", m_card, "--json"});
        QCOMPARE(run.status, 0);
        QJsonParseError parse;
        const QJsonObject report = QJsonDocument::fromJson(run.out, &parse).object();
        QVERIFY2(parse.error == QJsonParseError::NoError, qPrintable(parse.errorString() + run.out));

        auto at = [&](const char *name) { return qint64(m_manifest.find(name)->start()); };
        QCOMPARE(numbers(report["start_list"].toArray(), 0),
                 (QList<qint64>{at("M1.JPG"), at("KARMA.MP4"), at("M2.JPG"), at("MAX.MP4"), at("M3.JPG"),
                                at("AV.MP4"), at("MS.MP4")}));
        QCOMPARE(numbers(report["start_list"].toArray(), 1), (QList<qint64>{1, 2, 1, 2, 1, 2, 2}));
        QCOMPARE(numbers(report["qt_list"].toArray()), QList<qint64>{at("QT.MOV")});
        QCOMPARE(numbers(report["photo_list"].toArray(), 0),
                 (QList<qint64>{at("M1.JPG"), at("M2.JPG"), at("M3.JPG"), at("P1.JPG"), at("P2.JPG")}));
        QCOMPARE(qint64(report["size"].toDouble()), qint64(QFileInfo(m_card).size()));
        QCOMPARE(report["source"].toString(), m_card);
        // Marker, recording, marker twice over: two groups of kind 1, each
        // with the moov box of its recording; then a group of its own for
        // each start after the last marker and for the QuickTime start.
        const QJsonArray groups = report["groups"].toArray();
        QCOMPARE(groups.size(), 5);
        QCOMPARE(groups[2].toObject()["kind"].toString(), QStringLiteral("single"));
        QCOMPARE(qint64(groups[4].toObject()["pieces"].toArray()[0].toDouble()), at("QT.MOV"));
        QCOMPARE(groups[0].toObject()["kind"].toInt(), 1);
        QCOMPARE(qint64(groups[1].toObject()["pieces"].toArray()[0].toDouble()), at("MAX.MP4"));
        QCOMPARE(groups[0].toObject()["moov"].toArray().size(), 1);
        QCOMPARE(report["video_total"].toInt(), 5);
    }

    void recover_writes_every_video_and_photo()
    {
        const QString folder = m_dir.filePath("out");
        const Run run = tessaro_cli({"recover", m_card, folder});
        QCOMPARE(run.status, 0);
        const QDir dir(folder + "/KorvoRecoverFile");
        QCOMPARE(dir.entryList(QDir::Files, QDir::Name),
                 (QStringList{"0.jpg", "0.mp4", "1.jpg", "1.mp4", "2.jpg", "2.mp4", "3.jpg", "3.mp4", "4.jpg", "4.mp4"}));
        // The camera recordings, laid contiguously, come back with at least
        // 99 % of their video chunks byte-identical.
        const QString samples = qEnvironmentVariable("TESSARO_SAMPLES");
        const QStringList originals{samples + "/gopro-karma.mp4", samples + "/gopro-max-heromode.mp4"};
        for (int n = 0; n < 2; ++n) {
            const ChunkMatch m = compare_chunks(read_file(originals[n]), read_file(dir.filePath(QString("%1.mp4").arg(n))));
            QVERIFY(m.single_frame > 250);
            QVERIFY2(m.exact_share() >= 0.99, qPrintable(QString("%1: %2 of %3").arg(originals[n]).arg(m.exact).arg(m.single_frame)));
        }
    }

    // The card with one 32 KiB cluster in the middle of the first recording
    // overwritten by noise from the card's end: every file is judged, and
    // the summary counts the verdicts.
    void recover_judges_every_file_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("JSON") << true;
        QTest::newRow("text") << false;
    }

    void recover_judges_every_file()
    {
        QFETCH(bool, json);
        const QString samples = qEnvironmentVariable("TESSARO_SAMPLES");
        const QByteArray karma = read_file(samples + "/gopro-karma.mp4"), max = read_file(samples + "/gopro-max-heromode.mp4");
        const std::uint64_t lost = 60 * STEP;
        const QString damaged = m_dir.filePath("damaged.img");
        if (!QFile::exists(damaged)) {
            QVERIFY(QFile::copy(m_card, damaged));
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(f.size() - qint64(STEP)));
            const QByteArray noise = f.read(qint64(STEP));
            QVERIFY(f.seek(qint64(m_manifest.find("KARMA.MP4")->start() + lost)));
            QCOMPARE(f.write(noise), qint64(STEP));
        }
        const ChunksAt at = chunks_at(karma, lost, lost + STEP);
        QVERIFY(at.starting > 0);
        const int whole = chunks_at(max, 0, 0).chunks;
        const auto located_fits = [&](int located) {
            return located >= at.chunks - at.touching && located <= at.chunks - at.starting;
        };

        const QString folder = m_dir.filePath(QStringLiteral("judged-%1").arg(json));
        const Run run = tessaro_cli(json ? QStringList{"recover", damaged, folder, "--json"}
                                         : QStringList{"recover", damaged, folder});
        QCOMPARE(run.status, 0);
        const QString dir = folder + "/KorvoRecoverFile/";
        if (json) {
            const QJsonObject report = QJsonDocument::fromJson(run.out).object();
            QStringList verdicts;
            for (const QJsonValue &v : report["files"].toArray()) {
                const QJsonObject f = v.toObject();
                QString line = QFileInfo(f["name"].toString()).fileName() + " " + f["verdict"].toString();
                if (f.contains("chunks"))
                    line += QString(" %1/%2").arg(f["located"].toInt()).arg(f["chunks"].toInt());
                QVERIFY(f["complete"].toBool());
                verdicts << line;
            }
            const QRegularExpressionMatch m = QRegularExpression(R"(^0\.mp4 partial (\d+)/(\d+)$)").match(verdicts.value(0));
            QVERIFY2(m.hasMatch() && located_fits(m.captured(1).toInt()) && m.captured(2).toInt() == at.chunks,
                     qPrintable(verdicts.join(", ")));
            QCOMPARE(verdicts.mid(1), (QStringList{QString("1.mp4 intact %1/%1").arg(whole), "2.mp4 empty 0/0",
                                                   "3.mp4 empty 0/0", "4.mp4 empty 0/0", "0.jpg intact", "1.jpg intact",
                                                   "2.jpg intact", "3.jpg intact", "4.jpg intact"}));
            QCOMPARE(report["intact"].toInt(), 6);
            QCOMPARE(report["partial"].toInt(), 1);
            QCOMPARE(report["empty"].toInt(), 3);
        } else {
            const QString out = QString::fromUtf8(run.out);
            const QRegularExpressionMatch m =
                    QRegularExpression("\\n?wrote  " + QRegularExpression::escape(dir + "0.mp4")
                                       + R"( \(partial, (\d+) of (\d+) chunks found\)\n)")
                            .match(out);
            QVERIFY2(m.hasMatch() && located_fits(m.captured(1).toInt()) && m.captured(2).toInt() == at.chunks,
                     qPrintable(out));
            QVERIFY2(out.contains("wrote  " + dir + "1.mp4 (intact)\n") && out.contains("wrote  " + dir + "2.mp4 (empty, 0 of 0 chunks found)\n")
                             && out.contains("wrote  " + dir + "4.jpg (intact)\n"),
                     qPrintable(out));
            QVERIFY2(out.contains("\n6 intact, 1 partial, 3 empty\n"), qPrintable(out));
        }
    }

    // Both commands report what they read from the card and their peak
    // memory; the recovery also what it wrote, and its reading apart from
    // the scan's.
    void reading_and_writing_figures_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("json");
        QTest::addColumn<QStringList>("keys");

        const QStringList scan{"source_bytes_read", "peak_memory_bytes"};
        const QStringList recover = scan + QStringList{"scan_bytes_read", "recovery_bytes_read", "bytes_written"};
        QTest::newRow("scan, JSON") << "scan" << true << scan;
        QTest::newRow("scan, text") << "scan" << false << scan;
        QTest::newRow("recover, JSON") << "recover" << true << recover;
        QTest::newRow("recover, text") << "recover" << false << recover;
    }

    void reading_and_writing_figures()
    {
        QFETCH(QString, command);
        QFETCH(bool, json);
        QFETCH(QStringList, keys);
        const QString folder = m_dir.filePath(QStringLiteral("figures-%1-%2").arg(command).arg(json));
        QStringList args{command, m_card};
        if (command == "recover")
            args << folder;
        if (json)
            args << "--json";
        const Run run = tessaro_cli(args);
        QCOMPARE(run.status, 0);

        const QMap<QString, qint64> f = figures(run.out, json);
        QStringList got = f.keys(), want = keys;
        got.sort();
        want.sort();
        QVERIFY2(got == want, qPrintable(got.join(' ') + "\n" + run.out));
        // The scan reads every byte of the card at least once.
        const qint64 card_size = QFileInfo(m_card).size();
        QVERIFY2(f["source_bytes_read"] >= card_size, qPrintable(QString::number(f["source_bytes_read"])));
        // In bytes, not the kernel's KiB: any Qt process holds several MiB.
        QVERIFY2(f["peak_memory_bytes"] >= 4 * 1024 * 1024, qPrintable(QString::number(f["peak_memory_bytes"])));
        if (command == "recover") {
            QCOMPARE(f["bytes_written"], folder_bytes(folder + "/KorvoRecoverFile"));
            QVERIFY(f["scan_bytes_read"] >= card_size);
            QCOMPARE(f["scan_bytes_read"] + f["recovery_bytes_read"], f["source_bytes_read"]);
        }
    }

    void exit_statuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        QTest::newRow("no command") << QStringList{} << 1 << "usage";
        QTest::newRow("scan without source") << QStringList{"scan"} << 1 << "usage";
        QTest::newRow("unknown option") << QStringList{"scan", "x.img", "--fast"} << 1 << "usage";
        QTest::newRow("missing source") << QStringList{"scan", "/nonexistent/card.img"} << 2 << "No such file or directory";
        QTest::newRow("folder as source") << QStringList{"scan", "/"} << 2 << "Is a directory";
        QTest::newRow("recover from a missing source")
                << QStringList{"recover", "/nonexistent/card.img", "/tmp"} << 2 << "No such file or directory";
        QTest::newRow("image of a missing device")
                << QStringList{"image", "/nonexistent/dev", "/tmp/x.img"} << 2 << "No such file or directory";
    }

    void exit_statuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Run run = tessaro_cli(args);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
        QVERIFY(run.out.isEmpty() || status == 1);
    }

    // --only and --photos name the files to write, which keep their own
    // numbers; a number the scan did not find is a usage error.
    void recover_writes_only_the_chosen_files_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("one video") << QStringList{"--only", "1"} << 0 << QStringList{"1.mp4"};
        QTest::newRow("videos and photos") << QStringList{"--only", "4,0", "--photos", "3,1,3"} << 0
                                           << QStringList{"0.mp4", "1.jpg", "3.jpg", "4.mp4"};
        QTest::newRow("photos only") << QStringList{"--photos", "2"} << 0 << QStringList{"2.jpg"};
        QTest::newRow("a video not found") << QStringList{"--only", "1,5"} << 1 << QStringList{};
        QTest::newRow("not a number") << QStringList{"--only", "one"} << 1 << QStringList{};
        QTest::newRow("no number") << QStringList{"--photos"} << 1 << QStringList{};
    }

    void recover_writes_only_the_chosen_files()
    {
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, written);
        const QString folder = m_dir.filePath("chosen-" + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        const Run run = tessaro_cli(QStringList{"recover", m_card, folder} + options);
        QCOMPARE(run.status, status);
        QCOMPARE(QDir(folder + "/KorvoRecoverFile").entryList(QDir::Files, QDir::Name), written);
        if (status == 1)
            QVERIFY2(run.err.contains("usage") || run.err.contains("there is no video 5: the scan found 5, numbered 0 to 4"),
                     run.err.constData());
    }

    // Both summaries list each video with its duration, picture size,
    // codec, frame rate, size and verdict, as the moov box and the plan
    // give them; the figures are those of the sample recordings.
    void summaries_list_each_video()
    {
        const Run json = tessaro_cli({"scan", m_card, "--json"});
        QCOMPARE(json.status, 0);
        const QJsonArray list = QJsonDocument::fromJson(json.out).object()["video_list"].toArray();
        QCOMPARE(list.size(), 5);
        const struct { int width, height; double seconds; } samples[] = {{854, 480, 12.079}, {848, 480, 10.517}};
        for (int n = 0; n < 2; ++n) {
            const QJsonObject v = list[n].toObject();
            QCOMPARE(v["number"].toInt(), n);
            QCOMPARE(v["width"].toInt(), samples[n].width);
            QCOMPARE(v["height"].toInt(), samples[n].height);
            QCOMPARE(v["codec"].toString(), QStringLiteral("H.264"));
            QVERIFY2(qAbs(v["frame_rate"].toDouble() - 29.97) < 0.01, qPrintable(QString::number(v["frame_rate"].toDouble())));
            QVERIFY2(qAbs(v["duration_ms"].toDouble() / 1000 - samples[n].seconds) < 0.05,
                     qPrintable(QString::number(v["duration_ms"].toDouble())));
            QCOMPARE(v["verdict"].toString(), QStringLiteral("intact"));
            QVERIFY(v["size"].toDouble() > 1e6);
        }
        // Starts without a moov box: nothing of a recording is known.
        QCOMPARE(list[2].toObject()["verdict"].toString(), QStringLiteral("empty"));
        QCOMPARE(list[2].toObject()["codec"].toString(), QString());

        const Run text = tessaro_cli({"scan", m_card});
        QCOMPARE(text.status, 0);
        const QString out = QString::fromUtf8(text.out);
        QVERIFY2(QRegularExpression(R"(\n +0 +0:12 +854×480 +H\.264 +29\.97 fps +[0-9.]+ MB +intact\n)").match(out).hasMatch(),
                 qPrintable(out));
        QVERIFY2(QRegularExpression(R"(\n +2 +\? +\? +\? +\? +[0-9]+ KB +empty\n)").match(out).hasMatch(), qPrintable(out));

        const QString folder = m_dir.filePath("listed");
        const Run recovered = tessaro_cli({"recover", m_card, folder, "--only", "1"});
        QCOMPARE(recovered.status, 0);
        const QString summary = QString::fromUtf8(recovered.out);
        const qint64 size = QFileInfo(folder + "/KorvoRecoverFile/1.mp4").size();
        QVERIFY2(summary.contains("Recovered 1 of 5 videos and 0 of 5 photos into "), qPrintable(summary));
        QVERIFY2(QRegularExpression(QString(R"(\n +1 +0:11 +848×480 +H\.264 +29\.97 fps +%1 MB +intact\n)")
                                            .arg(QString::number(size / 1e6, 'f', 1).replace(".", "\\.")))
                         .match(summary)
                         .hasMatch(),
                 qPrintable(summary));
        const Run recovered_json = tessaro_cli({"recover", m_card, folder + "-json", "--only", "0", "--json"});
        const QJsonObject file = QJsonDocument::fromJson(recovered_json.out).object()["files"].toArray()[0].toObject();
        QCOMPARE(file["width"].toInt(), 854);
        QCOMPARE(file["codec"].toString(), QStringLiteral("H.264"));
    }

    // The engine's diagnostic lines reach stderr only when asked for.
    void diagnostics_only_with_verbose_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("plain") << false;
        QTest::newRow("--verbose") << true;
    }

    void diagnostics_only_with_verbose()
    {
        QFETCH(bool, verbose);
        QStringList args{"recover", m_card, m_dir.filePath(QString("verbose-%1").arg(verbose)), "--only", "0"};
        if (verbose)
            args.prepend("--verbose");
        const Run run = tessaro_cli(args);
        QCOMPARE(run.status, 0);
        for (const char *line : {"filename_save ==", "ftyp_ftyp_ftyp_loop_new"})
            QVERIFY2(run.err.contains(line) == verbose, run.err.constData());
        QVERIFY(!run.out.contains("filename_save"));
        QVERIFY(run.err.contains("reading 100%"));
    }

    void version()
    {
        const Run run = tessaro_cli({"--version"});
        QCOMPARE(run.status, 0);
        QVERIFY2(QRegularExpression(R"(^tessaro-cli \d+(\.\d+)+\n$)").match(QString::fromUtf8(run.out)).hasMatch(),
                 run.out.constData());
    }

    // Recovering a drive into a folder on that very drive would overwrite
    // what is being rescued: refused with the reason, status 3, nothing
    // read or written.
    void a_folder_on_the_source_is_refused()
    {
        const QString device = block_device_holding(m_dir.path());
        if (device.isEmpty())
            QSKIP("the test folder lies on no block device with a node in /dev");
        const QString folder = m_dir.filePath("on-the-source");
        const Run run = tessaro_cli({"recover", device, folder});
        if (run.status == 2)
            QSKIP(qPrintable("the size of " + device + " cannot be told here: " + run.err));
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains((folder + " lies on " + device + ", the drive being recovered").toUtf8()), run.err.constData());
        QVERIFY(!run.err.contains("reading"));
        QVERIFY(!QFileInfo::exists(folder));
    }

    void recover_into_a_folder_that_cannot_be_made()
    {
        // A folder beneath a regular file can never be created.
        const Run run = tessaro_cli({"recover", m_card, m_card + "/sub"});
        QCOMPARE(run.status, 3);
        QVERIFY(run.err.contains("cannot create"));
    }

    void image_copies_every_byte()
    {
        const QString copy = m_dir.filePath("copy.img");
        const Run run = tessaro_cli({"image", m_card, copy});
        QCOMPARE(run.status, 0);
        QFile a(m_card), b(copy);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY(a.readAll() == b.readAll());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
