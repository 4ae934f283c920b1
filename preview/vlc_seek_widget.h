// A seek bar bound to a VlcMediaPlayer: follows its position, and moving it
// seeks.
#pragma once

#include <QPointer>
#include <QWidget>

class QSlider;
class QTimer;
class VlcMediaPlayer;

class VlcSeekWidget : public QWidget
{
    Q_OBJECT
public:
    explicit VlcSeekWidget(QWidget *parent = nullptr);

    void setMediaPlayer(VlcMediaPlayer *player);

private:
    void follow();

    QSlider *m_slider;
    QTimer *m_timer;
    QPointer<VlcMediaPlayer> m_player;
};
