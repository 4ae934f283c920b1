// What each found file is before anything is written: its size, what the
// recording or photo is, and how much of it the card still holds. The
// window's captions and tooltips and the command line's summaries say it in
// the same words.
#pragma once

#include "recover/recording_facts.h"
#include "rebuild/video_plan.h"
#include "recover/file_verdict.h"
#include "scan/byte_source.h"
#include "scan/scan_tables.h"

#include <QString>
#include <cstdint>

struct VideoFacts {
    RecordingFacts recording;
    std::uint64_t position = 0;   // of its ftyp box on the card
    std::uint64_t file_size = 0;  // bytes the recovered file will have
    Verdict verdict = Verdict::Empty;
    // Frames of the located chunks, of those the index lists; chunks where
    // the index does not tell its frames (`by_chunks`).
    std::uint32_t found = 0;
    std::uint32_t listed = 0;
    bool by_chunks = false;
};

// From the plan alone: nothing is read.
VideoFacts video_facts(const VideoPlan &plan);

struct PhotoFacts {
    std::uint64_t position = 0;
    std::uint64_t file_size = 0;
    std::uint32_t width = 0;  // 0: no frame header within what was read
    std::uint32_t height = 0;
    Verdict verdict = Verdict::Empty;
};

// Reads at most the photo's first 256 KiB for its frame header.
PhotoFacts photo_facts(ByteSource &source, std::uint64_t end, const PhotoInfo &photo);

// The picture size of the JPEG in [p, p + n): the first start-of-frame
// segment, reached segment by segment; false when none lies within.
bool jpeg_pixel_size(const unsigned char *p, std::uint64_t n, std::uint32_t *width, std::uint32_t *height);

// The words both front ends use.
// "intact", "partial: 212 of 240 frames", "empty", "rebuilt index", "no index"
QString verdict_text(const VideoFacts &facts);
QString verdict_text(const PhotoFacts &facts);  // "intact", "partial: its end is a guess", "empty"
QString duration_text(std::uint64_t ms);        // "0:07", "1:02:05"; "?" when unknown
QString resolution_text(std::uint32_t width, std::uint32_t height);  // "1920×1080"; "?"
QString codec_text(VideoCodec codec);           // "H.264", "H.265"; "?"
QString frame_rate_text(double fps);            // "29.97 fps"; "?"
QString size_text(std::uint64_t bytes);         // "812 KB", "41.3 MB", "1.20 GB"
