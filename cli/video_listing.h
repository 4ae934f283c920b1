// Each found video in the summaries of `scan` and `recover`: how long, what
// picture, which codec, how large and how much of it the card holds.
#pragma once

#include "recover/file_facts.h"

#include <QString>

class JsonWriter;

// "  3  0:07  1920×1080  H.264  30 fps  12.3 MB  partial: 212 of 240 frames"
QString video_line(int number, const VideoFacts &facts, const QString &verdict);

// The facts as keys of the JSON object being written: duration_ms, width,
// height, codec, frame_rate, size.
void write_video_facts(JsonWriter &w, const VideoFacts &facts);

// The facts of video n of the last scan.
VideoFacts facts_of_video(int n);
