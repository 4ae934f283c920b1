// The scan thread: one run reads the source, groups and rebuilds what it
// found into the work folder, makes the thumbnails and signals the end.
#pragma once

#include <QString>
#include <QThread>

class creatimage_aa : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;

signals:
    void UpdateSignal(qulonglong bytes_read);
    void UpdateSignal_num(int code);
    // The source could not be opened; the scan ends without any other signal.
    void sourceFailed(const QString &reason);

protected:
    void run() override;
};
