#include "scan/byte_source.h"

#include "drives/device_open.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<std::uint64_t> bytes_read{0};

// Reads until `len` bytes came, the source ends or an attempt fails.
std::uint64_t read_fully(ByteSource &source, std::uint64_t pos, unsigned char *buf, std::uint64_t len,
                         bool *failed)
{
    std::uint64_t got = 0;
    *failed = false;
    while (got < len) {
        const std::int64_t n = source.read_once(pos + got, buf + got, len - got);
        bytes_read.fetch_add(n > 0 ? std::uint64_t(n) : 0, std::memory_order_relaxed);
        if (n < 0) {
            *failed = true;
            break;
        }
        if (n == 0)
            break;
        got += static_cast<std::uint64_t>(n);
    }
    return got;
}

}  // namespace

ReadOutcome read_source(ByteSource &source, std::uint64_t pos, unsigned char *buf, std::uint64_t len,
                        std::uint64_t end)
{
    ReadOutcome outcome{len, 0};
    const std::uint64_t expected = pos >= end ? 0 : std::min(len, end - pos);

    bool failed = false;
    std::uint64_t got = read_fully(source, pos, buf, len, &failed);
    if (got >= expected) {
        std::memset(buf + got, 0, len - got);
        return outcome;
    }

    // Short of what should be there: go on unit by unit from the first unit
    // boundary at or below the point where the read stopped, so one bad
    // sector costs 32 KiB, not the whole request.
    std::uint64_t at = (pos + got) / UNIT * UNIT;
    at = std::max(at, pos);
    while (at < pos + expected) {
        const std::uint64_t unit_end = std::min((at / UNIT + 1) * UNIT, pos + expected);
        const std::uint64_t want = unit_end - at;
        unsigned char *dst = buf + (at - pos);
        const std::uint64_t n = read_fully(source, at, dst, want, &failed);
        if (n < want) {
            std::memset(dst + n, 0, want - n);
            outcome.unreadable += want - n;
        }
        at = unit_end;
    }
    std::memset(buf + expected, 0, len - expected);
    return outcome;
}

std::uint64_t source_bytes_read()
{
    return bytes_read.load(std::memory_order_relaxed);
}

std::unique_ptr<FileSource> FileSource::open(const QString &path, QString *error)
{
    // The descriptor may be one udisks2 granted, for a card the user may not
    // open directly; it is read-only either way.
    QString why;
    const int fd = open_read_only(path, &why);
    if (fd < 0) {
        if (error)
            *error = why;
        return nullptr;
    }
    std::unique_ptr<FileSource> source(new FileSource);
    if (!source->m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        if (error)
            *error = source->m_file.errorString();
        close(fd);
        return nullptr;
    }
    return source;
}

std::int64_t FileSource::read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len)
{
    for (;;) {
        const ssize_t n = pread(m_file.handle(), buf, len, static_cast<off_t>(pos));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::int64_t MemorySource::read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len)
{
    if (pos >= m_size)
        return 0;
    const std::uint64_t n = std::min(len, m_size - pos);
    std::memcpy(buf, m_data + pos, n);
    return static_cast<std::int64_t>(n);
}
