#include "cli/run_worker.h"

#include <QCoreApplication>

void run_worker(QThread &thread)
{
    QObject::connect(&thread, &QThread::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    thread.start();
    QCoreApplication::exec();
    thread.wait();
}
