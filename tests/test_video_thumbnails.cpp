// Video thumbnails: the real ffmpeg makes the pictures; a stand-in ffmpeg in
// the work folder shows how the runs are scheduled, waited for and killed.
#include "scan/video_thumbnails.h"
#include "scan/work_folder.h"
#include "support/temp_image.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <memory>

namespace {

// Stands in for ffmpeg: logs the start and end of the run for n.mp4 and
// sleeps as long as n.delay says ("hang": it sleeps for good, as itself, so
// killing it leaves no child behind).
const char STAND_IN[] = R"(#!/bin/sh
dir=$(dirname "$4")
n=$(basename "$4" .mp4)
delay=$(cat "$dir/$n.delay" 2>/dev/null || echo 0)
[ "$delay" = hang ] && echo $$ > "$dir/$n.pid"
echo "start $n" >> "$dir/log"
[ "$delay" = hang ] && exec sleep 600
sleep "$delay"
echo "end $n" >> "$dir/log"
)";

QStringList log_lines()
{
    QFile f(temp_dir + "log");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

void append_log(const QString &line)
{
    QFile f(temp_dir + "log");
    if (f.open(QIODevice::Append))
        f.write((line + '\n').toUtf8());
}

// Puts each code in the log beside the runs' lines, so their order shows.
class LoggingProgress : public RecordingProgress
{
public:
    void code(int value) override
    {
        RecordingProgress::code(value);
        append_log(QStringLiteral("code %1").arg(value));
    }
};

bool wait_for_line(const QString &line, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!log_lines().contains(line)) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

class TestVideoThumbnails : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_folders = 0;

    // A fresh work folder with the stand-in and a delay for each video.
    void stand_in(const QStringList &delays, const QByteArray &script = STAND_IN)
    {
        temp_dir = m_dir.filePath(QStringLiteral("stand-in %1;$x/").arg(++m_folders));
        QVERIFY(QDir().mkpath(temp_dir));
        QFile ffmpeg(temp_dir + "ffmpeg");
        QVERIFY(ffmpeg.open(QIODevice::WriteOnly));
        ffmpeg.write(script);
        ffmpeg.close();
        ffmpeg.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (int i = 0; i < delays.size(); ++i) {
            QFile delay(temp_dir + QString::number(i) + ".delay");
            QVERIFY(delay.open(QIODevice::WriteOnly));
            delay.write(delays[i].toUtf8());
        }
    }

    static QVector<int> codes(const RecordingProgress &p) { return QVector<int>(p.codes.begin(), p.codes.end()); }

private slots:
    void real_ffmpeg_makes_one_picture_per_video_and_a_code_whatever_happened()
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
        RecordingProgress progress;
        video_thumbnail_step(2, progress);  // 1.mp4 does not exist
        QCOMPARE(codes(progress), (QVector<int>{20002, 20002, 20003}));
        QCOMPARE(QImage(temp_dir + "0.png").size(), QSize(120, 90));
        QVERIFY(!QFile::exists(temp_dir + "1.png"));
    }

    void runs_overlap_and_codes_keep_their_order_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one slot") << 1;
        QTest::newRow("two slots") << 2;
    }

    void runs_overlap_and_codes_keep_their_order()
    {
        // Run 1 is over long before run 0: with two slots it starts before
        // run 0 ends, and its code still waits for run 0's.
        QFETCH(int, parallel);
        stand_in({"1.5", "0.1", "0"});
        LoggingProgress progress;
        VideoThumbnails(parallel).finish(3, progress);
        QCOMPARE(codes(progress), (QVector<int>{20002, 20002, 20003, 20004}));

        const QStringList log = log_lines();
        const auto at = [&](const char *line) { return log.indexOf(QString::fromLatin1(line)); };
        for (const char *line : {"start 0", "end 0", "start 1", "end 1", "start 2", "end 2"})
            QVERIFY2(at(line) >= 0, qPrintable(log.join(", ")));
        QVERIFY2(at("code 20002") < at("start 0"), qPrintable(log.join(", ")));
        QVERIFY(at("end 0") < log.lastIndexOf("code 20002"));
        QVERIFY(at("end 1") < at("code 20003") && at("end 2") < at("code 20004"));
        QCOMPARE(at("start 1") < at("end 0"), parallel > 1);
    }

    void start_begins_a_run_at_once_and_queues_beyond_the_slots()
    {
        stand_in({"1", "0"});
        LoggingProgress progress;
        VideoThumbnails thumbnails(1);
        thumbnails.start(0);
        QVERIFY(wait_for_line("start 0", 5000));
        thumbnails.start(1);  // the slot is taken: queued, not waited for
        QVERIFY2(!log_lines().contains("end 0"), qPrintable(log_lines().join(", ")));
        QVERIFY(!log_lines().contains("start 1"));
        thumbnails.finish(2, progress);
        QCOMPARE(codes(progress), (QVector<int>{20002, 20002, 20003}));
        const QStringList log = log_lines();
        QVERIFY(log.indexOf("end 0") < log.indexOf("start 1"));
    }

    void a_run_that_hangs_is_killed_data()
    {
        QTest::addColumn<bool>("finish");
        QTest::newRow("its wait runs out") << true;
        QTest::newRow("the thumbnails are dropped") << false;
    }

    void a_run_that_hangs_is_killed()
    {
        QFETCH(bool, finish);
        stand_in({"hang", "0"});
        QElapsedTimer clock;
        clock.start();
        RecordingProgress progress;
        {
            VideoThumbnails thumbnails(2, 1000);
            thumbnails.start(0);
            QVERIFY(wait_for_line("start 0", 5000));
            if (finish)
                thumbnails.finish(2, progress);
        }
        QVERIFY(clock.elapsed() < 20000);
        if (finish) {
            QCOMPARE(codes(progress), (QVector<int>{20002, 20002, 20003}));
            QVERIFY(log_lines().contains("end 1"));
        }
        // Killed and reaped: not even a zombie is left.
        QFile pid_file(temp_dir + "0.pid");
        QVERIFY(pid_file.open(QIODevice::ReadOnly));
        const QByteArray pid = pid_file.readAll().trimmed();
        QVERIFY(!pid.isEmpty());
        QVERIFY2(!QFile::exists("/proc/" + pid), pid.constData());
    }

    void a_run_that_cannot_start_is_reported_and_the_codes_go_on_data()
    {
        QTest::addColumn<bool>("stand_in");
        QTest::newRow("no ffmpeg anywhere") << false;
        QTest::newRow("ffmpeg cannot be executed") << true;
    }

    void a_run_that_cannot_start_is_reported_and_the_codes_go_on()
    {
        QFETCH(bool, stand_in);
        if (stand_in) {
            this->stand_in({}, "#!/nonexistent/sh\n");
        } else {
            temp_dir = m_dir.filePath(QStringLiteral("empty/"));
            QVERIFY(QDir().mkpath(temp_dir));
        }
        const QByteArray path = qgetenv("PATH");
        if (!stand_in)
            qputenv("PATH", "/nonexistent");
        QTest::ignoreMessage(QtDebugMsg, "Failed to start");
        QTest::ignoreMessage(QtDebugMsg, "Failed to start");
        RecordingProgress progress;
        video_thumbnail_step(2, progress);
        qputenv("PATH", path);
        QCOMPARE(codes(progress), (QVector<int>{20002, 20002, 20003}));
    }

    void nothing_runs_without_videos()
    {
        stand_in({});
        RecordingProgress progress;
        video_thumbnail_step(0, progress);
        QCOMPARE(codes(progress), QVector<int>{20002});
        QVERIFY(log_lines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVideoThumbnails)
#include "test_video_thumbnails.moc"
