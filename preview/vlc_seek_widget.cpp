#include "preview/vlc_seek_widget.h"

#include "preview/vlc_media_player.h"

#include <QHBoxLayout>
#include <QSlider>
#include <QTimer>

namespace {
constexpr int STEPS = 1000;
constexpr int FOLLOW_MS = 250;
}

VlcSeekWidget::VlcSeekWidget(QWidget *parent)
    : QWidget(parent), m_slider(new QSlider(Qt::Horizontal, this)), m_timer(new QTimer(this))
{
    m_slider->setRange(0, STEPS);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_slider);
    connect(m_slider, &QSlider::sliderMoved, this, [this](int value) {
        if (m_player)
            m_player->setPosition(float(value) / STEPS);
    });
    // libvlc reports from its own threads; polling on the GUI thread keeps
    // the bar free of cross-thread calls.
    connect(m_timer, &QTimer::timeout, this, &VlcSeekWidget::follow);
}

void VlcSeekWidget::setMediaPlayer(VlcMediaPlayer *player)
{
    m_player = player;
    if (player)
        m_timer->start(FOLLOW_MS);
    else
        m_timer->stop();
}

void VlcSeekWidget::follow()
{
    if (!m_player) {
        m_timer->stop();
        return;
    }
    if (!m_slider->isSliderDown())
        m_slider->setValue(int(m_player->position() * STEPS));
}
