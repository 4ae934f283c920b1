// Video thumbnails through the real ffmpeg.
#include "scan/video_thumbnails.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TestVideoThumbnails : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            QSKIP("ffmpeg is not installed");
        // A folder name with a blank and a shell character: no shell sees it.
        temp_dir = m_dir.filePath(QStringLiteral("work dir;$x/"));
        QVERIFY(QDir().mkpath(temp_dir));
        const int rc = QProcess::execute(QStringLiteral("ffmpeg"),
                                         {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2",
                                          "-c:v", "libx264", "-y", temp_dir + "0.mp4"});
        QCOMPARE(rc, 0);
    }

    void one_picture_per_video_and_a_code_whatever_happened()
    {
        QFile::remove(temp_dir + "0.png");
        RecordingProgress progress;
        video_thumbnail_step(2, progress);  // 1.mp4 does not exist
        QCOMPARE(QVector<int>(progress.codes.begin(), progress.codes.end()), (QVector<int>{20002, 20002, 20003}));
        QCOMPARE(QImage(temp_dir + "0.png").size(), QSize(120, 90));
        QVERIFY(!QFile::exists(temp_dir + "1.png"));
    }

    void no_ffmpeg_is_reported_and_the_scan_goes_on()
    {
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        QTest::ignoreMessage(QtDebugMsg, "Failed to start");
        RecordingProgress progress;
        video_thumbnail_step(1, progress);
        qputenv("PATH", path);
        QCOMPARE(QVector<int>(progress.codes.begin(), progress.codes.end()), (QVector<int>{20002, 20002}));
    }

    void nothing_runs_without_videos()
    {
        RecordingProgress progress;
        video_thumbnail_step(0, progress);
        QCOMPARE(QVector<int>(progress.codes.begin(), progress.codes.end()), QVector<int>{20002});
    }
};

QTEST_GUILESS_MAIN(TestVideoThumbnails)
#include "test_video_thumbnails.moc"
