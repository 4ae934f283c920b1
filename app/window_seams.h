// What the window asks of the desktop and the platform, in one place, so
// that tests can answer in place of a real dialog, browser or drive.
#pragma once

#include "drives/drive_table.h"

#include <QString>
#include <QStringList>
#include <functional>

class QUrl;
class QWidget;

struct WindowSeams {
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>
            openFileName;
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>
            saveFileName;
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir)> existingDirectory;
    std::function<bool(const QUrl &url)> openUrl;
    // A modal message with one OK button; returns when it is closed.
    std::function<void(QWidget *parent, const QString &title, const QString &text)> information;
    // A modal question with one button per answer; returns the index of
    // the answer chosen, -1 when the box was closed without one.
    std::function<int(QWidget *parent, const QString &title, const QString &text, const QStringList &answers)> choose;
    // Milliseconds on a steady clock: what the time remaining is measured by.
    std::function<qint64()> clock;
    // Fills the drive table, writes its "disksernum" lines and returns the
    // number of drives.
    std::function<int(DiskInfo *table)> enumerateDrives;

    // The real dialogs, the desktop's URL opener, QMessageBox::information
    // and the drives of this machine.
    static WindowSeams standard();
};
