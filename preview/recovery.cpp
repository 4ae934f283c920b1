#include "preview/recovery.h"

#include "preview/vlc_instance.h"
#include "preview/vlc_media.h"
#include "preview/vlc_media_player.h"
#include "ui_recovery.h"

#include <QCloseEvent>

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
}

Recovery::Recovery(const QString &file, QWidget *parent) : QWidget(parent), ui(new Ui::Recovery), m_file(file)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The program ends with its main window, open previews or not.
    setAttribute(Qt::WA_QuitOnClose, false);

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
}

Recovery::~Recovery()
{
    delete m_player;
    delete m_media;
    delete m_instance;
    delete ui;
}

QString Recovery::engineProblem() const
{
    return m_instance ? m_instance->problem() : QString();
}

void Recovery::closeEvent(QCloseEvent *event)
{
    if (m_player)
        m_player->stop();
    QWidget::closeEvent(event);
}
