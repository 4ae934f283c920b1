// The work folder of one command-line run: private and temporary, or the
// folder given with --work, which is kept.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

class RunWorkDir
{
public:
    // Points temp_dir at the folder. False with the reason on failure.
    bool set_up(const QString &keep_dir, QString *error);
    QString path() const { return m_path; }
    bool kept() const { return !m_temporary; }

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_path;
};
