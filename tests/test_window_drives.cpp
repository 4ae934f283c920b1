// The drive list and device events: which events rebuild the list, what a
// rebuild does to the image rows and the selection, the selection handler,
// and one real kernel event through the libudev monitor.
#include "app/main_window.h"
#include "drives/device_monitor.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QProcess>
#include <QtTest>
#include <unistd.h>

class TestWindowDrives : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;
    QTableWidget *m_list = nullptr;
    QStackedWidget *m_pages = nullptr;

    const DiskInfo E = fake_drive("sde1", "E", 1ull << 30);
    const DiskInfo F = fake_drive("sdf1", "F", 2ull << 30);
    const DiskInfo G = fake_drive("sdg1", "G", 4ull << 30);

    QString m_image;

    void rebuild_with(const std::vector<DiskInfo> &drives)
    {
        m_harness.drives = drives;
        m_window->deviceEvent("add", "disk");
    }
    void load_image_row()
    {
        m_harness.openAnswer = m_image;
        QMetaObject::invokeMethod(m_window.get(), "on_pushButton_load_clicked");
    }
    void click_row(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QRect cell = m_list->visualRect(m_list->model()->index(row, 0));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, modifiers, cell.center());
    }
    QStringList row_texts() const
    {
        QStringList l;
        for (int i = 0; i < m_list->rowCount(); ++i)
            l << (m_list->item(i, 0) ? m_list->item(i, 0)->text() : QString());
        return l;
    }

private slots:
    void initTestCase()
    {
        temp_dir = m_dir.filePath("work/");
        m_image = m_dir.filePath("card.img");
        QFile f(m_image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(1 << 20));
        f.close();
        m_harness.drives = {E, F};
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
        m_window->show();
        m_list = m_window->findChild<QTableWidget *>("tableWidget");
        m_pages = m_window->findChild<QStackedWidget *>("stackedWidget");
    }

    void init()
    {
        m_pages->setCurrentIndex(0);
        rebuild_with({E, F});
        select_disk = -1;
    }

    void events_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("devtype");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("line");  // empty: the event changes nothing
        const QString arrived = "USB_Arrived and The USBDisk is: ";
        QTest::newRow("disk added") << "add" << "disk" << 0 << arrived;
        QTest::newRow("partition added") << "add" << "partition" << 0 << arrived;
        QTest::newRow("disk removed") << "remove" << "disk" << 0 << "USB_Removed";
        QTest::newRow("partition removed") << "remove" << "partition" << 0 << "USB_Removed";
        QTest::newRow("media changed") << "change" << "disk" << 0 << "";
        QTest::newRow("partition changed") << "change" << "partition" << 0 << "";
        QTest::newRow("bound to a driver") << "bind" << "disk" << 0 << "";
        QTest::newRow("added while results show") << "add" << "disk" << 1 << "";
        QTest::newRow("removed while results show") << "remove" << "partition" << 1 << "";
        QTest::newRow("changed while results show") << "change" << "disk" << 1 << "";
    }

    void events()
    {
        QFETCH(QString, action);
        QFETCH(QString, devtype);
        QFETCH(int, page);
        QFETCH(QString, line);
        load_image_row();
        const QStringList before = row_texts();
        QCOMPARE(before.size(), 3);
        m_pages->setCurrentIndex(page);
        m_harness.drives = {G, E, F};
        const int enumerations = m_harness.enumerations;

        DebugLines debug;
        m_window->deviceEvent(action, devtype);

        if (line.isEmpty()) {
            QCOMPARE(debug.lines(), QStringList());
            QCOMPARE(m_harness.enumerations, enumerations);
            QCOMPARE(row_texts(), before);
            QCOMPARE(disk_num, 2);
        } else {
            QCOMPARE(debug.lines(), QStringList{line});
            QCOMPARE(m_harness.enumerations, enumerations + 1);
            QCOMPARE(disk_num, 3);
            // All drives anew, the image row gone, each row with the disk icon.
            QCOMPARE(row_texts(), (QStringList{disk_display_text(G), disk_display_text(E), disk_display_text(F)}));
            for (int i = 0; i < 3; ++i)
                QVERIFY(!m_list->item(i, 0)->icon().isNull());
            QCOMPARE(m_list->horizontalHeaderItem(0)->text(), QStringLiteral("Please connect your Korvo SD card to computer ."));
        }
    }

    void no_drive_leaves_only_the_prompt()
    {
        rebuild_with({});
        QCOMPARE(m_list->rowCount(), 0);
        QCOMPARE(m_list->horizontalHeaderItem(0)->text(), QStringLiteral("Please connect your Korvo SD card to computer ."));
    }

    // E and F listed, F selected; F goes: the list shows only E with nothing
    // selected, and select_disk stays 1, which now names the image.
    void removal_keeps_the_selected_index()
    {
        click_row(1);
        QCOMPARE(select_disk, 1);
        image_path = m_image;
        image_size = 1 << 20;
        m_harness.drives = {E};
        m_window->deviceEvent("remove", "partition");
        QCOMPARE(row_texts(), QStringList{disk_display_text(E)});
        QVERIFY(m_list->selectedItems().isEmpty());
        QCOMPARE(select_disk, 1);
        QCOMPARE(source_path(), m_image);
    }

    void selection_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("source");
        QTest::newRow("first drive") << 0 << "/dev/sde1";
        QTest::newRow("second drive") << 1 << "/dev/sdf1";
        QTest::newRow("image row") << 2 << "image";
    }

    void selection()
    {
        QFETCH(int, row);
        QFETCH(QString, source);
        load_image_row();
        click_row(row);
        QCOMPARE(select_disk, row);
        QCOMPARE(source_path(), source == "image" ? m_image : source);
    }

    // Keyboard moves select the new row before the current index follows:
    // the handler must still store the row now selected.
    void keyboard_selection_names_the_new_row()
    {
        click_row(0);
        m_list->setFocus();
        QTest::keyClick(m_list, Qt::Key_Down);
        QCOMPARE(m_list->selectedItems().value(0)->row(), 1);
        QCOMPARE(select_disk, 1);
    }

    void deselecting_keeps_the_choice()
    {
        click_row(1);
        click_row(1, Qt::ControlModifier);
        QVERIFY(m_list->selectedItems().isEmpty());
        QCOMPARE(select_disk, 1);
    }

    // A real "add" from the kernel for a loop device reaches the monitor and
    // rebuilds the list.
    void kernel_event_through_the_monitor()
    {
        if (geteuid() != 0)
            QSKIP("writing a uevent needs root");
        QVERIFY(m_window->deviceMonitor()->isListening());
        const QString backing = m_dir.filePath("loop.img");
        QFile f(backing);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(1 << 20));
        f.close();
        QProcess losetup;
        losetup.start("losetup", {"--find", "--show", "--read-only", backing});
        if (!losetup.waitForFinished(10000) || losetup.exitCode() != 0)
            QSKIP(qPrintable("no loop device: " + QString::fromLocal8Bit(losetup.readAllStandardError())));
        const QString device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        const QString name = QFileInfo(device).fileName();

        QSignalSpy events(m_window->deviceMonitor(), &DeviceMonitor::blockDeviceEvent);
        const int enumerations = m_harness.enumerations;
        QTest::qWait(200);  // let the attach's own events pass
        events.clear();
        {
            QFile uevent("/sys/class/block/" + name + "/uevent");
            const bool written = uevent.open(QIODevice::WriteOnly) && uevent.write("add") == 3;
            uevent.close();
            QProcess::execute("losetup", {"--detach", device});
            QVERIFY2(written, qPrintable(uevent.errorString()));
        }
        // Other programs may attach devices meanwhile: look for ours among them.
        QTRY_VERIFY_WITH_TIMEOUT(events.contains(QVariantList{"add", "disk"}), 5000);
        QVERIFY(m_harness.enumerations > enumerations);
    }
};

QTEST_MAIN(TestWindowDrives)
#include "test_window_drives.moc"
