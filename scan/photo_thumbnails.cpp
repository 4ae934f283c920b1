#include "scan/photo_thumbnails.h"

#include "drives/drive_table.h"
#include "scan/photo_length.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QSize THUMBNAIL(120, 90);

// Decoder quality below Qt's threshold for smooth scaling: a fast DCT and a
// fast last scale, which a 120 x 90 preview does not tell apart.
constexpr int DECODE_QUALITY = 25;

QString thumbnail_path(std::uint32_t i)
{
    return temp_dir + QStringLiteral("ab") + QString::number(i) + QStringLiteral(".png");
}

}  // namespace

std::uint64_t measure_photo(ByteSource &source, std::uint64_t source_end, std::uint32_t i)
{
    PhotoInfo &photo = photo_list[i];
    PhotoRead read(source, source_end, photo.position);
    photo.length = photo_length_on_card(read, &photo.walked);
    return read.unreadable();
}

bool save_photo_thumbnail(const unsigned char *data, std::uint64_t length, const QString &png_path)
{
    if (length == 0 || length > PHOTO_MAX_LENGTH)
        return false;
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(length));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setQuality(DECODE_QUALITY);
    // The JPEG decoder scales in its DCT when asked for a smaller size: a
    // 12-megapixel photo is decoded at an eighth of its width, not whole.
    const QSize full = reader.size();
    if (full.isValid()) {
        const QSize fit = full.scaled(THUMBNAIL, Qt::KeepAspectRatio);
        reader.setScaledSize(fit.expandedTo(QSize(1, 1)));
    }
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    return image.scaled(THUMBNAIL, Qt::KeepAspectRatio, Qt::FastTransformation).save(png_path);
}

bool make_photo_thumbnail(ByteSource &source, std::uint64_t source_end, std::uint32_t i, const QString &png_path)
{
    PhotoInfo &photo = photo_list[i];
    PhotoRead read(source, source_end, photo.position);
    const std::uint64_t length = photo_length_on_card(read, &photo.walked);
    photo.length = length;
    read.read_to(length);  // held already; the decoder must not run past it
    return save_photo_thumbnail(read.data(), std::min(length, read.held()), png_path);
}

void photo_thumbnail_step(ByteSource &source, std::uint64_t source_end, ScanProgress &progress, int parallel)
{
    const std::uint32_t photos = photo_num;
    if (photos == 0)
        return;
    // Sized before the workers share it: they only write lengths of
    // entries of their own.
    (void)photo_list[photos - 1];
    const int cores = parallel > 0 ? parallel : std::max(1, QThread::idealThreadCount());
    const std::uint32_t workers = std::min(photos, std::uint32_t(cores));

    std::atomic<std::uint32_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<char> done(photos, 0);
    const auto work = [&] {
        for (std::uint32_t i = next++; i < photos; i = next++) {
            make_photo_thumbnail(source, source_end, i, thumbnail_path(i));
            {
                std::lock_guard<std::mutex> lock(mutex);
                done[i] = 1;
            }
            finished.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (std::uint32_t k = 0; k < workers; ++k)
        pool.emplace_back(work);
    for (std::uint32_t i = 0; i < photos; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return done[i] != 0; });
        }
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
    }
    for (std::thread &t : pool)
        t.join();
}

void photo_thumbnail_step(ScanProgress &progress)
{
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    if (source) {
        photo_thumbnail_step(*source, source_size(), progress);
        return;
    }
    for (std::uint32_t i = 0; i < photo_num; ++i)
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
}
