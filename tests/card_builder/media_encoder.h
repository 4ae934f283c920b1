// Test clips and photos made by the real ffmpeg from its synthetic sources,
// cached by their options in a folder the caller gives (one per test run).
#pragma once

#include <QByteArray>
#include <QString>

namespace card {

enum class ClipCodec {
    H264,  // libx264, "avc1"
    H265,  // libx265, "hvc1" (parameter sets in the sample description only)
};

struct ClipOptions {
    ClipCodec codec = ClipCodec::H264;
    double seconds = 2.0;
    int width = 320;
    int height = 240;
    int fps = 30;
    int gop = 15;
    // 0: the encoder's own rate control. Otherwise a constant bitrate
    // (x264 pads with filler; x265's buffer constraint alone comes close),
    // so that the clip has about bitrate × duration bytes.
    int bitrate_kbps = 0;
    // With AAC audio interleaved, every video frame is its own chunk, as in a
    // camera's file; without it ffmpeg merges frames into large chunks.
    bool audio = true;
    QString brand = QStringLiteral("mp42");  // major brand of an MP4: "mp42", "avc1", "MSNV", ...
    bool quicktime = false;                  // a .mov with brand "qt  " (brand ignored)
    bool moov_first = false;                 // false: "moov" after "mdat", as a camera writes it
    int pattern = 0;                         // varies the picture and the tone so that clips differ
    // The encoder's output as it comes: x264's version SEI (NAL type 6)
    // stays in the first sample, ahead of everything else. false: SEI units
    // are dropped from the samples (H.264 type 6, H.265 types 39 and 40), so
    // every sample begins as a camera's do. x265 puts its version SEI with
    // its parameter sets into the sample description ("hvcC"), not into a
    // sample, so for H.265 the samples are the same either way.
    bool keep_sei = false;
    // Access-unit delimiters at the start of every sample: 00 00 00 02 09
    // (H.264), 00 00 00 03 46 01 and the picture type (H.265). false leaves
    // them out, as x264 and x265 do by default. x265 writes its first
    // delimiter with its stream headers, which ffmpeg turns into the sample
    // description (dropping the delimiter): the first sample of an H.265
    // clip begins with its slice.
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

// Whether ffmpeg_available() and ffmpeg has the libx265 encoder as well;
// if not, `why` says what is missing. Checked once per process.
bool hevc_available(QString *why = nullptr);

// Path of the encoded clip in `cache_dir` (made if missing), or empty with
// the reason in `error`.
QString encode_clip(const ClipOptions &options, const QString &cache_dir, QString *error);

// The JPEG bytes of one synthetic photo (ffmpeg's JFIF header), or empty
// with the reason in `error`.
QByteArray encode_photo(const PhotoOptions &options, const QString &cache_dir, QString *error);

}  // namespace card
