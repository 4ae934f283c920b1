// A volume slider bound to a VlcMediaPlayer.
#pragma once

#include <QPointer>
#include <QWidget>

class QSlider;
class VlcMediaPlayer;

class VlcVolumeSlider : public QWidget
{
    Q_OBJECT
public:
    explicit VlcVolumeSlider(QWidget *parent = nullptr);

    // Applies the slider's volume to `player` and follows later moves.
    void setMediaPlayer(VlcMediaPlayer *player);
    int volume() const;

public slots:
    void setVolume(int volume);  // 0 to 100

private:
    void apply(int volume);

    QSlider *m_slider;
    QPointer<VlcMediaPlayer> m_player;
};
