// Writes a video's plan as an MP4 file: the work copy (its first chunks) or
// the whole recording. The writer reads nothing but the card bytes it
// copies, in reads on the 32 KiB grid that run on across chunks that follow
// each other on the card.
#pragma once

#include "rebuild/video_plan.h"
#include "recover/file_verdict.h"
#include "scan/byte_source.h"

#include <QString>
#include <cstdint>

// The scan's work copies hold the first 401 chunks of each video.
constexpr std::uint32_t SHORT_REBUILD_CHUNKS = 401;
constexpr std::uint32_t ALL_CHUNKS = 0xFFFFFFFFu;

struct RebuildResult {
    QString file_name;
    bool written = false;         // the whole layout reached the file
    QString error;                // why not, when not
    std::uint32_t chunks = 0;     // C
    std::uint32_t matched = 0;    // chunks written from a found frame
    std::uint32_t filled = 0;     // chunks written as filler
    std::uint32_t skipped = 0;    // chunks that would overlap the file's header, left out
    std::uint32_t runs = 0;       // of the matched, chunks made of several consecutive frames
    std::uint32_t splits = 0;     // of the matched, chunks put together across a cluster boundary
    std::uint32_t spaced = 0;     // of the matched, chunks placed by the file's spacing alone
    bool tail = false;            // the last chunk was written, the moov box right after it
    bool lead_kept = false;       // the bytes before the first chunk are the recording's own
    bool table_cut = false;       // the chunk table ended early: it claimed more than it holds,
                                  // or its offsets went backwards
    std::uint64_t unreadable = 0; // bytes of the source that read as zeros
    // Told only when the whole plan is written (the recovery, not a work
    // copy): the recording's chunks as its index lists them, N for N offsets
    // (the last one written only with its tail), and the located chunks
    // whose video samples were not seen to hold.
    bool judged = false;
    std::uint32_t table_entries = 0;
    std::uint32_t unsound = 0;
    IndexOrigin index = IndexOrigin::Recorded;
    bool sound_left_out = false;  // a rebuilt index holds the video track only

    // The chunks that came back: located, and when judged their samples hold.
    std::uint32_t located() const { return matched - unsound; }
    // Intact only when judged, every chunk of the index was located (the
    // last one too), the index was not cut, every located chunk's samples
    // hold and the card gave every byte; empty when no chunk was located.
    // A recording without its own index says so whatever came back of it.
    Verdict verdict() const;
};

// save_dir + "/" + n + ".mp4", with one separator; a raw stream's ends in
// ".h264" or ".h265".
QString rebuild_file_name(int n, const QString &extension = QStringLiteral("mp4"));

// Writes save_dir/n.mp4 from `plan` with its first `limit` table chunks
// (the last one follows when the table ends right after them). A chunk
// without bytes on the card is filled with the last chunk written before
// it, by this or an earlier call, then zeros; fill_buf carries it. A plan
// without index is written as a raw stream: n.h264 or n.h265 when the whole
// recording is written, and under the work copy's name n.mp4 otherwise.
RebuildResult write_plan(ByteSource &source, std::uint64_t end, int n, const VideoPlan &plan, std::uint32_t limit);
