#include "app/clear_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void clear_folder(const QString &path)
{
    const QDir dir(path);
    const QFileInfoList entries = dir.entryInfoList(
            QDir::Files | QDir::AllDirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir())
            clear_folder(entry.absoluteFilePath());
        else if (entry.isFile())
            QFile::remove(entry.absoluteFilePath());
    }
}
