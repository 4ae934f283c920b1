// Image files from the window: the refusals before a drive copy, a copy to
// its end with "Finished", a copy that fails, and loading image rows.
#include "app/main_window.h"
#include "image/image_checks.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QtTest>

class TestWindowImage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QTemporaryFile m_source{QStringLiteral("/tmp/tessaro-drive-XXXXXX")};  // read as /dev/../tmp/...
    QByteArray m_bytes;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;

    template <class T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    void create() { child<QPushButton>("pushButton_create")->click(); }
    void load() { child<QPushButton>("pushButton_load")->click(); }
    int rows() { return child<QTableWidget>("tableWidget")->rowCount(); }

private slots:
    void initTestCase()
    {
        temp_dir = m_dir.filePath("work/");
        m_bytes.resize(3 * 1024 * 1024 + 4096);
        for (int i = 0; i < m_bytes.size(); ++i)
            m_bytes[i] = char(i * 7 + i / 4096);
        QVERIFY(m_source.open());
        m_source.write(m_bytes);
        m_source.flush();
        const QByteArray device = "../tmp/" + QFileInfo(m_source.fileName()).fileName().toLatin1();
        m_harness.drives = {fake_drive(device.constData(), "CARD", std::uint64_t(m_bytes.size())),
                            fake_drive("tessaro-no-such-drive", "GONE", 1 << 20),
                            fake_drive("sdz1", "HUGE", 1ull << 50)};
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
    }

    void init()
    {
        m_harness.messages.clear();
        m_harness.captions.clear();
    }

    void refusals_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("answer");   // of the save dialog
        QTest::addColumn<QString>("message");  // empty: none
        QTest::addColumn<bool>("asked");
        QTest::newRow("nothing selected") << -1 << "x.img" << "please select disk" << false;
        QTest::newRow("image row selected") << 3 << "x.img" << "please select disk" << false;
        QTest::newRow("dialog cancelled") << 0 << "" << "" << true;
        QTest::newRow("no room for the drive") << 2 << "x.img" << "no have available space." << true;
    }

    void refusals()
    {
        QFETCH(int, selected);
        QFETCH(QString, answer);
        QFETCH(QString, message);
        QFETCH(bool, asked);
        select_disk = selected;
        image_path = "before";
        m_harness.saveAnswer = answer.isEmpty() ? QString() : m_dir.filePath(answer);
        create();
        QCOMPARE(m_harness.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(m_harness.captions, asked ? QStringList{"Save Image"} : QStringList());
        QCOMPARE(image_path, asked ? m_harness.saveAnswer : QStringLiteral("before"));
        QVERIFY(!QFile::exists(m_dir.filePath("x.img")));
        QVERIFY(child<QProgressBar>("progressBar_cc")->isHidden());
    }

    void copy_runs_to_the_end()
    {
        select_disk = 0;
        m_harness.saveAnswer = m_dir.filePath("copy.img");
        create();
        QVERIFY(!child<QProgressBar>("progressBar_cc")->isHidden());
        QVERIFY(!child<QLabel>("label_create")->isHidden());
        QTRY_COMPARE_WITH_TIMEOUT(m_harness.messages, QStringList{"Finished"}, 30000);
        QCOMPARE(m_harness.titles.last(), QStringLiteral("Information"));
        QVERIFY(child<QProgressBar>("progressBar_cc")->isHidden());
        QVERIFY(child<QLabel>("label_create")->isHidden());
        const QString total = QString::number(m_bytes.size());
        QCOMPARE(child<QLabel>("label_create")->text(), total + "  /  " + total + "  Creating Image ,please wait ...");
        QCOMPARE(child<QProgressBar>("progressBar_cc")->value(), 100);
        QFile copy(m_harness.saveAnswer);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll() == m_bytes);
    }

    void copy_that_cannot_read_its_drive_says_so()
    {
        select_disk = 1;
        m_harness.saveAnswer = m_dir.filePath("gone.img");
        create();
        QTRY_COMPARE_WITH_TIMEOUT(m_harness.messages.size(), 1, 30000);
        QVERIFY2(m_harness.messages[0] != "Finished" && m_harness.messages[0].contains(m_harness.saveAnswer),
                 qPrintable(m_harness.messages[0]));
        QVERIFY(child<QProgressBar>("progressBar_cc")->isHidden());
    }

    void copy_end_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qulonglong>("unreadable");
        QTest::addColumn<QString>("message");  // %1: the last copy's destination
        QTest::newRow("good") << true << 0ull << "Finished";
        QTest::newRow("unreadable ranges")
                << true << 65536ull << "Finished\n\n65536 bytes of the drive could not be read; the image holds zeros there.";
        QTest::newRow("write failed") << false << 0ull << "The image file %1 could not be created: disk full";
    }

    // Runs after the copies above; the message names the copy's own
    // destination, whatever a dialog chose since.
    void copy_end()
    {
        QFETCH(bool, ok);
        QFETCH(qulonglong, unreadable);
        QFETCH(QString, message);
        image_path = "/somewhere/else.img";
        child<QProgressBar>("progressBar_cc")->show();
        m_window->imageCopyFinished(ok, unreadable, "disk full");
        QCOMPARE(m_harness.messages, QStringList{message.replace("%1", m_dir.filePath("gone.img"))});
        QVERIFY(child<QProgressBar>("progressBar_cc")->isHidden());
    }

    // A read-only image loads; every load adds a row, which the scan can
    // choose; a cancelled or failed load adds none.
    void loading_adds_rows()
    {
        const QString image = m_dir.filePath("card.img");
        QVERIFY(QFile::copy(m_source.fileName(), image));
        QVERIFY(QFile::setPermissions(image, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        const int before = rows();

        m_harness.openAnswer = image;
        load();
        load();
        QCOMPARE(m_harness.captions, (QStringList{"Open Image file", "Open Image file"}));
        QCOMPARE(rows(), before + 2);
        QCOMPARE(image_size, std::uint64_t(m_bytes.size()));
        auto *list = child<QTableWidget>("tableWidget");
        for (int row : {before, before + 1}) {
            QCOMPARE(list->item(row, 0)->text(), image_row_text(image, image_size));
            QVERIFY(!list->item(row, 0)->icon().isNull());
        }
        // The row just loaded is selected, and with it the scan source: the
        // scan button does not ask for a disk.
        QCOMPARE(list->selectedItems(), QList<QTableWidgetItem *>{list->item(before + 1, 0)});
        QCOMPARE(select_disk, before + 1);
        QCOMPARE(source_path(), image);
        QVERIFY(m_harness.messages.isEmpty());

        m_harness.openAnswer = QString();
        load();
        QCOMPARE(image_path, QString());
        m_harness.openAnswer = m_dir.filePath("missing.img");
        load();
        QCOMPARE(m_harness.messages.size(), 1);
        QVERIFY2(m_harness.messages[0].contains("missing.img"), qPrintable(m_harness.messages[0]));
        QCOMPARE(rows(), before + 2);
        QCOMPARE(image_size, std::uint64_t(m_bytes.size()));
    }
};

QTEST_MAIN(TestWindowImage)
#include "test_window_image.moc"
