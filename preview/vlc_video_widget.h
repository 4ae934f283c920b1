// The surface a VlcMediaPlayer renders into: its own native window.
#pragma once

#include <QPointer>
#include <QWidget>

class VlcMediaPlayer;

class VlcVideoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit VlcVideoWidget(QWidget *parent = nullptr);
    // Stops a player still bound to this widget, so that libvlc never draws
    // into a destroyed window.
    ~VlcVideoWidget() override;

    void setMediaPlayer(VlcMediaPlayer *player);
    VlcMediaPlayer *mediaPlayer() const { return m_player; }

    // The X11 window libvlc can draw into, created on first use; 0 on
    // platforms without one (offscreen, Wayland), where libvlc cannot embed.
    WId embedWindow();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<VlcMediaPlayer> m_player;
};
