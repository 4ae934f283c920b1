#include "app/recovery_folder.h"

#include <QDir>
#include <QFileInfo>

bool holds_files(const QString &dir)
{
    return !QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty();
}

QString next_free_folder(const QString &dir)
{
    for (int n = 2;; ++n) {
        const QString candidate = dir + QStringLiteral("-%1").arg(n);
        // A dangling link counts as taken: it is not ours to write through.
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}
