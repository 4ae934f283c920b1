#include "scan/photo_thumbnails.h"

#include "drives/drive_table.h"
#include "scan/photo_length.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"

#include <QImage>
#include <cstring>
#include <vector>

std::uint64_t measure_photo(ByteSource &source, std::uint64_t source_end, std::uint32_t i)
{
    PhotoInfo &photo = photo_list[i];
    std::uint64_t unreadable =
            read_source(source, photo.position, photo_buf, PHOTO_BUF_SIZE, source_end).unreadable;
    photo.length =
            photo_length_on_card(source, source_end, photo.position, photo_buf, PHOTO_BUF_SIZE, &unreadable);
    return unreadable;
}

bool save_photo_thumbnail(const unsigned char *data, std::uint64_t length, const QString &png_path)
{
    if (length == 0 || length > PHOTO_MAX_LENGTH)
        return false;
    const QImage image = QImage::fromData(data, static_cast<int>(length));
    if (image.isNull())
        return false;
    return image.scaled(120, 90, Qt::KeepAspectRatio, Qt::FastTransformation).save(png_path);
}

bool make_photo_thumbnail(ByteSource &source, std::uint64_t source_end, std::uint32_t i, const QString &png_path)
{
    measure_photo(source, source_end, i);
    const PhotoInfo &photo = photo_list[i];
    if (photo.length <= PHOTO_BUF_SIZE)
        return save_photo_thumbnail(photo_buf, photo.length, png_path);
    // A longer photo is decoded whole: its head from photo_buf, the rest read
    // again (the walk has counted what could not be read).
    std::vector<unsigned char> whole(photo.length);
    std::memcpy(whole.data(), photo_buf, PHOTO_BUF_SIZE);
    read_source(source, photo.position + PHOTO_BUF_SIZE, whole.data() + PHOTO_BUF_SIZE,
                photo.length - PHOTO_BUF_SIZE, source_end);
    return save_photo_thumbnail(whole.data(), photo.length, png_path);
}

void photo_thumbnail_step(ScanProgress &progress)
{
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    const std::uint64_t end = source_size();
    const std::uint32_t photos = photo_num;
    for (std::uint32_t i = 0; i < photos; ++i) {
        if (source) {
            make_photo_thumbnail(*source, end, i,
                                 temp_dir + QStringLiteral("ab") + QString::number(i) + QStringLiteral(".png"));
        }
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
    }
}
