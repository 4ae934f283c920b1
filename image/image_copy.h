// Copies a drive into a raw image file: every byte from 0 to the drive's size,
// in 10 MiB chunks, through a read-only descriptor.
#pragma once

#include "scan/byte_source.h"

#include <QString>
#include <QThread>
#include <cstdint>
#include <functional>

constexpr std::uint64_t IMAGE_COPY_CHUNK = 10u * 1024 * 1024;

struct CopyOutcome {
    bool ok = false;              // every byte reached the image and was flushed
    std::uint64_t unreadable = 0; // bytes written as zeros because they could not be read
    QString error;
};

// Writes `size` bytes of `source` into a new (truncated) file at
// `destination`, calling `progress` with the offset after each chunk. Stops
// at the first write error.
CopyOutcome copy_to_image(ByteSource &source, std::uint64_t size, const QString &destination,
                          const std::function<void(std::uint64_t)> &progress);

class creatimage : public QThread
{
    Q_OBJECT
public:
    // Takes the selected drive and image_path from the drive table now, on
    // the creating thread, so later changes in the window do not reach a
    // running copy.
    explicit creatimage(QObject *parent = nullptr);
    // An explicit source and destination (the command-line tool, tests).
    creatimage(const QString &source, std::uint64_t size, const QString &destination, QObject *parent = nullptr);

    std::uint64_t total() const { return m_size; }

signals:
    // Offset up to which the copy has gone, after each chunk is written.
    void UpdateSignal(qulonglong offset);
    // The end of every copy that ran, good or bad. `ok` is false when the
    // source could not be opened or the image could not be written (with
    // the reason); `unreadable_bytes` were written as zeros.
    void copyFinished(bool ok, qulonglong unreadable_bytes, const QString &error);

protected:
    void run() override;

private:
    QString m_source;
    std::uint64_t m_size;
    QString m_destination;
};
