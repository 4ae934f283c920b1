#include "cli/work_dir.h"

#include "scan/work_folder.h"

#include <QDir>

bool RunWorkDir::set_up(const QString &keep_dir, QString *error)
{
    if (keep_dir.isEmpty()) {
        m_temporary.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/tessaro-cli-XXXXXX")));
        if (!m_temporary->isValid()) {
            *error = m_temporary->errorString();
            return false;
        }
        m_path = m_temporary->path();
    } else {
        m_path = QDir(keep_dir).absolutePath();
        if (!prepare_work_folder(m_path, error))
            return false;
    }
    temp_dir = m_path + QLatin1Char('/');
    return true;
}
