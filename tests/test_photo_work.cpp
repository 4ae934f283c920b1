// Photos measured and thumbnailed from the bytes the reading pass holds:
// the same lengths and thumbnails as reading each photo from the card, the
// card read once, the kept bytes under their ceiling, the codes in order.
#include "card_builder/card_writer.h"
#include "card_builder/media_encoder.h"
#include "card_builder/photo_headers.h"
#include "scan/chunk_rule.h"
#include "scan/photo_thumbnails.h"
#include "scan/photo_work.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "support/temp_image.h"

#include <QThread>
#include <QtTest>
#include <mutex>
#include <vector>

using namespace card;

namespace {

struct Range {
    std::uint64_t from, to;
};

// A memory source that notes the reads made on threads other than the
// one that made it (the photo workers'), and cancels the scan when the
// chunk at `cancel_at` is read.
class WatchedSource : public MemorySource
{
public:
    WatchedSource(const QByteArray &card, std::uint64_t cancel_at)
        : MemorySource(reinterpret_cast<const unsigned char *>(card.constData()), std::uint64_t(card.size())),
          m_cancel_at(cancel_at), m_owner(QThread::currentThread())
    {
    }
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override
    {
        const bool worker = QThread::currentThread() != m_owner;
        if (!worker && pos == m_cancel_at)
            scan_flag = 0;
        const std::int64_t n = MemorySource::read_once(pos, buf, len);
        if (worker && n > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            others.push_back(Range{pos, pos + std::uint64_t(n)});
        }
        return n;
    }
    std::vector<Range> others;

private:
    std::uint64_t m_cancel_at;
    QThread *m_owner;
    std::mutex m_mutex;
};

QByteArray photo(int width, int height, int pattern, const QString &cache)
{
    PhotoOptions o;
    o.width = width;
    o.height = height;
    o.quality = 2;
    o.pattern = pattern;
    QString why;
    const QByteArray jpeg = encode_photo(o, cache, &why);
    if (jpeg.isEmpty())
        qWarning() << why;
    return jpeg;
}

// The photo with a DQT segment of length 1: its structure does not hold,
// so the end markers in the 4 MiB from its start decide its length.
QByteArray broken(QByteArray jpeg)
{
    const int dqt = jpeg.indexOf("\xFF\xDB");
    if (dqt < 0)
        return {};
    jpeg[dqt + 2] = 0;
    jpeg[dqt + 3] = 1;
    return jpeg;
}

QByteArray video_start() { return QByteArray::fromHex("00000018667479706d703432"); }

QByteArray read_all(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestPhotoWork : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArray m_card;
    std::vector<std::uint64_t> m_photo_starts;

private slots:
    void initTestCase()
    {
        QString why;
        if (!ffmpeg_available(&why))
            QSKIP(qPrintable("ffmpeg cannot make the test photos: " + why));
        const QString cache = m_dir.filePath("media");
        const QByteArray small = photo(640, 480, 1, cache), large = photo(2000, 1500, 2, cache);
        QVERIFY(!small.isEmpty() && large.size() > int(3 * UNIT));

        // A photo with a start right after it; one with a long run of noise
        // after it; one across the first chunk boundary with a start right
        // after it in the next chunk; one on a chunk boundary; the last one,
        // broken, with the card's end within its 4 MiB.
        Layout layout;
        layout.noise = Noise::StrayEndMarkers;
        layout.contiguous(Content::bytes("A.JPG", with_photo_header(small, PhotoHeader::Exif2044)), MIB)
                .contiguous(Content::bytes("V1.MP4", video_start()))
                .contiguous(Content::bytes("B.JPG", large), NEXT_FREE, 64 * KIB)
                .contiguous(Content::bytes("C.JPG", with_photo_header(large, PhotoHeader::Jfif)), CHUNK_SIZE - 2 * UNIT)
                .contiguous(Content::bytes("V2.MP4", video_start()))
                .contiguous(Content::bytes("D.JPG", small), 2 * CHUNK_SIZE)
                .contiguous(Content::bytes("E.JPG", broken(large)), NEXT_FREE, 3 * MIB);
        const QString path = m_dir.filePath("card.img");
        const CardResult built = build_card(layout, path);
        QVERIFY2(built.ok, qPrintable(built.error));
        m_card = read_all(path);
        for (const PlacedFile &f : built.manifest.files)
            if (f.name.endsWith(".JPG"))
                m_photo_starts.push_back(f.start());
        QVERIFY(m_photo_starts[2] + std::uint64_t(large.size()) > CHUNK_SIZE);
    }

    void photos_from_the_reading_pass_data()
    {
        QTest::addColumn<qulonglong>("keep_most");
        QTest::addColumn<qulonglong>("ceiling");
        QTest::addColumn<int>("parallel");
        QTest::addColumn<bool>("cancel");  // while the second chunk is read

        QTest::newRow("as the scan keeps them") << qulonglong(PHOTO_KEEP_MOST) << qulonglong(PHOTO_KEPT_CEILING) << 0
                                                << false;
        QTest::newRow("photos longer than kept") << qulonglong(2 * UNIT) << qulonglong(PHOTO_KEPT_CEILING) << 2
                                                 << false;
        // One byte: the reading pass waits for the worker before each photo.
        QTest::newRow("ceiling reached at every photo") << qulonglong(PHOTO_KEEP_MOST) << qulonglong(1) << 1 << false;
        QTest::newRow("cancelled") << qulonglong(PHOTO_KEEP_MOST) << qulonglong(PHOTO_KEPT_CEILING) << 0 << true;
    }

    // Each photo's length, structure flag and thumbnail are those that
    // reading it from the card gives; its kept bytes are never read again.
    void photos_from_the_reading_pass()
    {
        QFETCH(qulonglong, keep_most);
        QFETCH(qulonglong, ceiling);
        QFETCH(int, parallel);
        QFETCH(bool, cancel);
        const std::uint64_t end = std::uint64_t(m_card.size());
        QTemporaryDir work;
        QVERIFY(use_work_folder_in(work).isEmpty());

        scan_reset();
        WatchedSource source(m_card, cancel ? CHUNK_SIZE : ~std::uint64_t(0));
        RecordingProgress progress;
        const std::uint64_t before = source_bytes_read();
        std::uint64_t peak = 0;
        {
            PhotoWork photos(source, end, parallel, PhotoKeepLimits{keep_most, ceiling});
            reading_phase(source, end, progress, &photos);
            progress.codes.clear();
            photos.finish(progress);
            peak = photos.kept_peak();
        }
        const std::uint64_t read = source_bytes_read() - before;

        const std::uint32_t n = photo_num;
        QCOMPARE(n, cancel ? 3u : std::uint32_t(m_photo_starts.size()));
        std::vector<int> codes;
        for (std::uint32_t i = 0; i < n; ++i)
            codes.push_back(CODE_PHOTO_THUMB + int(i));
        QCOMPARE(progress.codes, codes);
        QVERIFY2(peak <= std::max<std::uint64_t>(ceiling, keep_most), qPrintable(QString::number(peak)));

        // The bytes the reading pass read (the card whole: its size is on
        // the grid), and those the workers read past what was kept.
        const std::uint64_t reading = cancel ? 2 * CHUNK_SIZE : end;
        std::uint64_t by_workers = 0;
        for (const Range &r : source.others)
            by_workers += r.to - r.from;
        QCOMPARE(read, reading + by_workers);
        if (keep_most == PHOTO_KEEP_MOST)
            QCOMPARE(by_workers, std::uint64_t(0));
        else
            QVERIFY(by_workers > 0);

        std::vector<PhotoInfo> found;
        for (std::uint32_t i = 0; i < n; ++i)
            found.push_back(photo_list[i]);
        QTemporaryDir card_read;
        MemorySource plain(reinterpret_cast<const unsigned char *>(m_card.constData()), end);
        for (std::uint32_t i = 0; i < n; ++i) {
            QCOMPARE(found[i].position, m_photo_starts[i]);
            const QString png = card_read.filePath(QStringLiteral("ab%1.png").arg(i));
            const bool thumbnail = make_photo_thumbnail(plain, end, i, png);
            QCOMPARE(found[i].length, photo_list[i].length);
            QCOMPARE(found[i].walked, photo_list[i].walked);
            QCOMPARE(found[i].walked, i != 4);
            QCOMPARE(QFile::exists(photo_thumbnail_path(i)), thumbnail);
            QVERIFY(read_all(photo_thumbnail_path(i)) == read_all(png));
            const std::uint64_t kept_end = found[i].position + std::min<std::uint64_t>(keep_most, found[i].length);
            for (const Range &r : source.others)
                QVERIFY2(r.to <= found[i].position || r.from >= kept_end,
                         qPrintable(QString("photo %1 read again at %2").arg(i).arg(r.from)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPhotoWork)
#include "test_photo_work.moc"
