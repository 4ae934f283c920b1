#include "recover/photo_extraction.h"

#include "drives/drive_table.h"
#include "recover/output_file.h"
#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"

#include <algorithm>

QString photo_file_name(int j)
{
    QString dir = save_dir;
    while (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir + QLatin1Char('/') + QString::number(j) + QStringLiteral(".jpg");
}

PhotoResult extract_photo(ByteSource &source, std::uint64_t end, int j)
{
    PhotoResult result;
    result.file_name = photo_file_name(j);
    if (j < 0 || static_cast<std::uint32_t>(j) >= photo_num) {
        result.error = QStringLiteral("no such photo");
        return result;
    }
    result.unreadable = measure_photo(source, end, static_cast<std::uint32_t>(j));
    result.length = photo_list[j].length;

    OutputFile out;
    if (out.open(result.file_name)) {
        const std::uint64_t head = std::min<std::uint64_t>(result.length, PHOTO_BUF_SIZE);
        out.write(photo_buf, head);
        // A longer photo: the rest comes from the source in pieces through
        // photo_buf, which the head no longer needs. The walk that measured
        // the photo has counted what could not be read.
        const std::uint64_t position = photo_list[j].position;
        for (std::uint64_t at = head; at < result.length && !out.failed();) {
            const std::uint64_t n = std::min<std::uint64_t>(result.length - at, PHOTO_BUF_SIZE);
            read_source(source, position + at, photo_buf, n, end);
            out.write(photo_buf, n);
            at += n;
        }
    }
    result.written = out.close();
    result.error = out.error();
    return result;
}

PhotoResult extract_photo(int j)
{
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &error);
    if (!source) {
        PhotoResult result;
        result.file_name = photo_file_name(j);
        result.error = error;
        return result;
    }
    return extract_photo(*source, source_size(), j);
}
