#include "image/image_copy.h"

#include "drives/drive_table.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

CopyOutcome copy_to_image(ByteSource &source, std::uint64_t size, const QString &destination,
                          const std::function<void(std::uint64_t)> &progress)
{
    CopyOutcome outcome;
    QFile image(destination);
    if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        outcome.error = QStringLiteral("cannot create %1: %2").arg(destination, image.errorString());
        return outcome;
    }

    // Every chunk is written whole, its unreadable units as zeros, so the
    // image stays aligned with the volume.
    std::unique_ptr<unsigned char[]> buf(new unsigned char[IMAGE_COPY_CHUNK]);
    std::uint64_t offset = 0;
    while (offset < size) {
        const std::uint64_t chunk = std::min(IMAGE_COPY_CHUNK, size - offset);
        outcome.unreadable += read_source(source, offset, buf.get(), chunk, size).unreadable;
        if (image.write(reinterpret_cast<const char *>(buf.get()), qint64(chunk)) != qint64(chunk)) {
            outcome.error = QStringLiteral("cannot write %1: %2").arg(destination, image.errorString());
            return outcome;
        }
        offset += chunk;
        if (progress)
            progress(offset);
    }
    // A full disk may only show when the data reaches it.
    if (!image.flush() || fsync(image.handle()) != 0) {
        const QString why = image.error() != QFileDevice::NoError ? image.errorString()
                                                                   : QString::fromLocal8Bit(std::strerror(errno));
        outcome.error = QStringLiteral("cannot write %1: %2").arg(destination, why);
        return outcome;
    }
    image.close();
    outcome.ok = true;
    return outcome;
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
    const CopyOutcome outcome = copy_to_image(*source, m_size, m_destination,
                                              [this](std::uint64_t offset) { emit UpdateSignal(offset); });
    emit copyFinished(outcome.ok, outcome.unreadable, outcome.error);
}
