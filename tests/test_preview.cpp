// The preview window with the real libvlc, on a private X server.
#include "card_builder/media_encoder.h"
#include "preview/open_preview.h"
#include "preview/recovery.h"
#include "preview/vlc_instance.h"
#include "preview/vlc_media_player.h"
#include "preview/vlc_video_widget.h"
#include "preview/vlc_volume_slider.h"
#include "scan/work_folder.h"
#include "support/private_x_server.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <link.h>
#include <signal.h>
#include <unistd.h>

namespace {

// Some checks run in a child process of this test, in one of these modes.
const char CHILD_MODE[] = "TESSARO_PREVIEW_CHILD";
const char BROKEN_ENGINE[] = "broken-engine";  // libvlc without its plugins
const char OFFSCREEN[] = "offscreen";          // Qt without X11 windows
const char CHILD_WORK_FOLDER[] = "TESSARO_PREVIEW_WORK_FOLDER";

bool is_child(const char *mode)
{
    return qgetenv(CHILD_MODE) == mode;
}

constexpr int FILE_AT_ROW_2_COLUMN_3 = 2 * 6 + 3;
constexpr int FILE_AT_ROW_2_COLUMN_4 = 2 * 6 + 4;  // an H.265 work copy
constexpr int FILE_NOT_FOUND = 40;

// The path libvlccore was loaded from, or empty.
QString loaded_vlc_core()
{
    QString found;
    dl_iterate_phdr(
            [](dl_phdr_info *info, size_t, void *data) {
                const QString name = QFile::decodeName(info->dlpi_name);
                if (name.contains(QLatin1String("/libvlccore.so")))
                    *static_cast<QString *>(data) = name;
                return 0;
            },
            &found);
    return found;
}

bool reaches_playing(VlcMediaPlayer *player)
{
    return QTest::qWaitFor([player] { return player->state() == VlcMediaPlayer::Playing; }, 8000);
}

bool time_advances(VlcMediaPlayer *player)
{
    const qint64 start = player->time();
    return QTest::qWaitFor([player, start] { return player->time() >= start + 400; }, 4000);
}

// Distinct colours on a coarse grid of what the screen shows of `widget`:
// 1 for a black surface, many for the test pattern.
int colours_on_screen(QWidget *widget)
{
    const QImage image = widget->screen()->grabWindow(widget->winId()).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 8)
        for (int x = 0; x < image.width(); x += 8)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT
public:
    explicit TestPreview(const QString &noDisplay) : m_noDisplay(noDisplay) {}

private slots:
    void initTestCase();
    void cleanup();
    void playsTheWorkCopyOfTheCurrentCell_data();
    void playsTheWorkCopyOfTheCurrentCell();
    void bindsThePictureToItsPlayer();
    void twoPreviewsPlayIndependently();
    void aCellWithoutAFileOpensAWindowWithoutAPicture();
    void closingStopsThePlayerAndDeletesTheWindow();
    void theProgramEndsWithItsPreviews_data();
    void theProgramEndsWithItsPreviews();
    void offscreenPlaysWithoutVideo();
    void libvlcThatCannotStartIsReported();

private:
    Recovery *open(int file_number);
    // Runs `function` of this test in a child in `mode`; returns false
    // (having recorded why) unless the child passed it.
    bool passesInChild(const char *function, const char *mode, const QProcessEnvironment &extra);
    void checkOffscreen();
    void checkBrokenEngine();

    QString m_noDisplay;
    QString m_noHevc;  // why there is no H.265 work copy, or empty
    QTemporaryDir m_workFolder;
    // Stands in for the main window as the parent of messages.
    QWidget m_mainWindow;
    QStringList m_messages;
    QWidget *m_messageParent = nullptr;
    QList<QPointer<Recovery>> m_opened;
};

Recovery *TestPreview::open(int file_number)
{
    Recovery *preview = open_preview(file_number, &m_mainWindow,
                                     [this](QWidget *parent, const QString &title, const QString &text) {
                                         m_messageParent = parent;
                                         m_messages << title + QLatin1Char('|') + text;
                                     });
    if (preview)
        m_opened << preview;
    return preview;
}

void TestPreview::initTestCase()
{
    QVERIFY(m_workFolder.isValid());
    temp_dir = m_workFolder.path() + QLatin1Char('/');
    if (qEnvironmentVariableIsSet(CHILD_MODE)) {
        if (qEnvironmentVariableIsSet(CHILD_WORK_FOLDER))
            temp_dir = qEnvironmentVariable(CHILD_WORK_FOLDER) + QLatin1Char('/');
        return;
    }
    if (!m_noDisplay.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no X server for the preview: ") + m_noDisplay));
    VlcInstance probe({QStringLiteral("--intf=dummy")});
    if (!probe.status())
        QSKIP(qPrintable(QStringLiteral("libvlc cannot start here: ") + probe.problem()));

    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=5",
                  "-c:v", "libx264", "-pix_fmt", "yuv420p", m_workFolder.filePath("15.mp4")});
    if (!ffmpeg.waitForStarted())
        QSKIP("ffmpeg is not installed; it makes the test clip");
    QVERIFY(ffmpeg.waitForFinished(30000));
    QVERIFY2(ffmpeg.exitCode() == 0, ffmpeg.readAllStandardError().constData());

    // An H.265 camera's main recording: libx265 with delimiters, "hvc1".
    if (card::hevc_available(&m_noHevc)) {
        card::ClipOptions hevc;
        hevc.codec = card::ClipCodec::H265;
        hevc.seconds = 5;
        hevc.fps = 25;
        hevc.audio = false;
        const QString clip = card::encode_clip(hevc, m_workFolder.filePath("clips"), &m_noHevc);
        QVERIFY2(!clip.isEmpty(), qPrintable(m_noHevc));
        QVERIFY(QFile::copy(clip, m_workFolder.filePath(QString::number(FILE_AT_ROW_2_COLUMN_4) + ".mp4")));
    }
}

void TestPreview::cleanup()
{
    for (const QPointer<Recovery> &preview : qAsConst(m_opened))
        delete preview.data();
    m_opened.clear();
    m_messages.clear();
    m_messageParent = nullptr;
}

void TestPreview::playsTheWorkCopyOfTheCurrentCell_data()
{
    QTest::addColumn<int>("fileNumber");
    QTest::newRow("H.264") << FILE_AT_ROW_2_COLUMN_3;
    QTest::newRow("H.265") << FILE_AT_ROW_2_COLUMN_4;
}

void TestPreview::playsTheWorkCopyOfTheCurrentCell()
{
    QFETCH(int, fileNumber);
    if (fileNumber == FILE_AT_ROW_2_COLUMN_4 && !m_noHevc.isEmpty())
        QSKIP(qPrintable("no H.265 clip: " + m_noHevc));
    Recovery *preview = open(fileNumber);
    QVERIFY(preview);
    QCOMPARE(m_messages, QStringList());
    QCOMPARE(preview->file(), m_workFolder.filePath(QString::number(fileNumber) + ".mp4"));
    QVERIFY(preview->isWindow());
    // Clear of the corner where a window of libvlc's own would appear: the
    // grab reads the screen, not the window.
    preview->move(380, 420);
    QVERIFY(QTest::qWaitForWindowExposed(preview));

    VlcMediaPlayer *player = preview->mediaPlayer();
    QVERIFY(reaches_playing(player));
    QVERIFY(time_advances(player));
    QVERIFY(player->hasVideoOutput());
    QCOMPARE(player->droppedFrames(), 0);
    // The picture lands inside the window, not in a window of libvlc's own.
    auto *video = preview->findChild<VlcVideoWidget *>("video");
    QVERIFY(video);
    QTRY_VERIFY_WITH_TIMEOUT(colours_on_screen(video) > 20, 4000);
}

void TestPreview::bindsThePictureToItsPlayer()
{
    Recovery *preview = open(FILE_AT_ROW_2_COLUMN_3);
    QVERIFY(preview);
    QCOMPARE(preview->objectName(), QStringLiteral("Recovery"));
    QCOMPARE(preview->windowTitle(), QStringLiteral("Preview"));

    // Where the controls stand is test_preview_controls' to check.
    auto *video = preview->findChild<VlcVideoWidget *>("video");
    auto *video2 = preview->findChild<VlcVideoWidget *>("video_2");
    QVERIFY(video && video2);
    QCOMPARE(video->mediaPlayer(), preview->mediaPlayer());
    QCOMPARE(video2->mediaPlayer(), nullptr);
    QCOMPARE(preview->findChild<VlcVolumeSlider *>("volume")->volume(), 50);
}

void TestPreview::twoPreviewsPlayIndependently()
{
    Recovery *first = open(FILE_AT_ROW_2_COLUMN_3);
    Recovery *second = open(FILE_AT_ROW_2_COLUMN_3);
    QVERIFY(first && second && first != second);
    QVERIFY(first->mediaPlayer() != second->mediaPlayer());
    QVERIFY(reaches_playing(first->mediaPlayer()));
    QVERIFY(reaches_playing(second->mediaPlayer()));

    first->close();
    QCOMPARE(second->mediaPlayer()->state(), VlcMediaPlayer::Playing);
    QVERIFY(time_advances(second->mediaPlayer()));
}

void TestPreview::aCellWithoutAFileOpensAWindowWithoutAPicture()
{
    Recovery *preview = open(FILE_NOT_FOUND);
    QVERIFY(preview);
    QCOMPARE(m_messages, QStringList());
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    VlcMediaPlayer *player = preview->mediaPlayer();
    // libvlc reports the missing file as an error, then as the end.
    QTRY_VERIFY_WITH_TIMEOUT(player->state() == VlcMediaPlayer::Error || player->state() == VlcMediaPlayer::Ended,
                             5000);
    QVERIFY(!player->hasVideoOutput());
    QTRY_COMPARE(colours_on_screen(preview->findChild<VlcVideoWidget *>("video")), 1);
    QVERIFY(preview->close());
}

void TestPreview::closingStopsThePlayerAndDeletesTheWindow()
{
    QPointer<Recovery> preview = open(FILE_AT_ROW_2_COLUMN_3);
    QVERIFY(preview);
    QPointer<VlcMediaPlayer> player = preview->mediaPlayer();
    QVERIFY(reaches_playing(player));

    QVERIFY(preview->close());
    QVERIFY(player);
    QCOMPARE(player->state(), VlcMediaPlayer::Stopped);
    QTRY_VERIFY(preview.isNull());
    QVERIFY(player.isNull());
}

void TestPreview::theProgramEndsWithItsPreviews_data()
{
    QTest::addColumn<bool>("closeMainWindow");
    QTest::newRow("main window closed") << true;
    QTest::newRow("program exits") << false;
}

void TestPreview::theProgramEndsWithItsPreviews()
{
    QFETCH(bool, closeMainWindow);
    QPointer<Recovery> preview = open(FILE_AT_ROW_2_COLUMN_3);
    QVERIFY(preview);
    QVERIFY(reaches_playing(preview->mediaPlayer()));
    m_mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_mainWindow));

    if (closeMainWindow)
        QTimer::singleShot(0, &m_mainWindow, &QWidget::close);
    else
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, qApp, &QCoreApplication::quit);
    giveUp.start(3000);
    QCoreApplication::exec();
    QVERIFY2(giveUp.isActive(), "the open preview kept the program running");
    QVERIFY(preview.isNull());
}

bool TestPreview::passesInChild(const char *function, const char *mode, const QProcessEnvironment &extra)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(CHILD_MODE, mode);
    environment.insert(extra);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(function)});
    if (!child.waitForFinished(20000)) {
        child.kill();
        child.waitForFinished();
        QTest::qFail(qPrintable("the child run did not finish: " + child.errorString()), __FILE__, __LINE__);
        return false;
    }
    const QByteArray output = child.readAll();
    const QByteArray tag = QByteArray("TestPreview::") + function + "()";
    if (output.contains("SKIP   : " + tag)) {
        QTest::qSkip(qPrintable("in the child: " + output.mid(output.indexOf("SKIP   : " + tag)).split('\n').value(0)),
                     __FILE__, __LINE__);
        return false;
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !output.contains("PASS   : " + tag)) {
        QTest::qFail(output.constData(), __FILE__, __LINE__);
        return false;
    }
    return true;
}

void TestPreview::offscreenPlaysWithoutVideo()
{
    if (is_child(OFFSCREEN)) {
        checkOffscreen();
        return;
    }
    QProcessEnvironment extra;
    extra.insert(CHILD_WORK_FOLDER, m_workFolder.path());
    passesInChild("offscreenPlaysWithoutVideo", OFFSCREEN, extra);
}

// Runs in a child on the offscreen platform, with DISPLAY still set: a
// player given no window would open one of its own there.
void TestPreview::checkOffscreen()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    Recovery *preview = open(FILE_AT_ROW_2_COLUMN_3);
    QVERIFY(preview);
    VlcMediaPlayer *player = preview->mediaPlayer();
    QVERIFY(reaches_playing(player));
    QVERIFY(time_advances(player));
    QTRY_VERIFY(player->droppedFrames() > 10);
}

void TestPreview::libvlcThatCannotStartIsReported()
{
    if (is_child(BROKEN_ENGINE)) {
        checkBrokenEngine();
        return;
    }
    // libvlc looks for its plugins beside libvlccore, so a lone copy of
    // libvlccore is a libvlc whose plugins are missing.
    const QString core = loaded_vlc_core();
    const QRegularExpressionMatch soname = QRegularExpression("libvlccore\\.so\\.\\d+").match(core);
    if (!soname.hasMatch())
        QSKIP("cannot tell where libvlccore was loaded from");
    QTemporaryDir lonelyCore;
    QVERIFY(QFile::copy(core, lonelyCore.filePath(soname.captured())));
    QProcessEnvironment extra;
    extra.insert("LD_LIBRARY_PATH", lonelyCore.path());
    passesInChild("libvlcThatCannotStartIsReported", BROKEN_ENGINE, extra);
}

// Runs in the child whose libvlc has no plugins.
void TestPreview::checkBrokenEngine()
{
    if (VlcInstance({}).status())
        QSKIP("libvlc still starts without its plugins here");

    auto *button = new QPushButton(QStringLiteral("Scan"), &m_mainWindow);
    m_mainWindow.show();
    for (int attempt = 1; attempt <= 2; ++attempt) {
        QVERIFY(!open(FILE_AT_ROW_2_COLUMN_3));
        QCOMPARE(m_messages.size(), attempt);
        QCOMPARE(m_messageParent, &m_mainWindow);
        QVERIFY2(m_messages.last().startsWith("Information|The preview is not available: "), qPrintable(m_messages.last()));
        QVERIFY2(m_messages.last().contains("plugins"), qPrintable(m_messages.last()));
    }
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<Recovery *>(window));

    // The program goes on: the main window still answers.
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

int main(int argc, char **argv)
{
    PrivateXServer xserver;
    QString noDisplay;
    if (!qEnvironmentVariableIsSet(CHILD_MODE)) {
        QString problem;
        if (!xserver.start(&problem) && qEnvironmentVariableIsEmpty("DISPLAY"))
            noDisplay = problem;
    }
    // The test runner asks for offscreen; the preview embeds into X11 windows.
    if (is_child(OFFSCREEN))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (noDisplay.isEmpty())
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestPreview test(noDisplay);
    return QTest::qExec(&test, argc, argv);
}

#include "test_preview.moc"
