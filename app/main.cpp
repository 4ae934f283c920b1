// tessaro: the window.
#include "app/main_window.h"
#include "scan/work_folder.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaro"));
    MainWindow window;
    window.show();
    const int status = app.exec();
    if (window.workersRunning()) {
        // Closed while a scan, recovery or copy runs: the worker is not
        // waited for, and must not see the process-wide tables torn down
        // under it either, so end the process here.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    // This instance's own work folder; a private stand-in goes with the window.
    if (temp_dir == work_folder_default())
        QDir(temp_dir).removeRecursively();
    return status;
}
