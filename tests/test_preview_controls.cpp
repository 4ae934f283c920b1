// The preview's controls with the real libvlc on a private X server: the
// seek bar, position and length, volume and play/pause in view and working,
// Space and Esc, playing again at the end, and a message in place of a
// black picture for a file that cannot be played.
#include "preview/open_preview.h"
#include "preview/recovery.h"
#include "preview/vlc_instance.h"
#include "preview/vlc_media_player.h"
#include "preview/vlc_seek_widget.h"
#include "preview/vlc_volume_slider.h"
#include "scan/work_folder.h"
#include "support/private_x_server.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int CLIP = 3;          // a 5-second test clip
constexpr int NOT_A_VIDEO = 4;   // bytes no decoder takes for a video
constexpr int MISSING = 40;      // no work copy at all

bool reaches(VlcMediaPlayer *player, VlcMediaPlayer::State state, int ms = 8000)
{
    return QTest::qWaitFor([&] { return player->state() == state; }, ms);
}

}  // namespace

class TestPreviewControls : public QObject
{
    Q_OBJECT
public:
    explicit TestPreviewControls(const QString &noDisplay) : m_noDisplay(noDisplay) {}

private slots:
    void initTestCase()
    {
        if (!m_noDisplay.isEmpty())
            QSKIP(qPrintable("no X server for the preview: " + m_noDisplay));
        VlcInstance probe({QStringLiteral("--intf=dummy")});
        if (!probe.status())
            QSKIP(qPrintable("libvlc cannot start here: " + probe.problem()));
        QVERIFY(m_work.isValid());
        temp_dir = m_work.path() + QLatin1Char('/');
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=5",
                      "-c:v", "libx264", "-pix_fmt", "yuv420p", preview_file(CLIP)});
        if (!ffmpeg.waitForStarted())
            QSKIP("ffmpeg is not installed; it makes the test clip");
        QVERIFY(ffmpeg.waitForFinished(30000));
        QVERIFY2(ffmpeg.exitCode() == 0, ffmpeg.readAllStandardError().constData());
        QFile junk(preview_file(NOT_A_VIDEO));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(256 * 1024, '\x5a'));
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<Recovery *>(w))
                delete w;
    }

    // Each control lies inside the window with a height, where a user can
    // see and reach it.
    void controls_are_in_view()
    {
        Recovery *preview = open(CLIP);
        for (const char *name : {"video", "seek", "volume", "playPause", "time"}) {
            auto *w = preview->findChild<QWidget *>(name);
            QVERIFY2(w, name);
            QVERIFY2(w->isVisible(), name);
            QVERIFY2(w->height() >= 10, name);
            const QRect in_window(w->mapTo(preview, QPoint(0, 0)), w->size());
            QVERIFY2(preview->rect().contains(in_window), name);
        }
        QCOMPARE(preview->findChild<VlcVolumeSlider *>("volume")->volume(), 50);
    }

    // The position and length read as the clip plays; moving the seek bar
    // moves the player.
    void seek_bar_and_time()
    {
        Recovery *preview = open(CLIP);
        VlcMediaPlayer *player = preview->mediaPlayer();
        QVERIFY(reaches(player, VlcMediaPlayer::Playing));
        auto *time = preview->findChild<QLabel *>("time");
        QTRY_VERIFY_WITH_TIMEOUT(time->text().endsWith(" / 0:05"), 4000);
        auto *slider = preview->findChild<VlcSeekWidget *>("seek")->findChild<QSlider *>();
        QVERIFY(slider);
        slider->setSliderDown(true);
        slider->setSliderPosition(slider->maximum() * 6 / 10);
        slider->setSliderDown(false);
        QTRY_VERIFY_WITH_TIMEOUT(player->position() >= 0.55f, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(time->text().startsWith("0:03 / ") || time->text().startsWith("0:04 / "), 3000);
    }

    // Space pauses and plays on, as the button does; Esc closes the window.
    void space_and_esc()
    {
        Recovery *preview = open(CLIP);
        VlcMediaPlayer *player = preview->mediaPlayer();
        QVERIFY(reaches(player, VlcMediaPlayer::Playing));
        preview->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(preview));
        QTest::keyClick(preview, Qt::Key_Space);
        QVERIFY(reaches(player, VlcMediaPlayer::Paused, 3000));
        const qint64 held = player->time();
        QTest::qWait(600);
        QCOMPARE(player->time(), held);
        auto *button = preview->findChild<QPushButton *>("playPause");
        QTRY_COMPARE(button->text(), QStringLiteral("Play"));
        QTest::keyClick(preview, Qt::Key_Space);
        QVERIFY(reaches(player, VlcMediaPlayer::Playing, 3000));
        button->click();
        QVERIFY(reaches(player, VlcMediaPlayer::Paused, 3000));
        button->click();
        QVERIFY(reaches(player, VlcMediaPlayer::Playing, 3000));

        QPointer<Recovery> open_window = preview;
        QTest::keyClick(preview, Qt::Key_Escape);
        QTRY_VERIFY(open_window.isNull());
    }

    // At the end the window offers to play again, which starts over.
    void play_again_at_the_end()
    {
        Recovery *preview = open(CLIP);
        VlcMediaPlayer *player = preview->mediaPlayer();
        QVERIFY(reaches(player, VlcMediaPlayer::Playing));
        player->setPosition(0.9f);
        QVERIFY(reaches(player, VlcMediaPlayer::Ended, 6000));
        auto *end = preview->findChild<QWidget *>("endBar");
        QTRY_VERIFY(end->isVisible());
        QCOMPARE(preview->problem(), QString());
        preview->findChild<QPushButton *>("playAgain")->click();
        QVERIFY(reaches(player, VlcMediaPlayer::Playing));
        QVERIFY(player->time() < 2500);
        QTRY_VERIFY(!end->isVisible());
    }

    // A file libvlc cannot play, or none at all: words in the window.
    void a_file_that_cannot_be_played_is_said_so_data()
    {
        QTest::addColumn<int>("file");
        QTest::addColumn<QString>("words");
        QTest::newRow("not a video") << NOT_A_VIDEO << "cannot be played here";
        QTest::newRow("no work copy") << MISSING << "There is no work copy of this video";
    }

    void a_file_that_cannot_be_played_is_said_so()
    {
        QFETCH(int, file);
        QFETCH(QString, words);
        Recovery *preview = open(file);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->problem().isEmpty(), 8000);
        QVERIFY2(preview->problem().contains(words), qPrintable(preview->problem()));
        auto *message = preview->findChild<QLabel *>("message");
        QVERIFY(message->isVisible());
        QVERIFY(!preview->findChild<QWidget *>("endBar")->isVisible());
    }

private:
    Recovery *open(int n)
    {
        Recovery *preview = open_preview(n, nullptr, [](QWidget *, const QString &, const QString &text) {
            QFAIL(qPrintable(text));
        });
        if (preview)
            QTest::qWaitForWindowExposed(preview);
        return preview;
    }

    QString m_noDisplay;
    QTemporaryDir m_work;
};

int main(int argc, char **argv)
{
    PrivateXServer xserver;
    QString noDisplay;
    if (!xserver.start(&noDisplay) && !qEnvironmentVariableIsEmpty("DISPLAY"))
        noDisplay.clear();
    // The test runner asks for offscreen; the preview embeds into X11 windows.
    if (noDisplay.isEmpty())
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestPreviewControls test(noDisplay);
    return QTest::qExec(&test, argc, argv);
}

#include "test_preview_controls.moc"
