// A libvlc media player that renders into a VlcVideoWidget.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

struct libvlc_media_player_t;
class VlcInstance;
class VlcMedia;
class VlcVideoWidget;

class VlcMediaPlayer : public QObject
{
    Q_OBJECT
public:
    // Mirrors libvlc_state_t.
    enum State { Idle, Opening, Buffering, Playing, Paused, Stopped, Ended, Error };
    Q_ENUM(State)

    // `instance` must have started; the player is its Qt child.
    explicit VlcMediaPlayer(VlcInstance *instance);
    // Stops playback before the player is released.
    ~VlcMediaPlayer() override;

    // The picture goes into `widget`'s native window where the platform can
    // embed one (X11). Elsewhere frames are decoded and dropped, so that
    // libvlc never opens a window of its own (or draws into the terminal).
    // Set once, before open().
    void setVideoWidget(VlcVideoWidget *widget);
    VlcVideoWidget *videoWidget() const;

    // Sets `media` as the player's media and starts playing it at once.
    void open(VlcMedia *media);
    void stop();
    // Pauses what plays, plays on what is paused; nothing otherwise.
    void togglePause();
    // The media from its start again, after it ended or was stopped.
    void replay();

    State state() const;
    bool hasVideoOutput() const;
    qint64 time() const;     // milliseconds, -1 when nothing plays
    qint64 length() const;   // milliseconds, -1 when unknown
    float position() const;  // 0 to 1
    void setPosition(float position);
    int volume() const;      // 0 to 100, -1 without audio output
    void setVolume(int volume);
    // Frames dropped for want of a window to show them in.
    qint64 droppedFrames() const;

    struct FrameSink;

private:
    libvlc_media_player_t *m_player = nullptr;
    QPointer<VlcVideoWidget> m_video;
    std::unique_ptr<FrameSink> m_sink;  // outlives m_player, which writes to it
};
