#include "app/help_pages.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// Installed beside the program (<prefix>/share/tessaro/docs), else the pages
// of the source tree the program was built from.
QUrl page_url(const QString &file)
{
    const QString installed =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tessaro/docs/") + file;
    if (QFileInfo(installed).isFile())
        return QUrl::fromLocalFile(QFileInfo(installed).canonicalFilePath());
    return QUrl::fromLocalFile(QStringLiteral(TESSARO_SOURCE_DOCS "/") + file);
}

}  // namespace

QUrl user_guide_url()
{
    return page_url(QStringLiteral("user-guide.html"));
}

QUrl support_page_url()
{
    return page_url(QStringLiteral("support.html"));
}
