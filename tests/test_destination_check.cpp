// Which recovery folders lie on the device being recovered: a fake sysfs
// tree of two disks, one with two partitions, and a mount table naming
// where a folder lies.
#include "drives/destination_check.h"

#include <QtTest>

class TestDestinationCheck : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    PlatformPaths m_paths;

    void device(const QString &path, const QString &devnum, bool partition)
    {
        const QString dir = m_paths.sysfs + "/devices/pci0/" + path;
        QVERIFY(QDir().mkpath(dir));
        QFile dev(dir + "/dev");
        QVERIFY(dev.open(QIODevice::WriteOnly));
        dev.write(devnum.toLatin1() + "\n");
        if (partition) {
            QFile p(dir + "/partition");
            QVERIFY(p.open(QIODevice::WriteOnly));
            p.write("1\n");
        }
        QVERIFY(QFile::link(dir, m_paths.sysfs + "/class/block/" + QFileInfo(path).fileName()));
    }

private slots:
    void initTestCase()
    {
        m_paths.sysfs = m_dir.filePath("sys");
        m_paths.dev = m_dir.filePath("dev");
        m_paths.mountinfo = m_dir.filePath("mountinfo");
        QVERIFY(QDir().mkpath(m_paths.sysfs + "/class/block"));
        QVERIFY(QDir().mkpath(m_paths.dev));
        device("sdb", "8:16", false);
        device("sdb/sdb1", "8:17", true);
        device("sdb/sdb2", "8:18", true);
        device("sdc", "8:32", false);
    }

    void refusal_data()
    {
        QTest::addColumn<QString>("mounted");  // the device holding the folder
        QTest::addColumn<QString>("source");   // the device being recovered
        QTest::addColumn<bool>("refused");
        QTest::newRow("the same partition") << "sdb1" << "sdb1" << true;
        QTest::newRow("a partition of the disk recovered") << "sdb2" << "sdb" << true;
        QTest::newRow("the disk of the partition recovered") << "sdb" << "sdb1" << true;
        QTest::newRow("the same whole disk") << "sdc" << "sdc" << true;
        QTest::newRow("another partition of its disk") << "sdb2" << "sdb1" << false;
        QTest::newRow("another disk") << "sdc" << "sdb" << false;
        QTest::newRow("a partition of another disk") << "sdb1" << "sdc" << false;
    }

    // The folder's file system names no listed device (as btrfs does): the
    // mount holding it, the deepest one, tells where it lies.
    void refusal()
    {
        QFETCH(QString, mounted);
        QFETCH(QString, source);
        QFETCH(bool, refused);
        const QString mount = m_dir.filePath("media/card");
        const BlockTree tree(m_paths.sysfs);
        const QString devnum = tree.by_name(mounted)->devnum;
        QFile info(m_paths.mountinfo);
        QVERIFY(info.open(QIODevice::WriteOnly | QIODevice::Truncate));
        info.write("22 1 0:30 / / rw - btrfs /dev/sdz rw\n");
        info.write(QString("40 22 %1 / %2 rw,relatime - vfat /dev/%3 rw\n").arg(devnum, mount, mounted).toUtf8());
        info.close();

        // A folder not made yet: its nearest existing parent counts.
        QVERIFY(QDir().mkpath(mount));
        const QString folder = mount + "/holiday/not-yet";
        QCOMPARE(device_holding(tree, folder, m_paths), mounted);
        QCOMPARE(shares_device(tree, device_holding(tree, folder, m_paths), source), refused);
    }

    // An image file as the source refuses no folder: writing beside it
    // harms nothing.
    void an_image_file_refuses_nothing()
    {
        QFile image(m_dir.filePath("card.img"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.resize(1 << 20));
        QCOMPARE(destination_on_source(m_dir.path(), image.fileName(), m_paths), QString());
    }
};

QTEST_GUILESS_MAIN(TestDestinationCheck)
#include "test_destination_check.moc"
