// A rebuilt file being written: truncated when opened, every write checked,
// the first failure kept with its reason and every later write refused.
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>

class OutputFile
{
public:
    bool open(const QString &name);
    // Writes at the current offset.
    bool write(const unsigned char *data, std::uint64_t len);
    // Moves forward to `offset`, the bytes between reading as zeros.
    bool skip_to(std::uint64_t offset);
    // Overwrites bytes already laid out, without moving the end.
    bool patch(std::uint64_t at, const unsigned char *data, std::uint64_t len);
    // Extends the file to the offset reached (a skip at the end leaves no
    // bytes behind by itself) and closes it. False if anything failed.
    bool close();

    std::uint64_t offset() const { return m_offset; }
    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }

private:
    bool fail(const QString &what);

    QFile m_file;
    std::uint64_t m_offset = 0;
    QString m_error;
};
