// The window end to end on a generated card: load the image, select its
// row, scan, and find what the card holds; a scan whose source is gone; a
// recovery into a folder; a scan cancelled while it reads.
#include "app/main_window.h"
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "image/image_checks.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

constexpr int SCAN_TIMEOUT_MS = 120000;
const QString SCANNED = QStringLiteral("Scan finished");

}  // namespace

class TestWindowEndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_card;
    card::Manifest m_manifest;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;

    template <class T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    QString status() { return child<QLabel>("label_scan_status")->text(); }
    bool shown(const char *name) { return !child<QWidget>(name)->isHidden(); }

    void new_window()
    {
        m_window.reset();
        m_harness = WindowHarness();
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
        m_window->show();
    }

    // Loads `image` through the load button and selects its row.
    void load_and_select(const QString &image)
    {
        m_harness.openAnswer = image;
        child<QPushButton>("pushButton_load")->click();
        auto *list = child<QTableWidget>("tableWidget");
        const int row = list->rowCount() - 1;
        QVERIFY(row >= 0);
        QCOMPARE(list->item(row, 0)->text(), image_row_text(image, QFileInfo(image).size()));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 0)).center());
        QCOMPARE(select_disk, row);
    }

    QByteArray card_bytes(std::uint64_t pos, std::uint64_t length)
    {
        QFile f(m_card);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(static_cast<qint64>(pos)))
            return {};
        return f.read(static_cast<qint64>(length));
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!card::ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg unusable: " + why));
        temp_dir = m_dir.filePath("work/");
        card::Layout layout;
        QVERIFY2(card::demo_layout(m_dir.filePath("cache"), &layout, &why), qPrintable(why));
        m_card = m_dir.filePath("card.img");
        const card::CardResult built = card::build_card(layout, m_card);
        QVERIFY2(built.ok, qPrintable(built.error));
        m_manifest = built.manifest;
        new_window();
    }

    void cleanupTestCase() { m_window.reset(); }

    void a_source_that_cannot_be_opened_sends_the_user_back()
    {
        const QString gone = m_dir.filePath("gone.img");
        QVERIFY(QFile::copy(m_card, gone));
        load_and_select(gone);
        QVERIFY(QFile::remove(gone));
        child<QPushButton>("pushButton_scan")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_harness.messages.size(), 1, 10000);
        QCOMPARE(m_harness.titles, QStringList{"Information"});
        const QString message = m_harness.messages[0];
        QVERIFY2(message.contains(gone) && message.contains("root") && message.contains("disk group"), qPrintable(message));
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    }

    void scan_finds_every_video_and_photo()
    {
        load_and_select(m_card);
        child<QPushButton>("pushButton_scan")->click();
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 1);
        QCOMPARE(status(), QStringLiteral("Scanning"));
        QVERIFY(shown("button_cancle"));
        QVERIFY(!shown("button_preview") && !shown("button_recover"));
        QVERIFY(shown("progressBar_creatimage"));

        QTRY_COMPARE_WITH_TIMEOUT(status(), SCANNED, SCAN_TIMEOUT_MS);
        QCOMPARE(child<QLabel>("label_scan_info")->text(), QStringLiteral("Scan finished,preview or recover the files."));
        QCOMPARE(child<QLabel>("label_scan_time")->text(), QString());
        QCOMPARE(child<QLabel>("label_video_info")->text(), QStringLiteral("Total found  2 video"));
        QCOMPARE(child<QLabel>("label_photo_info")->text(), QStringLiteral("Total found  6 photo"));
        QVERIFY(shown("button_preview") && shown("button_recover"));
        QVERIFY(!shown("button_cancle") && !shown("progressBar_creatimage"));

        const struct { const char *grid; int count; const char *prefix; } grids[] = {
            {"tableWidget_2", 2, ""}, {"tableWidget_3", 6, "ab"}};
        for (const auto &g : grids) {
            auto *grid = child<QTableWidget>(g.grid);
            QCOMPARE(grid->rowCount(), 1 + g.count / 6);
            for (int n = 0; n < grid->rowCount() * 6; ++n) {
                QTableWidgetItem *item = grid->item(n / 6, n % 6);
                QCOMPARE(item != nullptr, n < g.count);
                if (!item)
                    continue;
                const QImage thumbnail(temp_dir + g.prefix + QString::number(n) + ".png");
                QVERIFY2(!thumbnail.isNull(), qPrintable(QString("%1 thumbnail %2").arg(g.grid).arg(n)));
                QCOMPARE(item->icon().pixmap(1024, 1024).toImage().convertToFormat(QImage::Format_RGB32),
                         thumbnail.convertToFormat(QImage::Format_RGB32));
            }
        }
    }

    void recovery_writes_every_file_and_says_finished()
    {
        QCOMPARE(status(), SCANNED);
        m_harness.messages.clear();
        m_harness.folderAnswer = m_dir.filePath("chosen");
        auto *recover = child<QPushButton>("button_recover");
        recover->click();
        QCOMPARE(m_harness.captions.last(), QStringLiteral("Find Files"));
        QVERIFY(!recover->isEnabled());
        QCOMPARE(status(), QStringLiteral("Recovering File ."));
        const QString folder = m_harness.folderAnswer + "/KorvoRecoverFile";
        QTRY_COMPARE_WITH_TIMEOUT(m_harness.questions,
                                  QStringList{"Finished: 2 videos and 6 photos written into " + folder
                                              + ".\nVideos: 2 intact.\nPhotos: 6 intact."},
                                  SCAN_TIMEOUT_MS);
        QVERIFY(m_harness.messages.isEmpty());
        // The status line names the last file written.
        QCOMPARE(child<QLabel>("label_scan_time")->text(), folder + "/5.jpg");
        QCOMPARE(save_dir, folder);
        QCOMPARE(status(), QStringLiteral("Recovering video file finished !"));
        QCOMPARE(child<QLabel>("label_scan_info")->text(), folder);
        QVERIFY(recover->isEnabled());
        QVERIFY(!shown("progressBar_creatimage"));
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 (QStringList{"0.jpg", "0.mp4", "1.jpg", "1.mp4", "2.jpg", "3.jpg", "4.jpg", "5.jpg"}));
        // Photos are the card's bytes from their start; videos play.
        for (std::uint32_t j = 0; j < photo_num; ++j) {
            QFile photo(folder + "/" + QString::number(j) + ".jpg");
            QVERIFY(photo.open(QIODevice::ReadOnly));
            QCOMPARE(photo.readAll(), card_bytes(photo_list[j].position, photo_list[j].length));
        }
        const QString ffprobe = QStandardPaths::findExecutable("ffprobe");
        for (int n = 0; n < 2 && !ffprobe.isEmpty(); ++n) {
            QProcess probe;
            probe.start(ffprobe, {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                                  folder + "/" + QString::number(n) + ".mp4"});
            QVERIFY(probe.waitForFinished(30000));
            QVERIFY2(probe.readAllStandardOutput().contains("h264"), qPrintable(QString("video %1").arg(n)));
        }
    }

    // The card with a cluster of its first recording overwritten by noise
    // from its end: the end notice says that one file is partial.
    void recovery_says_how_many_files_are_partial()
    {
        const QString damaged = m_dir.filePath("damaged.img");
        QVERIFY(QFile::copy(m_card, damaged));
        {
            const card::PlacedFile *video = m_manifest.find("VID_0001.MP4");
            QVERIFY(video && video->size > 6 * card::STEP);
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(f.size() - qint64(card::STEP)));
            const QByteArray noise = f.read(qint64(card::STEP));
            QVERIFY(f.seek(qint64(video->start() + 5 * card::STEP)));
            QCOMPARE(f.write(noise), qint64(card::STEP));
        }
        new_window();
        load_and_select(damaged);
        child<QPushButton>("pushButton_scan")->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(), SCANNED, SCAN_TIMEOUT_MS);
        m_harness.folderAnswer = m_dir.filePath("chosen-damaged");
        child<QPushButton>("button_recover")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_harness.questions.size(), 1, SCAN_TIMEOUT_MS);
        QCOMPARE(m_harness.questions[0],
                 QStringLiteral("Finished: 2 videos and 6 photos written into %1/KorvoRecoverFile.\nVideos: 1 intact, 1 "
                                "partial.\nPhotos: 6 intact.\nA partial file lacks parts that were not found on the card.")
                         .arg(m_harness.folderAnswer));
    }

    // A long card with one more photo far out: cancelled while reading, the
    // scan ends with what it found before the cancel, and says it was
    // cancelled, how much it read and that its counts are partial.
    void cancel_while_reading()
    {
        const QString big = m_dir.filePath("big.img");
        QVERIFY(QFile::copy(m_card, big));
        {
            const card::PlacedFile *photo = m_manifest.find("IMG_0001.JPG");
            QVERIFY(photo);
            const QByteArray bytes = card_bytes(photo->start(), photo->size);
            QFile f(big);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(3ll << 30));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
            QVERIFY(f.resize(4ll << 30));
        }
        new_window();
        load_and_select(big);
        child<QPushButton>("pushButton_scan")->click();
        QVERIFY(m_window->workersRunning());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>("label_scan_time")->text().startsWith("Time remaining: "), 10000);
        child<QPushButton>("button_cancle")->click();
        QCOMPARE(scan_flag, 0);
        QVERIFY(!shown("button_cancle"));

        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Scan cancelled"), SCAN_TIMEOUT_MS);
        const QString info = child<QLabel>("label_scan_info")->text();
        QVERIFY2(QRegularExpression("^Cancelled after reading [0-9.]+ [KMG]B of 4.29 GB \\([0-9]+%\\): what was found "
                                    "before is listed; the counts are partial\\.$")
                         .match(info)
                         .hasMatch(),
                 qPrintable(info));
        QCOMPARE(child<QLabel>("label_video_info")->text(),
                 QStringLiteral("Total found  2 video (partial: the scan was cancelled)"));
        QCOMPARE(child<QLabel>("label_photo_info")->text(),
                 QStringLiteral("Total found  6 photo (partial: the scan was cancelled)"));
        QVERIFY(!shown("button_cancle"));
        QVERIFY(shown("button_preview") && shown("button_recover"));
        QTRY_VERIFY(!m_window->workersRunning());
        QVERIFY(QFile::remove(big));
    }
};

QTEST_MAIN(TestWindowEndToEnd)
#include "test_window_end_to_end.moc"
