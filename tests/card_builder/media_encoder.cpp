#include "card_builder/media_encoder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace card {

namespace {

constexpr int FFMPEG_TIMEOUT_MS = 5 * 60 * 1000;

bool run_ffmpeg(const QStringList &args, QByteArray *output, QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ffmpeg_program(), args);
    if (!p.waitForStarted()) {
        *error = QStringLiteral("cannot start %1: %2").arg(ffmpeg_program(), p.errorString());
        return false;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(FFMPEG_TIMEOUT_MS)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("ffmpeg did not finish in time");
        return false;
    }
    *output = p.readAll();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("ffmpeg failed (exit %1): %2")
                     .arg(p.exitCode()).arg(QString::fromLocal8Bit(output->right(2000)).trimmed());
        return false;
    }
    return true;
}

// Runs ffmpeg into "<path>.part" and moves the result to `path`, so that a
// failed or interrupted run never leaves a file the cache would take as done.
bool encode_to(const QString &path, QStringList args, QString *error)
{
    if (QFileInfo(path).size() > 0)
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot make the folder of %1").arg(path);
        return false;
    }
    const QString part = path + QStringLiteral(".part");
    args << part;
    QByteArray output;
    if (!run_ffmpeg(args, &output, error))
        return false;
    QFile::remove(path);
    if (!QFile::rename(part, path)) {
        *error = QStringLiteral("cannot move %1 into place").arg(part);
        return false;
    }
    return true;
}

QString cache_name(const QString &prefix, const QStringList &args, const QString &suffix)
{
    const QByteArray key = QCryptographicHash::hash(args.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha1);
    return prefix + QString::fromLatin1(key.toHex().left(16)) + suffix;
}

QString hue_filter(int pattern)
{
    return QStringLiteral("hue=h=%1").arg((pattern * 67) % 360);
}

const QStringList COMMON = {QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"),
                            QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y")};

}  // namespace

QString ffmpeg_program()
{
    const QString env = qEnvironmentVariable("TESSARO_FFMPEG");
    return env.isEmpty() ? QStringLiteral("/usr/bin/ffmpeg") : env;
}

bool ffmpeg_available(QString *why)
{
    static const QString missing = [] {
        if (!QFileInfo(ffmpeg_program()).isExecutable())
            return QStringLiteral("%1 is not installed (apt-get install ffmpeg)").arg(ffmpeg_program());
        QByteArray list;
        QString error;
        if (!run_ffmpeg({QStringLiteral("-hide_banner"), QStringLiteral("-encoders")}, &list, &error))
            return error;
        for (const char *encoder : {" libx264 ", " aac ", " mjpeg "})
            if (!list.contains(encoder))
                return QStringLiteral("%1 has no%2encoder").arg(ffmpeg_program(), QLatin1String(encoder));
        return QString();
    }();
    if (why)
        *why = missing;
    return missing.isEmpty();
}

bool hevc_available(QString *why)
{
    static const QString missing = [] {
        QString problem;
        if (!ffmpeg_available(&problem))
            return problem;
        QByteArray list;
        if (!run_ffmpeg({QStringLiteral("-hide_banner"), QStringLiteral("-encoders")}, &list, &problem))
            return problem;
        if (!list.contains(" libx265 "))
            return QStringLiteral("%1 has no libx265 encoder (H.265)").arg(ffmpeg_program());
        return QString();
    }();
    if (why)
        *why = missing;
    return missing.isEmpty();
}

namespace {

// x264's arguments, unchanged since the clip cache is keyed by them.
void h264_arguments(const ClipOptions &o, QStringList &args)
{
    args << "-c:v" << "libx264" << "-preset" << "veryfast" << "-pix_fmt" << "yuv420p" << "-g" << QString::number(o.gop);
    // Access-unit delimiters put 00 00 00 02 09 at the start of every frame,
    // which is how the rebuild finds frames on the card.
    QStringList x264;
    if (o.delimiters)
        x264 << QStringLiteral("aud=1");
    if (o.bitrate_kbps > 0) {
        const QString rate = QStringLiteral("%1k").arg(o.bitrate_kbps);
        args << "-b:v" << rate << "-minrate" << rate << "-maxrate" << rate << "-bufsize" << rate;
        x264 << QStringLiteral("nal-hrd=cbr");
    }
    if (!x264.isEmpty())
        args << "-x264-params" << x264.join(QLatin1Char(':'));
    // x264 puts its version SEI ahead of the first frame's delimiter; a
    // camera's samples all begin with the delimiter, so drop the SEI unless
    // the encoder's own output is wanted.
    if (!o.keep_sei)
        args << "-bsf:v" << "filter_units=remove_types=6";
}

void h265_arguments(const ClipOptions &o, QStringList &args)
{
    args << "-c:v" << "libx265" << "-preset" << "veryfast" << "-pix_fmt" << "yuv420p" << "-g" << QString::number(o.gop);
    // x265's own defaults otherwise (open GOPs: CRA key frames after the
    // first, with leading pictures), as a camera's H.265 encoder may write.
    QStringList x265{QStringLiteral("keyint=%1").arg(o.gop), QStringLiteral("log-level=error")};
    if (o.delimiters)
        x265.prepend(QStringLiteral("aud=1"));
    if (o.bitrate_kbps > 0) {
        // No HRD: it would add buffering and timing SEIs to every sample.
        const QString rate = QStringLiteral("%1k").arg(o.bitrate_kbps);
        args << "-b:v" << rate << "-maxrate" << rate << "-bufsize" << rate;
    }
    args << "-x265-params" << x265.join(QLatin1Char(':'));
    // x265 writes no SEI into its samples (its version SEI goes into the
    // hvcC box); should a later one, the flag still means what it says.
    if (!o.keep_sei)
        args << "-bsf:v" << "filter_units=remove_types=39|40";
    // "hvc1": parameter sets only in the sample description, as cameras and
    // Apple's players want; ffmpeg's default tag is "hev1".
    args << "-tag:v" << "hvc1";
}

}  // namespace

QString encode_clip(const ClipOptions &o, const QString &cache_dir, QString *error)
{
    const QString seconds = QString::number(o.seconds, 'f', 3);
    QStringList args = COMMON;
    args << "-f" << "lavfi" << "-i"
         << QStringLiteral("testsrc2=size=%1x%2:rate=%3:duration=%4").arg(o.width).arg(o.height).arg(o.fps).arg(seconds);
    if (o.audio)
        args << "-f" << "lavfi" << "-i"
             << QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2").arg(440 + 110 * o.pattern).arg(seconds);
    args << "-vf" << hue_filter(o.pattern);
    if (o.codec == ClipCodec::H265)
        h265_arguments(o, args);
    else
        h264_arguments(o, args);
    if (o.audio)
        args << "-c:a" << "aac" << "-b:a" << "96k";
    else
        args << "-an";
    args << "-f" << (o.quicktime ? "mov" : "mp4");
    if (!o.quicktime && !o.brand.isEmpty())
        args << "-brand" << o.brand;
    if (o.moov_first)
        args << "-movflags" << "+faststart";
    // The hash tells every option apart; the words show the raw encoder's
    // clips at a glance among the cached ones.
    QString prefix = QStringLiteral("clip-");
    if (o.codec == ClipCodec::H265)
        prefix += QStringLiteral("hevc-");
    if (o.keep_sei)
        prefix += QStringLiteral("sei-");
    if (!o.delimiters)
        prefix += QStringLiteral("noaud-");
    const QString path = QDir(cache_dir).filePath(cache_name(prefix, args, o.quicktime ? ".mov" : ".mp4"));
    return encode_to(path, args, error) ? path : QString();
}

QByteArray encode_photo(const PhotoOptions &o, const QString &cache_dir, QString *error)
{
    QStringList args = COMMON;
    args << "-f" << "lavfi" << "-i" << QStringLiteral("testsrc2=size=%1x%2:rate=25").arg(o.width).arg(o.height)
         << "-vf" << hue_filter(o.pattern) << "-frames:v" << "1" << "-c:v" << "mjpeg" << "-q:v"
         << QString::number(o.quality) << "-f" << "mjpeg";
    const QString path = QDir(cache_dir).filePath(cache_name(QStringLiteral("photo-"), args, ".jpg"));
    if (!encode_to(path, args, error))
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return {};
    }
    return f.readAll();
}

}  // namespace card
