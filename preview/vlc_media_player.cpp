#include "preview/vlc_media_player.h"

#include "preview/vlc_instance.h"
#include "preview/vlc_media.h"
#include "preview/vlc_video_widget.h"

#include <atomic>
#include <vector>
#include <vlc/vlc.h>

// A small frame buffer libvlc draws into and nobody reads.
struct VlcMediaPlayer::FrameSink {
    static constexpr unsigned WIDTH = 64;
    static constexpr unsigned HEIGHT = 36;
    std::vector<unsigned char> pixels = std::vector<unsigned char>(WIDTH * HEIGHT * 4);
    std::atomic<qint64> frames{0};
};

namespace {

void *lock_frame(void *opaque, void **planes)
{
    planes[0] = static_cast<VlcMediaPlayer::FrameSink *>(opaque)->pixels.data();
    return nullptr;
}

void drop_frame(void *opaque, void *)
{
    ++static_cast<VlcMediaPlayer::FrameSink *>(opaque)->frames;
}

} // namespace

VlcMediaPlayer::VlcMediaPlayer(VlcInstance *instance) : QObject(instance)
{
    m_player = libvlc_media_player_new(instance->core());
}

VlcMediaPlayer::~VlcMediaPlayer()
{
    if (!m_player)
        return;
    // Stopping joins libvlc's threads, so nothing draws into the video
    // window once the player is gone.
    libvlc_media_player_stop(m_player);
    libvlc_media_player_release(m_player);
}

void VlcMediaPlayer::setVideoWidget(VlcVideoWidget *widget)
{
    m_video = widget;
    if (!m_player)
        return;
    const WId window = widget ? widget->embedWindow() : 0;
    if (window != 0 || !widget) {
        libvlc_media_player_set_xwindow(m_player, static_cast<uint32_t>(window));
        return;
    }
    if (!m_sink)
        m_sink = std::make_unique<FrameSink>();
    libvlc_video_set_callbacks(m_player, lock_frame, nullptr, drop_frame, m_sink.get());
    libvlc_video_set_format(m_player, "RV32", FrameSink::WIDTH, FrameSink::HEIGHT, FrameSink::WIDTH * 4);
}

VlcVideoWidget *VlcMediaPlayer::videoWidget() const
{
    return m_video;
}

void VlcMediaPlayer::open(VlcMedia *media)
{
    if (!m_player || !media || !media->core())
        return;
    libvlc_media_player_set_media(m_player, media->core());
    libvlc_media_player_play(m_player);
}

qint64 VlcMediaPlayer::droppedFrames() const
{
    return m_sink ? m_sink->frames.load() : 0;
}

void VlcMediaPlayer::togglePause()
{
    const State now = state();
    if (m_player && (now == Playing || now == Paused))
        libvlc_media_player_set_pause(m_player, now == Playing ? 1 : 0);
}

void VlcMediaPlayer::replay()
{
    if (!m_player)
        return;
    // An ended player plays again only once stopped.
    libvlc_media_player_stop(m_player);
    libvlc_media_player_play(m_player);
}

void VlcMediaPlayer::stop()
{
    if (m_player)
        libvlc_media_player_stop(m_player);
}

VlcMediaPlayer::State VlcMediaPlayer::state() const
{
    return m_player ? static_cast<State>(libvlc_media_player_get_state(m_player)) : Idle;
}

bool VlcMediaPlayer::hasVideoOutput() const
{
    return m_player && libvlc_media_player_has_vout(m_player) > 0;
}

qint64 VlcMediaPlayer::time() const
{
    return m_player ? libvlc_media_player_get_time(m_player) : -1;
}

qint64 VlcMediaPlayer::length() const
{
    return m_player ? libvlc_media_player_get_length(m_player) : -1;
}

float VlcMediaPlayer::position() const
{
    return m_player ? libvlc_media_player_get_position(m_player) : 0.0f;
}

void VlcMediaPlayer::setPosition(float position)
{
    if (m_player)
        libvlc_media_player_set_position(m_player, position);
}

int VlcMediaPlayer::volume() const
{
    return m_player ? libvlc_audio_get_volume(m_player) : -1;
}

void VlcMediaPlayer::setVolume(int volume)
{
    if (m_player)
        libvlc_audio_set_volume(m_player, volume);
}
