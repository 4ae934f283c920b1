#include "recover/photo_extraction.h"

#include "drives/drive_table.h"
#include "recover/output_file.h"
#include "scan/photo_length.h"
#include "scan/scan_tables.h"

#include <algorithm>
#include <memory>

Verdict PhotoResult::verdict() const
{
    if (length == 0)
        return Verdict::Empty;
    return walked && unreadable == 0 ? Verdict::Intact : Verdict::Partial;
}

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
    PhotoInfo &photo = photo_list[j];
    OutputFile out;

    // A length of 0 may be the scan's answer as well as no answer: such a
    // photo is measured again, which finds 0 again at the cost of a read.
    if (photo.length != 0 && photo.length <= PHOTO_MAX_LENGTH) {
        result.length = photo.length;
        if (out.open(result.file_name)) {
            const std::uint64_t piece = std::min(result.length, PHOTO_READ_STEP);
            std::unique_ptr<unsigned char[]> buf(new unsigned char[piece]);
            for (std::uint64_t at = 0; at < result.length && !out.failed();) {
                const std::uint64_t n = std::min(result.length - at, piece);
                result.unreadable += read_source(source, photo.position + at, buf.get(), n, end).unreadable;
                out.write(buf.get(), n);
                at += n;
            }
        }
    } else {
        PhotoRead read(source, end, photo.position);
        photo.length = photo_length_on_card(read, &photo.walked);
        read.read_to(photo.length);
        result.length = std::min(photo.length, read.held());
        result.unreadable = read.unreadable();
        if (out.open(result.file_name))
            out.write(read.data(), result.length);
    }
    result.walked = photo.walked && result.length == photo.length;
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

QByteArray photo_bytes(int j, QString *error)
{
    if (j < 0 || static_cast<std::uint32_t>(j) >= photo_num) {
        *error = QStringLiteral("no such photo");
        return QByteArray();
    }
    const PhotoInfo photo = photo_list[j];
    const std::uint64_t length = std::min(photo.length, PHOTO_MAX_LENGTH);
    if (length == 0) {
        *error = QStringLiteral("no end of it was found on the card");
        return QByteArray();
    }
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), error);
    if (!source)
        return QByteArray();
    QByteArray bytes(int(length), Qt::Uninitialized);
    read_source(*source, photo.position, reinterpret_cast<unsigned char *>(bytes.data()), length, source_size());
    return bytes;
}
