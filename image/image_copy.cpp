#include "image/image_copy.h"

#include "drives/drive_table.h"
#include "scan/byte_source.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {
constexpr std::uint64_t COPY_CHUNK = 10u * 1024 * 1024;
}

creatimage::creatimage(QObject *parent)
    : creatimage(source_path(), source_size(), image_path, parent)
{
}

creatimage::creatimage(const QString &source, std::uint64_t size, const QString &destination, QObject *parent)
    : QThread(parent), m_source(source), m_size(size), m_destination(destination)
{
}

void creatimage::run()
{
    QString error;
    std::unique_ptr<FileSource> source = FileSource::open(m_source, &error);
    if (!source) {
        emit copyFinished(false, 0, QStringLiteral("cannot open %1: %2").arg(m_source, error));
        return;
    }
    QFile image(m_destination);
    if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        emit copyFinished(false, 0, QStringLiteral("cannot create %1: %2").arg(m_destination, image.errorString()));
        return;
    }

    // Every chunk is written whole, its unreadable units as zeros, so the
    // image stays aligned with the volume.
    std::unique_ptr<unsigned char[]> buf(new unsigned char[COPY_CHUNK]);
    std::uint64_t unreadable = 0;
    std::uint64_t offset = 0;
    while (offset < m_size) {
        const std::uint64_t chunk = std::min(COPY_CHUNK, m_size - offset);
        unreadable += read_source(*source, offset, buf.get(), chunk, m_size).unreadable;
        if (image.write(reinterpret_cast<const char *>(buf.get()), qint64(chunk)) != qint64(chunk)) {
            emit copyFinished(false, unreadable, QStringLiteral("cannot write %1: %2").arg(m_destination, image.errorString()));
            return;
        }
        offset += chunk;
        emit UpdateSignal(offset);
    }
    // A full disk may only show when the data reaches it.
    if (!image.flush() || fsync(image.handle()) != 0) {
        const QString why = image.error() != QFileDevice::NoError ? image.errorString()
                                                                   : QString::fromLocal8Bit(std::strerror(errno));
        emit copyFinished(false, unreadable, QStringLiteral("cannot write %1: %2").arg(m_destination, why));
        return;
    }
    image.close();
    emit copyFinished(true, unreadable, QString());
}
