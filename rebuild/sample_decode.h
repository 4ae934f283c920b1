// A last word on bytes put together for a key frame: whether ffmpeg decodes
// them after the track's parameter sets without reporting an error. Garbage
// inside a slice shows at once; a real frame decodes clean.
#pragma once

#include "rebuild/video_track.h"

#include <QByteArray>

enum class Decoded { Clean, Damaged, Unknown };

// `samples` are video samples with 4-byte NAL lengths that chain exactly
// (as sample_check.h makes sure). Unknown when ffmpeg cannot be run.
Decoded decode_key_frame(const VideoTrack &track, const QByteArray &samples);
