// The results page on a generated card, as a user meets it: what each cell
// says of its file, choosing files and recovering only those, an earlier
// recovery in the chosen folder, a folder on the card being read, a photo
// opened large, and New scan back to the start for the next card.
#include "app/main_window.h"
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "drives/drive_table.h"
#include "image/image_checks.h"
#include "preview/photo_viewer.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QBuffer>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

constexpr int SCAN_TIMEOUT_MS = 120000;
const QString CTRL_A_NOTE = QStringLiteral("Select the videos and photos to recover first");

// The kernel name of the block device holding `path`, when /dev has its
// node; empty otherwise (an overlay or a network file system).
QString block_device_holding(const QString &path)
{
    struct stat st{};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    QFile uevent(QStringLiteral("/sys/dev/block/%1:%2/uevent").arg(major(st.st_dev)).arg(minor(st.st_dev)));
    if (!uevent.open(QIODevice::ReadOnly))
        return QString();
    const QRegularExpressionMatch m = QRegularExpression("DEVNAME=(\\S+)").match(QString::fromLatin1(uevent.readAll()));
    return m.hasMatch() && QFileInfo::exists("/dev/" + m.captured(1)) ? m.captured(1) : QString();
}

}  // namespace

class TestWindowResults : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_card;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;

    template <class T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    QString status() { return child<QLabel>("label_scan_status")->text(); }
    QTableWidget *videos() { return child<QTableWidget>("tableWidget_2"); }
    QTableWidget *photos() { return child<QTableWidget>("tableWidget_3"); }
    QPoint cell(QTableWidget *grid, int n) { return grid->visualRect(grid->model()->index(n / 6, n % 6)).center(); }

    void new_window()
    {
        m_window.reset();
        m_harness = WindowHarness();
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
        m_window->show();
    }

    // Loads the card through the load button (which selects its row) and
    // scans it to the end.
    void scan_card()
    {
        m_harness.openAnswer = m_card;
        child<QPushButton>("pushButton_load")->click();
        child<QPushButton>("pushButton_scan")->click();
        QVERIFY(m_harness.messages.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Scan finished"), SCAN_TIMEOUT_MS);
    }

    // Recovers into `folder` with the button named, answering a question
    // with `answer`, and waits for the end notice.
    void recover(const char *button, const QString &folder, int answer = 0)
    {
        m_harness.folderAnswer = folder;
        m_harness.choiceAnswer = answer;
        const int before = m_harness.questions.size();
        child<QPushButton>(button)->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_harness.questions.size() > before
                                         && m_harness.questions.last().startsWith("Finished"),
                                 SCAN_TIMEOUT_MS);
        m_harness.choiceAnswer = 0;
    }

    static QStringList files(const QString &dir) { return QDir(dir).entryList(QDir::Files, QDir::Name); }

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
        new_window();
        scan_card();
    }

    void cleanupTestCase() { m_window.reset(); }

    // Every cell says what its file is: number, duration or pixel size and
    // size beneath the thumbnail, the details in its tooltip, taken from
    // the moov box and the plan; photos' pixel sizes as a JPEG reader sees
    // them.
    void cells_say_what_each_file_is()
    {
        for (int n = 0; n < 2; ++n) {
            QTableWidgetItem *item = videos()->item(0, n);
            QVERIFY(item);
            QVERIFY2(QRegularExpression(QString("^%1 · 0:0[1-9] · [0-9]+ KB$").arg(n)).match(item->text()).hasMatch(),
                     qPrintable(item->text()));
            const QString tip = item->toolTip();
            for (const QString &line : {QString("Video %1").arg(n), QString("Resolution: 640×360"), QString("Codec: H.264"),
                                        QString("What the card holds of it: intact")})
                QVERIFY2(tip.contains(line), qPrintable(tip));
            QVERIFY2(QRegularExpression("Frame rate: [0-9.]+ fps").match(tip).hasMatch(), qPrintable(tip));
            QVERIFY2(tip.contains(QString("Position on the card: byte %1 ").arg(group_list[std::uint32_t(n)].piece_pos[0])),
                     qPrintable(tip));
        }
        QFile card(m_card);
        QVERIFY(card.open(QIODevice::ReadOnly));
        for (std::uint32_t n = 0; n < photo_num; ++n) {
            QVERIFY(card.seek(qint64(photo_list[n].position)));
            QBuffer bytes;
            bytes.setData(card.read(qint64(photo_list[n].length)));
            const QSize size = QImageReader(&bytes, "JPEG").size();
            QVERIFY(size.isValid());
            const QString caption = QString("%1 · %2×%3 · ").arg(n).arg(size.width()).arg(size.height());
            QTRY_VERIFY2(photos()->item(int(n / 6), int(n % 6))->text().startsWith(caption),
                         qPrintable(photos()->item(int(n / 6), int(n % 6))->text() + " / " + caption));
            QVERIFY(photos()->item(int(n / 6), int(n % 6))->toolTip().contains(
                    QString("Pixel size: %1×%2").arg(size.width()).arg(size.height())));
        }
    }

    // Click, Ctrl+click and Shift+click choose cells of each grid; the
    // recovery writes those files only, under their own numbers.
    void recover_selected_writes_only_the_chosen_files()
    {
        QTest::mouseClick(videos()->viewport(), Qt::LeftButton, {}, cell(videos(), 1));
        QTest::mouseClick(photos()->viewport(), Qt::LeftButton, {}, cell(photos(), 1));
        QTest::mouseClick(photos()->viewport(), Qt::LeftButton, Qt::ShiftModifier, cell(photos(), 3));
        QTest::mouseClick(photos()->viewport(), Qt::LeftButton, Qt::ControlModifier, cell(photos(), 5));
        QTest::mouseClick(photos()->viewport(), Qt::LeftButton, Qt::ControlModifier, cell(photos(), 2));
        const QString folder = m_dir.filePath("chosen");
        recover("button_recover_selected", folder);
        const QString out = folder + "/KorvoRecoverFile";
        QCOMPARE(files(out), (QStringList{"1.jpg", "1.mp4", "3.jpg", "5.jpg"}));
        QCOMPARE(m_harness.questions.last(),
                 "Finished: 1 video and 3 photos written into " + out + ".\nVideos: 1 intact.\nPhotos: 3 intact.");
        QVERIFY(child<QPushButton>("button_recover_selected")->isEnabled());
    }

    // Ctrl+A takes a whole grid; with nothing chosen the user is told how.
    void select_all_and_nothing_selected()
    {
        videos()->clearSelection();
        photos()->clearSelection();
        const int asked = m_harness.captions.size();
        child<QPushButton>("button_recover_selected")->click();
        QCOMPARE(m_harness.messages.size(), 1);
        QVERIFY(m_harness.messages[0].startsWith(CTRL_A_NOTE));
        QCOMPARE(m_harness.captions.size(), asked);  // no folder was asked for
        m_harness.messages.clear();

        videos()->setFocus();
        QTest::keyClick(videos(), Qt::Key_A, Qt::ControlModifier);
        const QString folder = m_dir.filePath("all-videos");
        recover("button_recover_selected", folder);
        QCOMPARE(files(folder + "/KorvoRecoverFile"), (QStringList{"0.mp4", "1.mp4"}));
        videos()->clearSelection();
    }

    // A folder that holds an earlier recovery: written over when the user
    // says so, else the new files go beside it into KorvoRecoverFile-2;
    // cancelling writes nothing.
    void an_earlier_recovery_is_not_written_over_unasked()
    {
        const QString folder = m_dir.filePath("again");
        recover("button_recover", folder);
        const QString first = folder + "/KorvoRecoverFile";
        const QStringList all{"0.jpg", "0.mp4", "1.jpg", "1.mp4", "2.jpg", "3.jpg", "4.jpg", "5.jpg"};
        QCOMPARE(files(first), all);
        QVERIFY(QFile::remove(first + "/0.mp4"));
        QFile mine(first + "/notes.txt");
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
        mine.close();

        recover("button_recover", folder, 1);  // a new folder beside it
        QCOMPARE(m_harness.questions[m_harness.questions.size() - 2],
                 first + " already holds recovered files.\n\nWrite over them, or put this recovery into a new folder "
                         "KorvoRecoverFile-2 beside it?");
        QCOMPARE(m_harness.answers[m_harness.answers.size() - 2],
                 (QStringList{"Write over them", "Use KorvoRecoverFile-2", "Cancel"}));
        QCOMPARE(files(folder + "/KorvoRecoverFile-2"), all);
        QVERIFY(!QFile::exists(first + "/0.mp4"));
        QCOMPARE(save_dir, folder + "/KorvoRecoverFile-2");

        const int asked = m_harness.questions.size();
        m_harness.folderAnswer = folder;
        m_harness.choiceAnswer = 2;  // Cancel
        child<QPushButton>("button_recover")->click();
        m_harness.choiceAnswer = 0;
        QCOMPARE(m_harness.questions.size(), asked + 1);
        QVERIFY(!QFileInfo::exists(folder + "/KorvoRecoverFile-3"));
        QVERIFY(child<QPushButton>("button_recover")->isEnabled());

        recover("button_recover", folder, 0);  // write over
        QCOMPARE(files(first), all + QStringList{"notes.txt"});
        QVERIFY(!QFileInfo::exists(folder + "/KorvoRecoverFile-3"));
    }

    // The card being read is a drive: a folder on that very device is
    // refused with the reason, and nothing is written.
    void a_folder_on_the_card_being_read_is_refused()
    {
        const QString device = block_device_holding(m_dir.path());
        if (device.isEmpty())
            QSKIP("the test folder lies on no block device with a node in /dev");
        const int drive_before = select_disk;
        disk_num = 1;
        disk_list[0] = fake_drive(qPrintable(device), "CARD", 64ull << 30);
        select_disk = 0;
        QCOMPARE(source_path(), "/dev/" + device);

        const QString folder = m_dir.filePath("on-the-card");
        m_harness.folderAnswer = folder;
        m_harness.messages.clear();
        child<QPushButton>("button_recover")->click();
        QCOMPARE(m_harness.messages.size(), 1);
        QVERIFY2(m_harness.messages[0].startsWith("The recovered files cannot go there: " + folder + " lies on /dev/"
                                                  + device + ", the drive being recovered"),
                 qPrintable(m_harness.messages[0]));
        QVERIFY(!QFileInfo::exists(folder + "/KorvoRecoverFile"));
        QVERIFY(child<QPushButton>("button_recover")->isEnabled());
        QVERIFY(!m_window->workersRunning());

        disk_num = 0;
        select_disk = drive_before;
        m_harness.messages.clear();
    }

    // A double-click on a photo shows it large; Esc closes the viewer.
    void a_photo_opens_large()
    {
        QTest::mouseClick(photos()->viewport(), Qt::LeftButton, {}, cell(photos(), 3));
        QTest::mouseDClick(photos()->viewport(), Qt::LeftButton, {}, cell(photos(), 3));
        PhotoViewer *viewer = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *v = qobject_cast<PhotoViewer *>(w))
                viewer = v;
        QVERIFY(viewer);
        QVERIFY(viewer->isVisible());
        QVERIFY(viewer->showsPicture());
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Photo 3"));
        // Larger than its thumbnail cell.
        QVERIFY(viewer->width() > 160 && viewer->height() > 120);
        QPointer<PhotoViewer> open = viewer;
        QTest::keyClick(viewer, Qt::Key_Escape);
        QTRY_VERIFY(open.isNull());
    }

    // New scan: the start page again, the grids and this scan's work files
    // gone, the drive list read afresh; then a second scan runs as the
    // first did.
    void new_scan_goes_back_to_the_start()
    {
        QVERIFY(QFile::exists(temp_dir + "0.mp4"));
        auto *new_scan = child<QPushButton>("button_new_scan");
        QVERIFY(new_scan->isVisible());
        const int enumerations = m_harness.enumerations;
        new_scan->click();
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 0);
        QCOMPARE(videos()->rowCount(), 0);
        QCOMPARE(photos()->rowCount(), 0);
        QStringList left = QDir(temp_dir).entryList(QDir::Files);
        left.removeAll("ffmpeg");  // put back for the next scan's thumbnails
        QCOMPARE(left, QStringList());
        QCOMPARE(m_harness.enumerations, enumerations + 1);
        QCOMPARE(select_disk, -1);
        // The loaded image is still listed, and the next scan finds the same.
        auto *list = child<QTableWidget>("tableWidget");
        QCOMPARE(list->item(list->rowCount() - 1, 0)->text(), image_row_text(m_card, QFileInfo(m_card).size()));
        scan_card();
        QCOMPARE(child<QLabel>("label_video_info")->text(), QStringLiteral("Total found  2 video"));
        QCOMPARE(child<QLabel>("label_photo_info")->text(), QStringLiteral("Total found  6 photo"));
        QVERIFY(QFile::exists(temp_dir + "1.mp4"));
    }
};

QTEST_MAIN(TestWindowResults)
#include "test_window_results.moc"
