// The one seam through which every reader of the scan source reads it: the
// reading phase, the photo steps, the region analysis, the rebuild, the
// extraction and the drive copy.
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>
#include <memory>

constexpr std::uint64_t UNIT = 32768;  // the card's 32 KiB grid

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // One attempt to read up to `len` bytes at absolute position `pos`.
    // Returns the number of bytes delivered (0 at the end), or -1 on an error.
    virtual std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) = 0;
};

// What a read_source call brought back.
struct ReadOutcome {
    std::uint64_t delivered;   // bytes placed in the buffer (good ones and zeroed unreadable ones)
    std::uint64_t unreadable;  // bytes that could not be read and stand as zeros
};

// Reads `len` bytes at `pos`, of which the part below `end` is expected to
// exist. A read that fails or falls short before `end` is retried in 32 KiB
// units; a unit that still fails is zero-filled and counted as unreadable.
// Bytes at or past `end` that the source does not deliver are zero-filled
// and not counted. The whole `len` bytes of `buf` are always defined.
ReadOutcome read_source(ByteSource &source, std::uint64_t pos, unsigned char *buf, std::uint64_t len,
                        std::uint64_t end);

// Bytes the sources have delivered to read_source since the program
// started, retries included: what the benchmarks and the tests of the
// reading budget compare with the card's size. Safe from any thread.
std::uint64_t source_bytes_read();

// A file or block device opened read-only through QFile; nothing can ever
// write through it. Reads go to absolute offsets (pread), because Qt treats a
// block device as sequential and would refuse to seek on it.
class FileSource : public ByteSource
{
public:
    // Null with the reason (for example "Permission denied") when the path
    // cannot be opened.
    static std::unique_ptr<FileSource> open(const QString &path, QString *error);
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override;

private:
    FileSource() = default;
    QFile m_file;
};

// A source held in memory, for tests and fuzzing.
class MemorySource : public ByteSource
{
public:
    MemorySource(const unsigned char *data, std::uint64_t size) : m_data(data), m_size(size) {}
    std::int64_t read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len) override;

private:
    const unsigned char *m_data;
    std::uint64_t m_size;
};
