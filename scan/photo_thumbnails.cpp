#include "scan/photo_thumbnails.h"

#include "drives/drive_table.h"
#include "scan/photo_length.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"

#include <QImage>

std::uint64_t measure_photo(ByteSource &source, std::uint64_t source_end, std::uint32_t i)
{
    PhotoInfo &photo = photo_list[i];
    const ReadOutcome got = read_source(source, photo.position, photo_buf, PHOTO_BUF_SIZE, source_end);
    photo.length = photo_length(photo_buf, PHOTO_BUF_SIZE);
    return got.unreadable;
}

bool save_photo_thumbnail(const unsigned char *data, std::uint64_t length, const QString &png_path)
{
    if (length == 0 || length > PHOTO_BUF_SIZE)
        return false;
    const QImage image = QImage::fromData(data, static_cast<int>(length));
    if (image.isNull())
        return false;
    return image.scaled(120, 90, Qt::KeepAspectRatio, Qt::FastTransformation).save(png_path);
}

void photo_thumbnail_step(ScanProgress &progress)
{
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    const std::uint64_t end = source_size();
    const std::uint32_t photos = photo_num < PHOTO_CAPACITY ? photo_num : PHOTO_CAPACITY;
    for (std::uint32_t i = 0; i < photos; ++i) {
        if (source) {
            measure_photo(*source, end, i);
            save_photo_thumbnail(photo_buf, photo_list[i].length,
                                 temp_dir + QStringLiteral("ab") + QString::number(i) + QStringLiteral(".png"));
        }
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
    }
}
