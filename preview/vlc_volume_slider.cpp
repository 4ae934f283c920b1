#include "preview/vlc_volume_slider.h"

#include "preview/vlc_media_player.h"

#include <QHBoxLayout>
#include <QSlider>

VlcVolumeSlider::VlcVolumeSlider(QWidget *parent) : QWidget(parent), m_slider(new QSlider(Qt::Horizontal, this))
{
    m_slider->setRange(0, 100);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_slider);
    connect(m_slider, &QSlider::valueChanged, this, &VlcVolumeSlider::apply);
}

void VlcVolumeSlider::setMediaPlayer(VlcMediaPlayer *player)
{
    m_player = player;
    apply(m_slider->value());
}

int VlcVolumeSlider::volume() const
{
    return m_slider->value();
}

void VlcVolumeSlider::setVolume(int volume)
{
    m_slider->setValue(volume);
    apply(m_slider->value());
}

void VlcVolumeSlider::apply(int volume)
{
    if (m_player)
        m_player->setVolume(volume);
}
