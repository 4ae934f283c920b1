#include "preview/recovery.h"

#include "preview/vlc_instance.h"
#include "preview/vlc_media.h"
#include "preview/vlc_media_player.h"
#include "ui_recovery.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QStringList ENGINE_ARGUMENTS = {
    QStringLiteral("--intf=dummy"), QStringLiteral("--no-media-library"), QStringLiteral("--reset-plugins-cache"),
    QStringLiteral("--no-stats"),   QStringLiteral("--no-osd"),           QStringLiteral("--no-video-title-show"),
    // libvlc would otherwise ask the session bus to hold off the screen
    // saver while a picture shows, from inside its decoder thread. Run with
    // sudo, the program has DISPLAY but seldom a reachable session bus, and
    // that call can block for good: the preview never plays and closing it
    // hangs the window.
    QStringLiteral("--no-disable-screensaver"),
};
constexpr int START_VOLUME = 50;
constexpr int FOLLOW_MS = 200;
const QSize WINDOW_SIZE(640, 420);

QString clock_text(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("-:--");
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
}  // namespace

Recovery::Recovery(const QString &file, QWidget *parent) : QWidget(parent), ui(new Ui::Recovery), m_file(file)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The program ends with its main window, open previews or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    // Before the player binds to the video widget's native window.
    buildControls();

    m_instance = new VlcInstance(ENGINE_ARGUMENTS, this);
    if (!m_instance->status())
        return;
    m_player = new VlcMediaPlayer(m_instance);
    m_player->setVideoWidget(ui->video);
    ui->video->setMediaPlayer(m_player);
    ui->volume->setMediaPlayer(m_player);
    ui->volume->setVolume(START_VOLUME);
    ui->seek->setMediaPlayer(m_player);

    m_media = new VlcMedia(m_file, m_instance);
    m_player->open(m_media);
    m_follow->start(FOLLOW_MS);
}

Recovery::~Recovery()
{
    delete m_player;
    delete m_media;
    delete m_instance;
    delete ui;
}

void Recovery::buildControls()
{
    // The form places the seek bar and the volume slider outside the
    // window with no height; a layout puts them where they can be used.
    resize(WINDOW_SIZE);
    setMinimumSize(360, 240);
    m_screen = new QStackedWidget(this);
    m_screen->addWidget(ui->video);
    m_message = new QLabel(m_screen);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setMargin(24);
    m_screen->addWidget(m_message);

    m_playPause = new QPushButton(tr("Pause"), this);
    m_playPause->setObjectName(QStringLiteral("playPause"));
    m_time = new QLabel(clock_text(-1) + QStringLiteral(" / ") + clock_text(-1), this);
    m_time->setObjectName(QStringLiteral("time"));
    auto *volume_label = new QLabel(tr("Volume"), this);
    ui->volume->setFixedWidth(110);
    ui->seek->setMinimumHeight(ui->seek->sizeHint().height());
    ui->volume->setMinimumHeight(ui->volume->sizeHint().height());

    auto *controls = new QHBoxLayout;
    controls->addWidget(m_playPause);
    controls->addWidget(ui->seek, 1);
    controls->addWidget(m_time);
    controls->addSpacing(12);
    controls->addWidget(volume_label);
    controls->addWidget(ui->volume);

    m_endBar = new QWidget(this);
    m_endBar->setObjectName(QStringLiteral("endBar"));
    auto *again = new QPushButton(tr("Play again"), m_endBar);
    again->setObjectName(QStringLiteral("playAgain"));
    auto *end_layout = new QHBoxLayout(m_endBar);
    end_layout->setContentsMargins(0, 0, 0, 0);
    end_layout->addWidget(new QLabel(tr("The video has ended."), m_endBar), 1);
    end_layout->addWidget(again);
    m_endBar->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_screen, 1);
    layout->addWidget(m_endBar);
    layout->addLayout(controls);

    // Keys reach the window whichever control was clicked last.
    for (QPushButton *button : {m_playPause, again})
        button->setFocusPolicy(Qt::NoFocus);
    connect(m_playPause, &QPushButton::clicked, this, &Recovery::togglePause);
    connect(again, &QPushButton::clicked, this, &Recovery::playAgain);
    new QShortcut(QKeySequence(Qt::Key_Space), this, this, &Recovery::togglePause);
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);

    m_follow = new QTimer(this);
    connect(m_follow, &QTimer::timeout, this, &Recovery::follow);
}

QString Recovery::engineProblem() const
{
    return m_instance ? m_instance->problem() : QString();
}

QString Recovery::problem() const
{
    return m_screen->currentWidget() == m_message ? m_message->text() : QString();
}

void Recovery::togglePause()
{
    if (m_player)
        m_player->togglePause();
    follow();
}

void Recovery::playAgain()
{
    if (!m_player)
        return;
    m_endBar->hide();
    m_player->replay();
}

// libvlc reports from its own threads; polling on the GUI thread keeps the
// window free of cross-thread calls, as the seek bar does.
void Recovery::follow()
{
    if (!m_player)
        return;
    const VlcMediaPlayer::State state = m_player->state();
    m_sawPicture = m_sawPicture || m_player->hasVideoOutput() || m_player->droppedFrames() > 0;
    m_time->setText(clock_text(m_player->time()) + QStringLiteral(" / ") + clock_text(m_player->length()));
    m_playPause->setText(state == VlcMediaPlayer::Paused ? tr("Play") : tr("Pause"));
    m_playPause->setEnabled(state == VlcMediaPlayer::Playing || state == VlcMediaPlayer::Paused);

    const bool failed = state == VlcMediaPlayer::Error || (state == VlcMediaPlayer::Ended && !m_sawPicture);
    if (failed && m_screen->currentWidget() != m_message) {
        m_message->setText(!QFileInfo::exists(m_file)
                                   ? tr("There is no work copy of this video to play (%1). Recovering it may "
                                        "still give its file.")
                                             .arg(m_file)
                                   : tr("This video cannot be played here: no picture could be decoded from its "
                                        "work copy. It may hold too little of the recording; recovering it "
                                        "tells what the card still has."));
        m_screen->setCurrentWidget(m_message);
        m_endBar->hide();
    } else if (state == VlcMediaPlayer::Ended && !failed) {
        m_endBar->show();
    }
}

void Recovery::closeEvent(QCloseEvent *event)
{
    if (m_player)
        m_player->stop();
    QWidget::closeEvent(event);
}
