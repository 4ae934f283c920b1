// A camera's recordings as it lays them on the card one after another: each
// recording's main file and its low-resolution proxy (an MP4 too, ".LRV")
// written in turn as the two streams fill their buffers, and a small plain
// thumbnail written as the recording starts. Cameras of this kind write no
// marker photos; the same session can be framed by marker photos to stand
// for a camera that does.
#pragma once

#include "card_builder/card_layout.h"
#include "card_builder/media_encoder.h"

#include <QString>

namespace card {

enum class SessionMarkers {
    None,        // no marker photos at all
    AroundAll,   // one before the first recording and one after the last
    BeforeEach,  // one before every recording and none after the last (the card ended there)
};

struct SessionOptions {
    SessionOptions();

    int recordings = 3;
    SessionMarkers markers = SessionMarkers::None;
    // Each recording's clips use these with their own `pattern` and a length
    // that varies a little around `seconds`, so that no two are alike.
    ClipOptions main;   // 640×360, 3000 kbit/s, brand mp41
    ClipOptions proxy;  // 320×180, 500 kbit/s, brand mp41
    bool proxies = true;
    bool thumbnails = true;
    // The camera flushes `run` bytes of the main file and `proxy_run` of the
    // proxy in turn.
    std::uint64_t run = 512 * KIB;
    std::uint64_t proxy_run = 64 * KIB;
    std::uint64_t at = 1 * MIB;  // the first file; before it, noise as a card's reserved area
    // Noise after the last recording; the card's used space ends there.
    std::uint64_t tail = 1 * MIB;
    std::uint64_t seed = 1;
};

// Encodes the session's clips and photos into `cache_dir` and lays them out:
// per recording the thumbnail GX01nnnn.THM, then GX01nnnn.MP4 interleaved
// with GL01nnnn.LRV, each file from the next free 32 KiB boundary; marker
// photos MARKnnnn.JPG (JFIF and the two Exif headers in turn) where
// `markers` puts them. False with the reason in `error`.
bool camera_session_layout(const SessionOptions &options, const QString &cache_dir, Layout *layout,
                           QString *error);

QString session_markers_name(SessionMarkers markers);
bool session_markers_from_name(const QString &name, SessionMarkers *markers);

}  // namespace card
