// Small helpers for tests that scan a card image.
#pragma once

#include "scan/byte_source.h"
#include "scan/scan_progress.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <utility>
#include <vector>

// Points temp_dir at a private work folder inside `dir`. Returns why it
// could not, or an empty text.
QString use_work_folder_in(const QTemporaryDir &dir);

// Writes `data` to `dir`/`name` and returns the path.
QString write_image(const QTemporaryDir &dir, const QString &name, const QByteArray &data);

// Makes the image at `path` the scan source, as loading it in the window does.
void select_image_source(const QString &path);

// Selects the image and runs a whole scan of it on the scan thread.
void scan_image(const QString &path);

// Recovers what the last scan found into `folder` (made when missing) on the
// recovery thread, and waits for it.
void recover_into(const QString &folder);

// The whole file; empty when it cannot be read.
QByteArray read_file(const QString &path);

// Records what a scan step reports.
class RecordingProgress : public ScanProgress
{
public:
    void bytes_read(std::uint64_t offset) override { bytes.push_back(offset); }
    void code(int value) override { codes.push_back(value); }
    std::vector<std::uint64_t> bytes;
    std::vector<int> codes;
};

// A memory source whose reads fail over chosen byte ranges [first, second).
class FailingSource : public ByteSource
{
public:
    FailingSource(const QByteArray &data, std::vector<std::pair<std::uint64_t, std::uint64_t>> bad)
        : m_data(data), m_bad(std::move(bad)) {}
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override;
    int reads = 0;

private:
    QByteArray m_data;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_bad;
};
