// Video thumbnails: ffmpeg writes the frame at one second of each work copy
// n.mp4 as n.png (120 x 90) in the work folder, as many runs at once as the
// machine has cores.
#pragma once

#include "scan/scan_progress.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

class QProcess;

// The ffmpeg to run: the copy in the work folder when there is one, else
// ffmpeg from PATH; empty when there is neither.
QString ffmpeg_program();

// The argument list for video i (no shell: paths may hold any character).
QStringList thumbnail_arguments(std::uint32_t i);

// The runs of one scan. Everything happens on the calling thread, which
// needs no event loop: runs are reaped whenever start() or finish() looks
// at them.
class VideoThumbnails
{
public:
    // `parallel` runs at once, 0: one per core. A run gets `wait_ms` to
    // start and as long again to finish before it is killed.
    explicit VideoThumbnails(int parallel = 0, int wait_ms = 30000);
    ~VideoThumbnails();  // kills and reaps what still runs
    VideoThumbnails(const VideoThumbnails &) = delete;
    VideoThumbnails &operator=(const VideoThumbnails &) = delete;

    // Work copy i is written: its run may begin, now or when a slot frees.
    void start(std::uint32_t i);
    // Emits 20002, then for videos 0 .. count - 1 in order: starts what has
    // not started, waits for run i and emits 20002 + i whatever came of it.
    void finish(std::uint32_t count, ScanProgress &progress);

private:
    struct Run;
    void reap();
    void launch(std::uint32_t i);
    void fill_slots();
    Run *running(std::uint32_t i);
    void end_run(Run &run);

    int m_slots;
    int m_wait_ms;
    bool m_looked_up = false;
    QString m_program;
    std::set<std::uint32_t> m_ready;  // work copy written, run not begun
    std::set<std::uint32_t> m_begun;  // run begun (or failed to)
    std::vector<std::unique_ptr<Run>> m_runs;
};

// Emits 20002, then runs ffmpeg for videos 0 .. count - 1, emitting
// 20002 + i after each whatever came of it.
void video_thumbnail_step(std::uint32_t count, ScanProgress &progress);
