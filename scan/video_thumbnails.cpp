#include "scan/video_thumbnails.h"

#include "scan/work_folder.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>

namespace {
// How often the wait for one run looks at the others, when a run is queued
// that a free slot could begin.
constexpr int POLL_MS = 20;
}

struct VideoThumbnails::Run {
    std::uint32_t index;
    QProcess process;
    QElapsedTimer clock;
};

QString ffmpeg_program()
{
    const QFileInfo local(temp_dir + QStringLiteral("ffmpeg"));
    if (local.isFile() && local.isExecutable())
        return local.filePath();
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QStringList thumbnail_arguments(std::uint32_t i)
{
    const QString n = QString::number(i);
    return {QStringLiteral("-ss"), QStringLiteral("1"), QStringLiteral("-i"), temp_dir + n + QStringLiteral(".mp4"),
            QStringLiteral("-f"), QStringLiteral("image2"), QStringLiteral("-vframes"), QStringLiteral("1"),
            QStringLiteral("-y"), QStringLiteral("-s"), QStringLiteral("120*90"),
            temp_dir + n + QStringLiteral(".png")};
}

VideoThumbnails::VideoThumbnails(int parallel, int wait_ms)
    : m_slots(parallel > 0 ? parallel : std::max(1, QThread::idealThreadCount())), m_wait_ms(wait_ms)
{
}

VideoThumbnails::~VideoThumbnails()
{
    for (const std::unique_ptr<Run> &run : m_runs)
        end_run(*run);
}

void VideoThumbnails::start(std::uint32_t i)
{
    if (m_begun.count(i))
        return;
    m_ready.insert(i);
    reap();
    fill_slots();
}

void VideoThumbnails::finish(std::uint32_t count, ScanProgress &progress)
{
    progress.code(CODE_VIDEO_THUMBS);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!m_begun.count(i))
            m_ready.insert(i);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        reap();
        fill_slots();
        // Begun at once, even beyond the slots, when runs of later videos
        // hold them all (their work copies were written first).
        if (!m_begun.count(i))
            launch(i);
        for (;;) {
            reap();
            fill_slots();
            Run *run = running(i);
            if (!run)
                break;
            const qint64 left = std::max<qint64>(0, m_wait_ms - run->clock.elapsed());
            // With nothing queued there is nothing to begin meanwhile.
            run->process.waitForFinished(int(m_ready.empty() ? left : std::min<qint64>(left, POLL_MS)));
        }
        progress.code(CODE_VIDEO_THUMBS + static_cast<int>(i));
    }
}

void VideoThumbnails::launch(std::uint32_t i)
{
    m_ready.erase(i);
    m_begun.insert(i);
    // Looked up once: with no ffmpeg at all, a card of a thousand videos
    // must not try a thousand starts.
    if (!m_looked_up) {
        m_program = ffmpeg_program();
        m_looked_up = true;
    }
    std::unique_ptr<Run> run(new Run);
    run->index = i;
    run->process.setStandardInputFile(QProcess::nullDevice());
    run->process.setStandardOutputFile(QProcess::nullDevice());
    run->process.setStandardErrorFile(QProcess::nullDevice());
    if (m_program.isEmpty()) {
        qDebug() << "Failed to start";
        return;
    }
    run->process.start(m_program, thumbnail_arguments(i));
    // The start is over in a moment, whether exec succeeds or fails.
    if (!run->process.waitForStarted(m_wait_ms)) {
        qDebug() << "Failed to start";
        return;
    }
    run->clock.start();
    m_runs.push_back(std::move(run));
}

void VideoThumbnails::fill_slots()
{
    while (int(m_runs.size()) < m_slots && !m_ready.empty())
        launch(*m_ready.begin());
}

void VideoThumbnails::reap()
{
    for (auto it = m_runs.begin(); it != m_runs.end();) {
        Run &run = **it;
        const bool over = run.process.state() == QProcess::NotRunning || run.process.waitForFinished(0);
        if (!over && run.clock.elapsed() < m_wait_ms) {
            ++it;
            continue;
        }
        // A run that hangs must not hold a slot or the codes up.
        if (!over)
            end_run(run);
        it = m_runs.erase(it);
    }
}

VideoThumbnails::Run *VideoThumbnails::running(std::uint32_t i)
{
    for (const std::unique_ptr<Run> &run : m_runs) {
        if (run->index == i)
            return run.get();
    }
    return nullptr;
}

void VideoThumbnails::end_run(Run &run)
{
    if (run.process.state() == QProcess::NotRunning)
        return;
    run.process.kill();
    run.process.waitForFinished(m_wait_ms);
}

void video_thumbnail_step(std::uint32_t count, ScanProgress &progress)
{
    VideoThumbnails thumbnails;
    thumbnails.finish(count, progress);
}
