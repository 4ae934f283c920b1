#include "rebuild/sample_decode.h"

#include "scan/video_thumbnails.h"

#include <QProcess>

namespace {

constexpr int DECODE_MS = 20000;

void append_unit(QByteArray &stream, const char *unit, int size)
{
    stream.append("\x00\x00\x00\x01", 4);
    stream.append(unit, size);
}

}  // namespace

Decoded decode_key_frame(const VideoTrack &track, const QByteArray &samples)
{
    const QString program = ffmpeg_program();
    if (program.isEmpty())
        return Decoded::Unknown;
    // An Annex B stream: start codes in place of the lengths.
    QByteArray stream;
    for (const VideoTrack::ParameterSet &set : track.parameter_sets())
        append_unit(stream, reinterpret_cast<const char *>(set.bytes), set.size);
    for (int at = 0; at + 4 <= samples.size();) {
        const auto *b = reinterpret_cast<const unsigned char *>(samples.constData() + at);
        const qint64 n = qint64(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
        if (n <= 0 || n > samples.size() - at - 4)
            return Decoded::Unknown;
        append_unit(stream, samples.constData() + at + 4, int(n));
        at += 4 + int(n);
    }
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(program, {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                           QStringLiteral("-f"), track.codec() == VideoCodec::H265 ? QStringLiteral("hevc") : QStringLiteral("h264"),
                           QStringLiteral("-i"), QStringLiteral("pipe:0"),
                           QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    if (!ffmpeg.waitForStarted(DECODE_MS))
        return Decoded::Unknown;
    ffmpeg.write(stream);
    ffmpeg.closeWriteChannel();
    if (!ffmpeg.waitForFinished(DECODE_MS)) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(1000);
        return Decoded::Unknown;
    }
    if (ffmpeg.exitStatus() != QProcess::NormalExit)
        return Decoded::Unknown;
    return ffmpeg.readAll().trimmed().isEmpty() && ffmpeg.exitCode() == 0 ? Decoded::Clean : Decoded::Damaged;
}
