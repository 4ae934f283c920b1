// A real failing card: a kernel file (through FUSE) whose reads fail over a
// chosen range. The scan and the drive copy lose exactly the units that
// cannot be read, count them, and go on.
#include "drives/drive_table.h"
#include "image/image_copy.h"
#include "scan/scan_tables.h"
#include "scan/scan_thread.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"

#include <QProcess>
#include <QtTest>
#include <unistd.h>

class TestFailingCard : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_fuse;
    QString m_mount;

private slots:
    void initTestCase()
    {
        if (getuid() != 0)
            QSKIP("mounting a FUSE file system needs root");
        if (!QFile::exists(QStringLiteral(FAILING_FILE)) || !QFile::exists("/dev/fuse"))
            QSKIP("FUSE is not available here (libfuse3 or /dev/fuse missing)");
        temp_dir = m_dir.filePath("work/");
        QString why;
        QVERIFY2(prepare_work_folder(temp_dir, &why), qPrintable(why));

        // 40 units: photos in units 2, 5 and 39; units 3 and 4 cannot be read.
        QByteArray card(40 * 32768, '\x80');
        for (int unit : {2, 5, 39}) {
            card.replace(unit * 32768, 8, QByteArray::fromHex("ffd8ffdb0043ffd9"));
        }
        const QString image = write_image(m_dir, "backing.img", card);
        m_mount = m_dir.filePath("mnt");
        QDir().mkpath(m_mount);
        m_fuse.start(QStringLiteral(FAILING_FILE),
                     {image, QString::number(3 * 32768 + 200), QString::number(5 * 32768 - 300), m_mount, "-f"});
        QVERIFY(m_fuse.waitForStarted());
        for (int i = 0; i < 100 && !QFile::exists(m_mount + "/card.img"); ++i)
            QThread::msleep(50);
        if (!QFile::exists(m_mount + "/card.img"))
            QSKIP("the FUSE file system did not come up here");
    }

    void cleanupTestCase()
    {
        if (m_fuse.state() != QProcess::NotRunning) {
            QProcess::execute("fusermount3", {"-u", m_mount});
            m_fuse.waitForFinished(5000);
        }
    }

    void the_scan_loses_only_the_bad_units()
    {
        select_image_source(m_mount + "/card.img");
        creatimage_aa scan;
        scan.start();
        scan.wait();
        QCOMPARE(photo_num, 3u);
        QCOMPARE(photo_list[1].position, std::uint64_t(5 * 32768));
        // The read stops 200 bytes into unit 3 and fails for all of unit 4.
        QCOMPARE(unreadable_bytes, std::uint64_t(2 * 32768 - 200));
    }

    void the_image_has_zeros_exactly_there()
    {
        QString error;
        auto source = FileSource::open(m_mount + "/card.img", &error);
        QVERIFY2(source, qPrintable(error));
        const QString copy = m_dir.filePath("copy.img");
        const CopyOutcome outcome = copy_to_image(*source, 40 * 32768, copy, nullptr);
        QVERIFY(outcome.ok);
        QCOMPARE(outcome.unreadable, std::uint64_t(2 * 32768 - 200));
        QFile f(copy), b(m_dir.filePath("backing.img"));
        QVERIFY(f.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QByteArray expected = b.readAll();
        expected.replace(3 * 32768 + 200, 2 * 32768 - 200, QByteArray(2 * 32768 - 200, '\0'));
        QVERIFY(f.readAll() == expected);
    }
};

QTEST_GUILESS_MAIN(TestFailingCard)
#include "test_failing_card.moc"
