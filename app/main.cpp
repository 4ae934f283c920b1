// tessaro: the window.
#include "app/main_window.h"

#include <QApplication>
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
    return status;
}
