#include "preview/vlc_video_widget.h"

#include "preview/vlc_media_player.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>

VlcVideoWidget::VlcVideoWidget(QWidget *parent) : QWidget(parent)
{
    // libvlc paints the picture; Qt only fills what it does not cover.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

VlcVideoWidget::~VlcVideoWidget()
{
    if (m_player && m_player->videoWidget() == this)
        m_player->stop();
}

void VlcVideoWidget::setMediaPlayer(VlcMediaPlayer *player)
{
    m_player = player;
}

WId VlcVideoWidget::embedWindow()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return 0;
    return winId();
}

void VlcVideoWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
}
