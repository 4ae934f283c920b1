// The card builder's cards as the world makes them: clips as ffmpeg writes
// them, a camera's recordings with their proxies and thumbnails, and a real
// FAT32 card where a later clip filled a deleted one's place. Each is checked
// with tools other than the builder: ffprobe for the samples, mtools and
// fsck.fat for the file system.
#include "card_builder/camera_session.h"
#include "card_builder/card_writer.h"
#include "card_builder/fat32_card.h"
#include "card_builder/layout_json.h"
#include "card_builder/media_encoder.h"
#include "scan/signatures.h"
#include "support/temp_image.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using card::Extent;
Q_DECLARE_METATYPE(card::ClipOptions)
Q_DECLARE_METATYPE(card::SessionMarkers)

namespace {

struct Sample {
    qint64 pos = 0;
    qint64 size = 0;
};

bool run(const QString &program, const QStringList &args, QByteArray *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MTOOLS_SKIP_CHECK", "1");
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.closeWriteChannel();
    const bool done = p.waitForStarted() && p.waitForFinished(120000);
    *output = p.readAll();
    return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString ffprobe_program()
{
    return QFileInfo(card::ffmpeg_program()).dir().filePath("ffprobe");
}

// The video samples of `path` as ffprobe reads them from the file's tables.
std::vector<Sample> video_samples(const QString &path)
{
    QByteArray out;
    if (!run(ffprobe_program(), {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pos,size", "-of",
                                 "json", path},
             &out))
        return {};
    std::vector<Sample> samples;
    for (const QJsonValue &p : QJsonDocument::fromJson(out).object()["packets"].toArray())
        samples.push_back({p["pos"].toString().toLongLong(), p["size"].toString().toLongLong()});
    return samples;
}

// The picture width of the first video stream.
int video_width(const QString &path)
{
    QByteArray out;
    run(ffprobe_program(), {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width", "-of", "csv=p=0",
                            path},
        &out);
    return out.trimmed().toInt();
}

// The NAL unit types of one sample, or {-1} when its 4-byte lengths do not
// add up to the sample's size.
QVector<int> nal_types(const QByteArray &sample)
{
    QVector<int> types;
    int at = 0;
    while (at + 5 <= sample.size()) {
        const auto *b = reinterpret_cast<const unsigned char *>(sample.constData() + at);
        const qint64 length = qint64(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
        types << (b[4] & 0x1F);
        at += 4 + int(length);
    }
    return at == sample.size() ? types : QVector<int>{-1};
}

// Lines ffmpeg prints on stderr decoding the whole file: none for a sound one.
QByteArray decode_errors(const QString &path)
{
    QByteArray out;
    run(card::ffmpeg_program(), {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}, &out);
    return out.trimmed();
}

QByteArray sha256(const QByteArray &b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

QByteArray content_bytes(const card::Content &c) { return c.path.isEmpty() ? c.data : read_file(c.path); }

// The file as its extents lay it on the card.
QByteArray reassemble(const QByteArray &image, const card::PlacedFile &f)
{
    QByteArray out(int(f.size), '\0');
    for (const Extent &e : f.extents)
        out.replace(int(e.file_offset), int(e.length), image.mid(int(e.card_pos), int(e.length)));
    return out;
}

QByteArray read_range(const QString &path, std::uint64_t pos, std::uint64_t length)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(qint64(pos)))
        return {};
    return f.read(qint64(length));
}

std::uint64_t end_of(const card::PlacedFile &f)
{
    std::uint64_t end = 0;
    for (const Extent &e : f.extents)
        end = std::max(end, e.card_pos + e.length);
    return end;
}

const QByteArray DELIMITER("\x00\x00\x00\x02\x09", 5);

}  // namespace

class TestCardBuilderWorld : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;

    QString ffmpeg_missing()
    {
        QString why;
        if (!card::ffmpeg_available(&why))
            return QStringLiteral("ffmpeg unusable: ") + why;
        if (!QFileInfo(ffprobe_program()).isExecutable())
            return ffprobe_program() + QStringLiteral(" is not installed (apt-get install ffmpeg)");
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cache = m_dir.filePath("media");
    }

    void clips_as_the_encoder_writes_them_data()
    {
        QTest::addColumn<card::ClipOptions>("options");
        card::ClipOptions o;
        o.seconds = 1;
        for (bool keep_sei : {false, true})
            for (bool delimiters : {true, false}) {
                o.keep_sei = keep_sei;
                o.delimiters = delimiters;
                o.bitrate_kbps = 0;
                o.audio = true;
                QTest::addRow("%s SEI, %s delimiters", keep_sei ? "x264's" : "no", delimiters ? "with" : "no") << o;
                // Constant bitrate adds SEIs of its own to every frame.
                o.bitrate_kbps = 1500;
                o.audio = false;
                QTest::addRow("%s SEI, %s delimiters, constant bitrate, no audio", keep_sei ? "x264's" : "no",
                              delimiters ? "with" : "no")
                    << o;
            }
    }

    void clips_as_the_encoder_writes_them()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QFETCH(card::ClipOptions, options);
        QString error;
        const QString path = card::encode_clip(options, m_cache, &error);
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        const QString name = QFileInfo(path).fileName();
        QCOMPARE(name.contains("sei-"), options.keep_sei);
        QCOMPARE(name.contains("noaud-"), !options.delimiters);

        const QByteArray clip = read_file(path);
        const std::vector<Sample> samples = video_samples(path);
        QCOMPARE(int(samples.size()), int(options.seconds * options.fps));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const QByteArray sample = clip.mid(int(samples[i].pos), int(samples[i].size));
            const QVector<int> types = nal_types(sample);
            QStringList listed;
            for (int t : types)
                listed << QString::number(t);
            const QString where = QStringLiteral("sample %1: NAL types %2").arg(i).arg(listed.join(' '));
            QVERIFY2(types.value(0) != -1, qPrintable(where));
            QCOMPARE(types.contains(9), options.delimiters);
            if (!options.keep_sei)
                QVERIFY2(!types.contains(6), qPrintable(where));
            if (i == 0 && options.keep_sei) {
                QVERIFY2(types.first() == 6, qPrintable(where));
                QVERIFY2(sample.contains("x264 - core"), "the first SEI is not x264's version string");
            } else if (options.delimiters) {
                QVERIFY2(sample.startsWith(DELIMITER), qPrintable(where));
            }
        }
        QCOMPARE(decode_errors(path), QByteArray());
    }

    void clip_options_from_layout_json()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        const QByteArray json = R"({"files": [
            {"name": "A.MP4", "clip": {"seconds": 1, "keep_sei": true, "delimiters": false}},
            {"name": "B.MP4", "clip": {"seconds": 1}}]})";
        card::Layout layout;
        QString error;
        QVERIFY2(card::layout_from_json(json, m_dir.path(), m_cache, &layout, &error), qPrintable(error));
        card::ClipOptions raw, plain;
        raw.seconds = plain.seconds = 1;
        raw.keep_sei = true;
        raw.delimiters = false;
        QCOMPARE(layout.placements[0].file.path, card::encode_clip(raw, m_cache, &error));
        QCOMPARE(layout.placements[1].file.path, card::encode_clip(plain, m_cache, &error));
        QVERIFY(!card::layout_from_json(R"({"files": [{"name": "A", "clip": {"sei": true}}]})", m_dir.path(), m_cache,
                                        &layout, &error));
    }

    void camera_sessions_data()
    {
        QTest::addColumn<int>("recordings");
        QTest::addColumn<card::SessionMarkers>("markers");
        QTest::newRow("no marker photos") << 3 << card::SessionMarkers::None;
        QTest::newRow("more than nine recordings between two marker photos") << 10 << card::SessionMarkers::AroundAll;
        QTest::newRow("a marker photo before each, none after the last") << 3 << card::SessionMarkers::BeforeEach;
    }

    void camera_sessions()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QFETCH(int, recordings);
        QFETCH(card::SessionMarkers, markers);
        card::SessionOptions o;
        o.recordings = recordings;
        o.markers = markers;
        o.main.seconds = o.proxy.seconds = 1;
        o.run = 128 * card::KIB;
        o.proxy_run = 32 * card::KIB;
        card::Layout layout;
        QString error;
        QVERIFY2(card::camera_session_layout(o, m_cache, &layout, &error), qPrintable(error));
        const QString image = m_dir.filePath("session.img");
        const card::CardResult r = card::build_card(layout, image);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QByteArray bytes = read_file(image);

        // What starts on the card's grid, in card order: M marker photo,
        // T another photo, V a video.
        QString starts;
        for (int pos = 0; pos + 16 <= bytes.size(); pos += int(card::STEP)) {
            const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData() + pos);
            starts += is_marker_photo(b) ? "M" : is_photo_start(b) ? "T" : is_video_start(b) ? "V" : "";
        }
        QString recording = "TVV", expected;
        for (int i = 0; i < recordings; ++i)
            expected += (markers == card::SessionMarkers::BeforeEach ? "M" : "") + recording;
        if (markers == card::SessionMarkers::AroundAll)
            expected = "M" + expected + "M";
        QCOMPARE(starts, expected);

        // Each recording: its thumbnail, then the main file and the proxy in
        // turn, the proxy a smaller MP4 of the same brand.
        std::uint64_t last_end = 0;
        for (int i = 1; i <= recordings; ++i) {
            const QString n = QString("%1").arg(i, 4, 10, QLatin1Char('0'));
            const card::PlacedFile *thumb = r.manifest.find("GX01" + n + ".THM"), *main = r.manifest.find("GX01" + n + ".MP4"),
                                   *proxy = r.manifest.find("GL01" + n + ".LRV");
            QVERIFY(thumb && main && proxy);
            QVERIFY(thumb->start() < main->start() && main->start() < proxy->start());
            QVERIFY2(main->extents.size() >= 2 && proxy->extents.size() >= 2, "the files are not interleaved");
            QVERIFY(proxy->extents[0].card_pos < main->extents[1].card_pos);
            for (const card::PlacedFile *f : {main, proxy}) {
                const QByteArray file = reassemble(bytes, *f);
                QCOMPARE(sha256(file), f->sha256);
                QCOMPARE(file.mid(4, 8), QByteArray("ftypmp41"));
                const QString path = write_image(m_dir, f->name, file);
                QCOMPARE(video_width(path), f == main ? 640 : 320);
                QCOMPARE(decode_errors(path), QByteArray());
            }
            QVERIFY(!is_marker_photo(reinterpret_cast<const unsigned char *>(bytes.constData() + thumb->start())));
            last_end = std::max({last_end, end_of(*main), end_of(*proxy)});
        }
        // The last recording ends the used space: after it, a closing marker
        // photo where there is one, then noise only.
        std::uint64_t used = card::align_up(last_end);
        for (const card::PlacedFile &f : r.manifest.files) {
            if (end_of(f) <= last_end)
                continue;
            QVERIFY2(markers == card::SessionMarkers::AroundAll && f.name == r.manifest.files.back().name, qPrintable(f.name));
            QCOMPARE(f.start(), card::align_up(last_end));
            used = card::align_up(end_of(f));
        }
        QCOMPARE(r.manifest.image_size, used + o.tail);
    }

    void fat32_card_data()
    {
        QTest::addColumn<quint64>("partition_at");
        QTest::addColumn<quint64>("size");
        QTest::addColumn<double>("later_seconds");
        QTest::newRow("partition at 4 MiB, the later clip longer, split by the hole")
            << quint64(4 * card::MIB) << quint64(4096 * card::MIB) << 4.0;
        QTest::newRow("no partition table, the later clip shorter, the deleted one's tail left")
            << quint64(0) << quint64(2200 * card::MIB) << 1.0;
    }

    void fat32_card()
    {
        const QString missing = ffmpeg_missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QFETCH(quint64, partition_at);
        QFETCH(quint64, size);
        QFETCH(double, later_seconds);
        QString why;
        if (!card::mtools_available(partition_at != 0, &why))
            QSKIP(qPrintable(why));
        const QString fsck = QStandardPaths::findExecutable("fsck.fat", {"/usr/sbin", "/sbin"});
        if (fsck.isEmpty())
            QSKIP("fsck.fat not found (apt-get install dosfstools)");

        card::Fat32Options o;
        o.partition_at = partition_at;
        o.size = size;
        o.later_seconds = later_seconds;
        const QString image = m_dir.filePath("fat32.img");
        const card::Fat32Card c = card::fat32_card(o, image, m_cache);
        QVERIFY2(c.ok, qPrintable(c.error));
        QCOMPARE(QFileInfo(image).size(), qint64(size));

        // The real tools read it as the camera left it.
        const QString drive = partition_at ? QString("%1@@%2").arg(image).arg(partition_at) : image;
        QByteArray out;
        QVERIFY2(run("minfo", {"-i", drive, "::"}, &out), out.constData());
        QVERIFY(out.contains("disk type=\"FAT32   \"") && out.contains("cluster size: 64 sectors"));
        QVERIFY2(run("mdir", {"-/", "-b", "-i", drive, "::"}, &out), out.constData());
        QStringList listed = QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
        listed = listed.filter(QRegularExpression("\\.(JPG|MP4)$"));
        QStringList live;
        for (const card::PlacedFile &f : c.manifest.files)
            if (!c.deleted.contains(f.name))
                live << "::/DCIM/100MEDIA/" + f.name;
        std::sort(listed.begin(), listed.end());
        std::sort(live.begin(), live.end());
        QCOMPARE(listed, live);
        QCOMPARE(c.deleted, QStringList{"GX010002.MP4"});
        QString volume = image;
        if (partition_at) {
            // fsck.fat takes a volume, not a card with a partition table: the
            // volume's used part copied, the rest left a hole.
            std::uint64_t used = c.volume.data_start;
            for (const card::FatEntry &e : c.volume.entries)
                for (std::uint32_t cluster : e.clusters)
                    used = std::max(used, c.volume.cluster_pos(cluster) + card::STEP);
            volume = m_dir.filePath("volume.img");
            QFile v(volume);
            QVERIFY(v.open(QIODevice::WriteOnly)
                    && v.write(read_range(image, partition_at, used - partition_at)) == qint64(used - partition_at)
                    && v.resize(qint64(size - partition_at)));
        }
        QVERIFY2(run(fsck, {"-n", volume}, &out), out.constData());
        if (volume != image)
            QFile::remove(volume);

        // The reader's chains are mtools' own, and every cluster lies on the
        // card's 32 KiB grid with the file's bytes in it.
        QCOMPARE(c.volume.cluster_size, card::STEP);
        QCOMPARE(c.volume.data_start % card::STEP, 0u);
        QCOMPARE(c.volume.partition_at, std::uint64_t(partition_at));
        for (std::size_t i = 0; i < c.manifest.files.size(); ++i) {
            const card::PlacedFile &f = c.manifest.files[i];
            QCOMPARE(f.sha256, sha256(content_bytes(c.files[i])));
            for (const Extent &e : f.extents)
                QCOMPARE(e.card_pos % card::STEP, 0u);
            if (c.deleted.contains(f.name))
                continue;
            const card::FatEntry *entry = c.volume.find(f.name);
            QVERIFY(entry);
            QString runs;
            for (const Extent &e : f.extents) {
                const std::uint64_t first = (e.card_pos - c.volume.data_start) / card::STEP + 2;
                const std::uint64_t last = first + (e.length - 1) / card::STEP;
                runs += first == last ? QString(" <%1>").arg(first) : QString(" <%1-%2>").arg(first).arg(last);
            }
            QVERIFY2(run("mshowfat", {"-i", drive, "::DCIM/100MEDIA/" + f.name}, &out), out.constData());
            QCOMPARE(QString::fromLatin1(out).trimmed(), "::/DCIM/100MEDIA/" + f.name + runs);
        }

        // Camera order, and the later clip D where the allocator put it.
        auto at = [&](const char *name) { return c.manifest.find(name); };
        const card::PlacedFile *m2 = at("MARK0002.JPG"), *b = at("GX010002.MP4"), *m3 = at("MARK0003.JPG"),
                               *clip_c = at("GX010003.MP4"), *m4 = at("MARK0004.JPG"), *d = at("GX010004.MP4"),
                               *m5 = at("MARK0005.JPG");
        QVERIFY(m2 && b && m3 && clip_c && m4 && d && m5);
        QVERIFY(m2->start() < b->start() && end_of(*b) < m3->start() && m3->start() < clip_c->start()
                && end_of(*clip_c) <= m4->start());
        QCOMPARE(d->start(), b->start());
        const std::uint64_t hole = card::align_up(b->size);
        QCOMPARE(m5->start(), card::align_up(end_of(*d)));
        if (d->size > hole) {
            QCOMPARE(d->extents.size(), std::size_t(2));
            QCOMPARE(d->extents[0].length, hole);
            QCOMPARE(d->extents[1].file_offset, hole);
            QCOMPARE(d->extents[1].card_pos, card::align_up(end_of(*m4)));
        } else {
            // D and the photo after it lie in the hole; what they did not
            // cover still holds B's bytes, its movie box among them.
            QCOMPARE(d->extents.size(), std::size_t(1));
            const std::uint64_t kept = card::align_up(end_of(*m5)) - b->start();
            const QByteArray original = content_bytes(c.files[3]);
            QVERIFY(kept < b->size && original.indexOf("moov") > int(kept));
            QCOMPARE(read_range(image, b->start() + kept, b->size - kept), original.mid(int(kept)));
        }
        QFile::remove(image);
    }
};

QTEST_GUILESS_MAIN(TestCardBuilderWorld)
#include "test_card_builder_world.moc"
