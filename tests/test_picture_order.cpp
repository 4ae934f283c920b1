// Picture order counts read from encoder output as ffmpeg writes it, held
// to what the MP4's own tables say: the presentation order its stts and
// ctts give, its stss sync samples and its picture size. Clips are encoded
// here with libx264 and libx265; the camera recordings of the sample folder
// are read when they are there.
#include "rebuild/picture_order.h"
#include "support/mp4_timing.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

namespace {

const unsigned char *bytes(const QByteArray &b)
{
    return reinterpret_cast<const unsigned char *>(b.constData());
}

// What the order run over samples [from, end) of a track gave.
struct Run {
    std::vector<PictureOrder::Picture> pictures;
    int parameter_sets = 0;  // of the sample description, taken
    bool has_size = false;
    std::uint32_t width = 0, height = 0;
};

Run run_order(const QByteArray &file, const TimedTrack &track, VideoCodec codec, std::size_t from)
{
    Run run;
    PictureOrder order(codec);
    for (const QByteArray &set : track.parameter_sets)
        run.parameter_sets += order.add_parameter_set(bytes(set), std::size_t(set.size())) ? 1 : 0;
    for (std::size_t i = from; i < track.samples.size(); ++i) {
        const TimedSample &s = track.samples[i];
        if (s.offset + s.size > std::uint64_t(file.size()))
            return {};
        run.pictures.push_back(order.next(bytes(file) + s.offset, s.size));
    }
    run.has_size = order.picture_size(&run.width, &run.height);
    return run;
}

// The presentation order of samples [from, end) among themselves.
std::vector<std::uint32_t> presentation_from(const TimedTrack &track, std::size_t from)
{
    const std::vector<std::uint32_t> whole = presentation_order(track);
    std::vector<std::uint32_t> part(whole.begin() + std::ptrdiff_t(from), whole.end());
    std::vector<std::uint32_t> sorted = part;
    std::sort(sorted.begin(), sorted.end());
    for (auto &p : part)
        p = std::uint32_t(std::lower_bound(sorted.begin(), sorted.end(), p) - sorted.begin());
    return part;
}

QString first_difference(const std::vector<std::uint32_t> &got, const std::vector<std::uint32_t> &want)
{
    if (got.size() != want.size())
        return QStringLiteral("%1 pictures, %2 samples").arg(got.size()).arg(want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return QStringLiteral("sample %1 shown %2th, the MP4 shows it %3th").arg(i).arg(got[i]).arg(want[i]);
    return {};
}

// Every check on one recording: all its pictures read, key pictures where
// the stss has its sync samples, its display order as its tables give it,
// its size; then the same recording cut after its first few samples, as a
// card that lost the start of a recording gives it, read with the sample
// description's parameter sets: the order of what is left.
void verify_recording(const QString &path, std::uint32_t width, std::uint32_t height)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray file = f.readAll();
    const TimedTrack track = read_timed_track(file);
    QVERIFY2(track.samples.size() > 8, "the clip's video tables were not read");
    const QByteArray entry(track.sample_entry);
    const VideoCodec codec = entry == "hvc1" || entry == "hev1" ? VideoCodec::H265 : VideoCodec::H264;
    QVERIFY2(codec == VideoCodec::H265 || entry == "avc1" || entry == "avc3", track.sample_entry);

    const Run run = run_order(file, track, codec, 0);
    QVERIFY(run.parameter_sets >= 2);
    QCOMPARE(run.pictures.size(), track.samples.size());
    std::vector<std::uint32_t> keys, syncs;
    for (std::size_t i = 0; i < track.samples.size(); ++i) {
        QVERIFY2(run.pictures[i].parsed, qPrintable(QStringLiteral("sample %1 not read").arg(i)));
        if (run.pictures[i].key)
            keys.push_back(std::uint32_t(i));
        if (track.samples[i].sync)
            syncs.push_back(std::uint32_t(i));
    }
    QCOMPARE(keys, syncs);
    QVERIFY(run.pictures[0].resets);
    const QString order = first_difference(display_order(run.pictures), presentation_order(track));
    QVERIFY2(order.isEmpty(), qPrintable(order));
    QVERIFY(run.has_size);
    QCOMPARE(run.width, width);
    QCOMPARE(run.height, height);

    const std::size_t cut = 5;
    QVERIFY2(!track.samples[cut].sync, "the cut should fall inside a group of pictures");
    const Run rest = run_order(file, track, codec, cut);
    QVERIFY(!rest.pictures.empty() && !rest.pictures[0].resets);
    const QString rest_order = first_difference(display_order(rest.pictures), presentation_from(track, cut));
    QVERIFY2(rest_order.isEmpty(), qPrintable("cut recording: " + rest_order));
}

}  // namespace

class TestPictureOrder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_encoders;  // what `ffmpeg -encoders` lists; empty without ffmpeg

    // Frames of ffmpeg's test pattern, encoded into an MP4; empty with the
    // reason when that cannot be done.
    QString encode(const QString &name, const QString &encoder, const QStringList &options, std::uint32_t width,
                   std::uint32_t height, int frames, QString *why)
    {
        if (!m_encoders.contains(encoder)) {
            *why = m_encoders.isEmpty() ? "ffmpeg does not run" : "ffmpeg has no " + encoder;
            return {};
        }
        const QString path = m_dir.filePath(name + ".mp4");
        QProcess p;
        p.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                      QStringLiteral("testsrc2=size=%1x%2:rate=25").arg(width).arg(height),
                                      "-frames:v", QString::number(frames), "-c:v", encoder}
                              + options + QStringList{path});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            *why = "ffmpeg failed: " + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
            return {};
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess p;
        p.start("ffmpeg", {"-hide_banner", "-encoders"});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            m_encoders = QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    // Sizes that are no whole number of macroblocks or coding blocks, so
    // that the cropping counts. The H.264 rows name the order count type
    // their sequence parameter set must have, and each row the bits of its
    // order count lsb (-1: not looked at), with frames enough that the lsb
    // wraps inside a group of pictures where the row says so.
    void encoded_clips_data()
    {
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("poc_type");
        QTest::addColumn<int>("lsb_bits");
        QTest::addColumn<std::uint32_t>("width");
        QTest::addColumn<std::uint32_t>("height");
        QTest::addColumn<int>("frames");

        const QString x264 = "libx264", x265 = "libx265";
        QTest::newRow("x264 two B-frames, no pyramid")
            << x264 << QStringList{"-bf", "2", "-x264-params", "b-pyramid=none:keyint=24"} << 0 << -1 << 334u << 190u
            << 60;
        QTest::newRow("x264 B-pyramid, high 4:4:4, lsb wraps")
            << x264
            << QStringList{"-bf", "3", "-pix_fmt", "yuv444p", "-x264-params", "b-pyramid=normal:b-adapt=2:keyint=250"}
            << 0 << 6 << 330u << 186u << 60;
        QTest::newRow("x264 interlaced, B-frames")
            << x264 << QStringList{"-bf", "2", "-flags", "+ildct", "-x264-params", "keyint=20"} << 0 << -1 << 334u << 188u
            << 60;
        QTest::newRow("x264 baseline, no B-frames, frame_num wraps")
            << x264 << QStringList{"-bf", "0", "-profile:v", "baseline", "-x264-params", "keyint=25"} << 2 << -1
            << 334u << 190u << 60;
        QTest::newRow("x265 three B-frames, 4:4:4")
            << x265
            << QStringList{"-tag:v", "hvc1", "-pix_fmt", "yuv444p", "-x265-params", "bframes=3:aud=1:keyint=24:log-level=error"}
            << -1 << -1 << 334u << 190u << 60;
        QTest::newRow("x265 open groups, lsb wraps, headers in samples")
            << x265
            << QStringList{"-tag:v", "hvc1", "-x265-params",
                           "bframes=4:aud=1:keyint=20:open-gop=1:log2-max-poc-lsb=6:repeat-headers=1:log-level=error"}
            << -1 << 6 << 194u << 110u << 100;
        QTest::newRow("x265 B-frames on temporal layers")
            << x265
            << QStringList{"-tag:v", "hvc1", "-x265-params", "bframes=3:b-pyramid=1:temporal-layers=1:aud=1:log-level=error"}
            << -1 << -1 << 320u << 180u << 60;
    }

    void encoded_clips()
    {
        QFETCH(QString, encoder);
        QFETCH(QStringList, options);
        QFETCH(int, poc_type);
        QFETCH(int, lsb_bits);
        QFETCH(std::uint32_t, width);
        QFETCH(std::uint32_t, height);
        QFETCH(int, frames);
        QString why;
        const QString path = encode(QTest::currentDataTag(), encoder, options, width, height, frames, &why);
        if (path.isEmpty())
            QSKIP(qPrintable(why));

        // The row is what it claims to be.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const TimedTrack track = read_timed_track(f.readAll());
        QVERIFY(!track.parameter_sets.empty());
        QCOMPARE(track.width, width);
        QCOMPARE(track.height, height);
        for (const QByteArray &set : track.parameter_sets) {
            const auto *nal = bytes(set);
            if (poc_type >= 0 && set.size() > 1 && (nal[0] & 0x1F) == 7) {
                H264Sps sps;
                QVERIFY(parse_h264_sps(nal + 1, std::size_t(set.size() - 1), &sps));
                QCOMPARE(int(sps.poc_type), poc_type);
            }
            if (poc_type >= 0 && lsb_bits >= 0 && set.size() > 1 && (nal[0] & 0x1F) == 7) {
                H264Sps sps;
                QVERIFY(parse_h264_sps(nal + 1, std::size_t(set.size() - 1), &sps));
                QCOMPARE(int(sps.log2_max_poc_lsb), lsb_bits);
            }
            if (poc_type < 0 && lsb_bits >= 0 && set.size() > 2 && ((nal[0] >> 1) & 0x3F) == 33) {
                H265Sps sps;
                QVERIFY(parse_h265_sps(nal + 2, std::size_t(set.size() - 2), &sps));
                QCOMPARE(int(sps.log2_max_poc_lsb), lsb_bits);
            }
        }
        verify_recording(path, width, height);
    }

    // Recordings made by cameras: frames as their encoders order them. The
    // HERO5 codes 864 pixels a line and crops nothing; its MP4 says 854.
    void camera_recordings_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::uint32_t>("width");
        QTest::addColumn<std::uint32_t>("height");
        QTest::newRow("GoPro HERO5, B-frames") << "gopro-karma.mp4" << 864u << 480u;
        QTest::newRow("GoPro MAX") << "gopro-max-heromode.mp4" << 848u << 480u;
    }

    void camera_recordings()
    {
        QFETCH(QString, name);
        QFETCH(std::uint32_t, width);
        QFETCH(std::uint32_t, height);
        const QString path = qEnvironmentVariable("TESSARO_SAMPLES") + "/" + name;
        if (!QFile::exists(path))
            QSKIP(qPrintable(name + " is not in the sample folder (TESSARO_SAMPLES)"));
        verify_recording(path, width, height);
    }
};

QTEST_GUILESS_MAIN(TestPictureOrder)
#include "test_picture_order.moc"
