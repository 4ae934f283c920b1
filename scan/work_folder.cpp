#include "scan/work_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

QString temp_dir = work_folder_default();

QString user_work_folder()
{
    return QDir::tempPath() + QStringLiteral("/Korvo-") + QString::number(getuid()) + QLatin1Char('/');
}

QString work_folder_default()
{
    return user_work_folder() + QString::number(getpid()) + QLatin1Char('/');
}

void clear_stale_work_folders(const QString &parent)
{
    const QFileInfoList entries = QDir(parent).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        bool number = false;
        const qlonglong pid = entry.fileName().toLongLong(&number);
        if (!number || pid <= 0 || pid > 0x7FFFFFFF || pid == getpid())
            continue;
        // EPERM: the process runs, under another user.
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        QDir(entry.absoluteFilePath()).removeRecursively();
    }
}

bool prepare_work_folder(const QString &path, QString *problem)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QByteArray native = QFile::encodeName(trimmed);

    if (mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *problem = QStringLiteral("cannot create the work folder %1: %2").arg(trimmed, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Inspect through a descriptor opened without following links, so the
    // checks and the chmod concern the same directory.
    const int fd = open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *problem = errno == ELOOP || errno == ENOTDIR
                ? QStringLiteral("the work folder %1 is not a directory").arg(trimmed)
                : QStringLiteral("cannot open the work folder %1: %2").arg(trimmed, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        *problem = QStringLiteral("cannot inspect the work folder %1: %2").arg(trimmed, QString::fromLocal8Bit(std::strerror(errno)));
    } else if (st.st_uid != getuid()) {
        *problem = QStringLiteral("the work folder %1 belongs to another user").arg(trimmed);
        ok = false;
    } else if ((st.st_mode & 0077) != 0 && fchmod(fd, 0700) != 0) {
        *problem = QStringLiteral("cannot make the work folder %1 private: %2").arg(trimmed, QString::fromLocal8Bit(std::strerror(errno)));
        ok = false;
    }
    close(fd);
    return ok;
}
