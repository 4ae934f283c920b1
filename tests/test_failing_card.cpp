// A real failing card: a kernel file (through FUSE) whose reads fail over
// chosen ranges. The scan, the recovery and the drive copy lose exactly the
// units that cannot be read, count them, and go on.
#include "card_builder/media_encoder.h"
#include "drives/drive_table.h"
#include "image/image_copy.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"
#include "support/temp_image.h"

#include <QProcess>
#include <QtTest>
#include <unistd.h>

namespace {
constexpr int U = 32768;
}

class TestFailingCard : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_fuse;
    QString m_mount;
    QByteArray m_card;
    QVector<QPair<int, int>> m_bad;
    bool m_has_clip = false;

private slots:
    void initTestCase()
    {
        if (getuid() != 0)
            QSKIP("mounting a FUSE file system needs root");
        if (!QFile::exists(QStringLiteral(FAILING_FILE)) || !QFile::exists("/dev/fuse"))
            QSKIP("FUSE is not available here (libfuse3 or /dev/fuse missing)");
        const QString work_problem = use_work_folder_in(m_dir);
        QVERIFY2(work_problem.isEmpty(), qPrintable(work_problem));
        QString why;

        // Photos in units 2, 5 and 39; the read fails from 200 bytes into
        // unit 3 to the end of unit 4.
        m_card = QByteArray(40 * U, '\x80');
        for (int unit : {2, 5, 39})
            m_card.replace(unit * U, 8, QByteArray::fromHex("ffd8ffdb0043ffd9"));
        m_bad << qMakePair(3 * U + 200, 5 * U - 300);
        // Then a recording between two marker photos, with a bad stretch
        // inside its media data.
        if (card::ffmpeg_available(&why)) {
            card::ClipOptions options;
            options.seconds = 2;
            QFile clip(card::encode_clip(options, m_dir.filePath("clips"), &why));
            QVERIFY2(clip.open(QIODevice::ReadOnly), qPrintable(why));
            const QByteArray marker = QByteArray::fromHex("ffd8ffe000104a46494600ffd9");
            m_card += marker + QByteArray(U - marker.size(), '\x80');
            const int clip_at = m_card.size();
            m_card += clip.readAll();
            m_card += QByteArray(U - m_card.size() % U, '\x80') + marker + QByteArray(U - marker.size(), '\x80');
            m_bad << qMakePair(clip_at + U + 10, clip_at + 2 * U);
            m_has_clip = true;
        }
        const QString image = write_image(m_dir, "backing.img", m_card);
        QStringList ranges;
        for (const auto &r : m_bad)
            ranges << QString("%1-%2").arg(r.first).arg(r.second);
        m_mount = m_dir.filePath("mnt");
        QDir().mkpath(m_mount);
        m_fuse.start(QStringLiteral(FAILING_FILE), {image, ranges.join(','), m_mount, "-f"});
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
        QCOMPARE(photo_num, m_has_clip ? 5u : 3u);
        QCOMPARE(photo_list[1].position, std::uint64_t(5 * U));
        // Each read stops where its bad range begins and fails to the end of
        // the units the range touches.
        std::uint64_t lost = 0;
        for (const auto &r : m_bad)
            lost += (r.second + U - 1) / U * U - r.first;
        QCOMPARE(unreadable_bytes, lost);
        QCOMPARE(video_total, m_has_clip ? 1u : 0u);
    }

    void the_recovery_goes_on_and_says_what_was_lost()
    {
        if (!m_has_clip)
            QSKIP("ffmpeg cannot encode the test clip");
        save_dir = m_dir.filePath("out");
        QDir().mkpath(save_dir);
        int failed = -1;
        qulonglong unreadable = 0;
        savefile_new recovery;
        QObject::connect(&recovery, &savefile_new::recoveryFinished, &recovery,
                         [&](int f, const QString &, qulonglong lost) { failed = f; unreadable = lost; },
                         Qt::DirectConnection);
        recovery.start();
        recovery.wait();
        QCOMPARE(failed, 0);
        QVERIFY(unreadable > 0);
        QVERIFY(QFileInfo(save_dir + "/0.mp4").size() > 20000);
    }

    void the_image_has_zeros_exactly_there()
    {
        QString error;
        auto source = FileSource::open(m_mount + "/card.img", &error);
        QVERIFY2(source, qPrintable(error));
        const QString copy = m_dir.filePath("copy.img");
        const CopyOutcome outcome = copy_to_image(*source, m_card.size(), copy, nullptr);
        QVERIFY(outcome.ok);
        QByteArray expected = m_card;
        std::uint64_t lost = 0;
        for (const auto &r : m_bad) {
            const int to = (r.second + U - 1) / U * U;
            expected.replace(r.first, to - r.first, QByteArray(to - r.first, '\0'));
            lost += to - r.first;
        }
        QCOMPARE(outcome.unreadable, lost);
        QFile f(copy);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == expected);
    }
};

QTEST_GUILESS_MAIN(TestFailingCard)
#include "test_failing_card.moc"
