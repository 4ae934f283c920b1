#include "support/temp_image.h"

#include "drives/drive_table.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>

QString use_work_folder_in(const QTemporaryDir &dir)
{
    temp_dir = dir.filePath(QStringLiteral("work/"));
    QString problem;
    return prepare_work_folder(temp_dir, &problem) ? QString() : problem;
}

QString write_image(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
    return path;
}

void select_image_source(const QString &path)
{
    image_path = path;
    image_size = static_cast<std::uint64_t>(QFile(path).size());
    select_disk = disk_num;
}

void scan_image(const QString &path)
{
    select_image_source(path);
    creatimage_aa scan;
    scan.start();
    scan.wait();
}

void recover_into(const QString &folder)
{
    save_dir = folder;
    QDir().mkpath(folder);
    savefile_new recovery;
    recovery.start();
    recovery.wait();
}

QByteArray read_file(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::int64_t FailingSource::read_once(std::uint64_t pos, unsigned char *buf, std::uint64_t len)
{
    ++reads;
    const std::uint64_t size = static_cast<std::uint64_t>(m_data.size());
    if (pos >= size)
        return 0;
    std::uint64_t n = std::min(len, size - pos);
    for (const auto &range : m_bad) {
        if (range.first <= pos && pos < range.second)
            return -1;
        if (pos < range.first && range.first < pos + n)
            n = range.first - pos;  // deliver up to the bad range, as a device does
    }
    std::memcpy(buf, m_data.constData() + pos, n);
    return static_cast<std::int64_t>(n);
}
