#include "scan/video_thumbnails.h"

#include "scan/work_folder.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int WAIT_MS = 30000;
}

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

void video_thumbnail_step(std::uint32_t count, ScanProgress &progress)
{
    progress.code(CODE_VIDEO_THUMBS);
    if (count == 0)
        return;
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    ffmpeg.setStandardErrorFile(QProcess::nullDevice());
    // Looked up once: with no ffmpeg at all, a card of a thousand videos
    // must not try a thousand starts.
    const QString program = ffmpeg_program();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!program.isEmpty())
            ffmpeg.start(program, thumbnail_arguments(i));
        if (!program.isEmpty() && ffmpeg.waitForStarted(WAIT_MS)) {
            if (!ffmpeg.waitForFinished(WAIT_MS)) {
                // A run that hangs must not hold the next one up.
                ffmpeg.kill();
                ffmpeg.waitForFinished(WAIT_MS);
            }
        } else {
            qDebug() << "Failed to start";
        }
        progress.code(CODE_VIDEO_THUMBS + static_cast<int>(i));
    }
}
