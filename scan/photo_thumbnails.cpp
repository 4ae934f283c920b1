#include "scan/photo_thumbnails.h"

#include "scan/scan_tables.h"
#include "scan/work_folder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <algorithm>

namespace {

const QSize THUMBNAIL(120, 90);

// Decoder quality below Qt's threshold for smooth scaling: a fast DCT and a
// fast last scale, which a 120 x 90 preview does not tell apart.
constexpr int DECODE_QUALITY = 25;

}  // namespace

QString photo_thumbnail_path(std::uint32_t i)
{
    return temp_dir + QStringLiteral("ab") + QString::number(i) + QStringLiteral(".png");
}

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

PhotoMeasure measure_and_thumbnail(PhotoRead &read, const QString &png_path)
{
    PhotoMeasure measure;
    measure.length = photo_length_on_card(read, &measure.walked);
    read.read_to(measure.length);  // held already; the decoder must not run past it
    measure.thumbnail = save_photo_thumbnail(read.data(), std::min(measure.length, read.held()), png_path);
    return measure;
}

bool make_photo_thumbnail(ByteSource &source, std::uint64_t source_end, std::uint32_t i, const QString &png_path)
{
    PhotoInfo &photo = photo_list[i];
    PhotoRead read(source, source_end, photo.position);
    const PhotoMeasure measure = measure_and_thumbnail(read, png_path);
    photo.length = measure.length;
    photo.walked = measure.walked;
    return measure.thumbnail;
}

void photo_thumbnail_step(ByteSource &source, std::uint64_t source_end, ScanProgress &progress, int parallel)
{
    PhotoWork work(source, source_end, parallel);
    work.finish(progress);
}

void photo_thumbnail_step(PhotoWork &photos, ScanProgress &progress)
{
    photos.finish(progress);
}
