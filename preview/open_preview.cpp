#include "preview/open_preview.h"

#include "preview/recovery.h"
#include "scan/work_folder.h"

#include <QCoreApplication>
#include <QMessageBox>

QString preview_file(int file_number)
{
    return temp_dir + QString::number(file_number) + QStringLiteral(".mp4");
}

Recovery *open_preview(int file_number, QWidget *message_parent, const PreviewMessage &information)
{
    auto *preview = new Recovery(preview_file(file_number));
    if (preview->engineStarted()) {
        // Released before the program ends, so that no libvlc thread still
        // decodes while the process exits.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, preview,
                         [preview] { delete preview; });
        preview->show();
        return preview;
    }
    const QString title = QCoreApplication::translate("MainWindow", "Information");
    const QString text = QCoreApplication::translate("MainWindow", "The preview is not available: %1.")
                                 .arg(preview->engineProblem());
    delete preview;
    if (information)
        information(message_parent, title, text);
    else
        QMessageBox::information(message_parent, title, text, QMessageBox::Ok);
    return nullptr;
}
