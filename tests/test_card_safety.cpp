// The card is never written, whatever the program does with it; and a
// destination that fills up stops or skips with a clear error, never
// reporting a file written that was not.
#include "card_builder/card_writer.h"
#include "card_builder/demo_card.h"
#include "card_builder/media_encoder.h"
#include "drives/device_size.h"
#include "drives/drive_table.h"
#include "image/image_copy.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"

#include <QCryptographicHash>
#include <QProcess>
#include "support/temp_image.h"

#include <QtTest>
#include <unistd.h>

using namespace card;

namespace {

QByteArray sha256_of(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (f.open(QIODevice::ReadOnly))
        hash.addData(&f);
    return hash.result().toHex();
}

// Scans a file or a device, its size taken from the device itself.
void scan_source(const QString &path)
{
    std::uint64_t size = 0;
    QString error;
    QVERIFY2(source_byte_size(path, &size, &error), qPrintable(error));
    image_path = path;
    image_size = size;
    select_disk = disk_num;
    creatimage_aa scan;
    scan.start();
    scan.wait();
}

struct RecoveryEnd {
    int failed = -1;
    QString first_error;
    QList<QPair<QString, bool>> files;
};

RecoveryEnd run_recovery(const QString &folder)
{
    save_dir = folder;
    QDir().mkpath(folder);
    RecoveryEnd end;
    savefile_new thread;
    QObject::connect(&thread, &savefile_new::fileWritten, &thread,
                     [&](const QString &name, bool complete, const QString &) { end.files << qMakePair(name, complete); },
                     Qt::DirectConnection);
    QObject::connect(&thread, &savefile_new::recoveryFinished, &thread,
                     [&](int failed, const QString &why, qulonglong) { end.failed = failed; end.first_error = why; },
                     Qt::DirectConnection);
    thread.start();
    thread.wait();
    return end;
}

// A loop device of `file`, detached when the guard goes.
class Loop
{
public:
    explicit Loop(const QString &file)
    {
        QProcess p;
        p.start("losetup", {"--find", "--show", "--read-only", file});
        p.waitForFinished();
        if (p.exitCode() == 0)
            device = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }
    ~Loop()
    {
        if (!device.isEmpty())
            QProcess::execute("losetup", {"-d", device});
    }
    QString device;
};

// A tmpfs of `kib` KiB mounted at `dir`, unmounted when the guard goes.
class SmallDisk
{
public:
    SmallDisk(const QString &dir, int kib) : m_dir(dir)
    {
        QDir().mkpath(dir);
        mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", QString("size=%1k").arg(kib), "tmpfs", dir}) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute("umount", {m_dir});
    }
    bool mounted = false;

private:
    QString m_dir;
};

}  // namespace

class TestCardSafety : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_card;

private slots:
    void initTestCase()
    {
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot encode the demo card: " + why));
        Layout layout;
        QVERIFY2(demo_layout(m_dir.filePath("clips"), &layout, &why), qPrintable(why));
        m_card = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, m_card);
        QVERIFY2(built.ok, qPrintable(built.error));
        QVERIFY(QFile::setPermissions(m_card, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }

    void a_read_only_card_is_scanned_recovered_and_imaged_unchanged()
    {
        const QByteArray before = sha256_of(m_card);
        scan_source(m_card);
        QVERIFY(video_total > 0);
        const RecoveryEnd end = run_recovery(m_dir.filePath("out"));
        QCOMPARE(end.failed, 0);
        QString error;
        auto source = FileSource::open(m_card, &error);
        QVERIFY(source);
        QVERIFY(copy_to_image(*source, image_size, m_dir.filePath("copy.img"), nullptr).ok);
        QCOMPARE(sha256_of(m_card), before);
        QCOMPARE(sha256_of(m_dir.filePath("copy.img")), before);
    }

    void a_read_only_loop_device_is_never_written()
    {
        if (getuid() != 0)
            QSKIP("attaching a loop device needs root");
        const QByteArray before = sha256_of(m_card);
        Loop loop(m_card);
        if (loop.device.isEmpty())
            QSKIP("losetup could not attach a loop device here");
        scan_source(loop.device);
        QVERIFY(video_total > 0);
        QCOMPARE(run_recovery(m_dir.filePath("out-loop")).failed, 0);
        creatimage copy(loop.device, image_size, m_dir.filePath("loop-copy.img"));
        copy.start();
        copy.wait();
        QCOMPARE(sha256_of(loop.device), before);
        QCOMPARE(sha256_of(m_card), before);
        QCOMPARE(sha256_of(m_dir.filePath("loop-copy.img")), before);
    }

    void a_full_destination_is_reported()
    {
        if (getuid() != 0)
            QSKIP("mounting a small file system needs root");
        const QString small = m_dir.filePath("small");
        SmallDisk disk(small, 512);
        if (!disk.mounted)
            QSKIP("a tmpfs cannot be mounted here");
        scan_source(m_card);

        // Recovery: some files do not fit. Those reported complete are whole.
        const RecoveryEnd end = run_recovery(small + "/KorvoRecoverFile");
        QVERIFY(end.failed > 0);
        QVERIFY2(end.first_error.contains("No space left on device"), qPrintable(end.first_error));
        QCOMPARE(end.files.size(), int(video_total + photo_num));
        int complete = 0;
        for (const auto &f : end.files)
            complete += f.second;
        QCOMPARE(complete, int(video_total + photo_num) - end.failed);

        // Image creation: an error, never "Finished".
        bool ok = true;
        QString error;
        creatimage copy(m_card, image_size, small + "/card.img");
        QObject::connect(&copy, &creatimage::copyFinished, &copy,
                         [&](bool good, qulonglong, const QString &why) { ok = good; error = why; }, Qt::DirectConnection);
        copy.start();
        copy.wait();
        QVERIFY(!ok);
        QVERIFY2(error.contains("No space left on device"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestCardSafety)
#include "test_card_safety.moc"
