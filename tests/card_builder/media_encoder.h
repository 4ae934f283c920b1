// Test clips and photos made by the real ffmpeg from its synthetic sources,
// cached by their options in a folder the caller gives (one per test run).
#pragma once

#include <QByteArray>
#include <QString>

namespace card {

struct ClipOptions {
    double seconds = 2.0;
    int width = 320;
    int height = 240;
    int fps = 30;
    int gop = 15;
    // 0: x264's own rate control. Otherwise a constant bitrate, padded with
    // filler, so that the clip has about bitrate × duration bytes.
    int bitrate_kbps = 0;
    // With AAC audio interleaved, every video frame is its own chunk, as in a
    // camera's file; without it ffmpeg merges frames into large chunks.
    bool audio = true;
    QString brand = QStringLiteral("mp42");  // major brand of an MP4: "mp42", "avc1", "MSNV", ...
    bool quicktime = false;                  // a .mov with brand "qt  " (brand ignored)
    bool moov_first = false;                 // false: "moov" after "mdat", as a camera writes it
    int pattern = 0;                         // varies the picture and the tone so that clips differ
    // x264's output as it comes: its version SEI (NAL type 6) stays in the
    // first sample, ahead of everything else. false: it is dropped, so every
    // sample begins as a camera's do.
    bool keep_sei = false;
    // Access-unit delimiters (00 00 00 02 09) at the start of every sample;
    // false leaves them out, as x264 and many encoders do by default.
    bool delimiters = true;
};

struct PhotoOptions {
    int width = 320;
    int height = 240;
    int quality = 3;  // ffmpeg's -q:v, 2 (best) to 31
    int pattern = 0;  // varies the picture so that photos differ
};

// The ffmpeg program: $TESSARO_FFMPEG if set, else /usr/bin/ffmpeg.
QString ffmpeg_program();

// Whether ffmpeg runs and has the libx264, aac and mjpeg encoders; if not,
// `why` says what is missing (for a QSKIP message). Checked once per process.
bool ffmpeg_available(QString *why = nullptr);

// Path of the encoded clip in `cache_dir` (made if missing), or empty with
// the reason in `error`.
QString encode_clip(const ClipOptions &options, const QString &cache_dir, QString *error);

// The JPEG bytes of one synthetic photo (ffmpeg's JFIF header), or empty
// with the reason in `error`.
QByteArray encode_photo(const PhotoOptions &options, const QString &cache_dir, QString *error);

}  // namespace card
