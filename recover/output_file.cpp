#include "recover/output_file.h"

#include <algorithm>

bool OutputFile::open(const QString &name)
{
    m_file.setFileName(name);
    m_offset = 0;
    m_error.clear();
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot create"));
    return true;
}

bool OutputFile::fail(const QString &what)
{
    if (m_error.isEmpty())
        m_error = what + QStringLiteral(" ") + m_file.fileName() + QStringLiteral(": ") + m_file.errorString();
    return false;
}

bool OutputFile::write(const unsigned char *data, std::uint64_t len)
{
    if (failed())
        return false;
    std::uint64_t done = 0;
    while (done < len) {
        const qint64 n = m_file.write(reinterpret_cast<const char *>(data) + done,
                                      static_cast<qint64>(len - done));
        if (n <= 0)
            return fail(QStringLiteral("cannot write"));
        done += static_cast<std::uint64_t>(n);
    }
    m_offset += len;
    return true;
}

bool OutputFile::skip_to(std::uint64_t offset)
{
    if (failed())
        return false;
    if (offset <= m_offset)
        return true;
    if (!m_file.seek(static_cast<qint64>(offset)))
        return fail(QStringLiteral("cannot seek in"));
    m_offset = offset;
    return true;
}

bool OutputFile::patch(std::uint64_t at, const unsigned char *data, std::uint64_t len)
{
    if (failed())
        return false;
    const std::uint64_t back = m_offset;
    if (!m_file.seek(static_cast<qint64>(at)))
        return fail(QStringLiteral("cannot seek in"));
    m_offset = at;
    if (!write(data, len))
        return false;
    m_offset = std::max(back, m_offset);
    if (!m_file.seek(static_cast<qint64>(m_offset)))
        return fail(QStringLiteral("cannot seek in"));
    return true;
}

bool OutputFile::close()
{
    if (!failed() && static_cast<std::uint64_t>(m_file.size()) < m_offset
        && !m_file.resize(static_cast<qint64>(m_offset)))
        fail(QStringLiteral("cannot extend"));
    m_file.close();
    if (!failed() && m_file.error() != QFileDevice::NoError)
        fail(QStringLiteral("cannot close"));
    return !failed();
}
