#include "app/window_seams.h"

#include "drives/volume_probe.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

WindowSeams WindowSeams::standard()
{
    WindowSeams s;
    s.openFileName = [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    };
    s.saveFileName = [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    };
    s.existingDirectory = [](QWidget *parent, const QString &caption, const QString &dir) {
        return QFileDialog::getExistingDirectory(parent, caption, dir, QFileDialog::ShowDirsOnly);
    };
    s.openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    s.information = [](QWidget *parent, const QString &title, const QString &text) {
        QMessageBox::information(parent, title, text, QMessageBox::Ok);
    };
    s.choose = [](QWidget *parent, const QString &title, const QString &text, const QStringList &answers) {
        QMessageBox box(QMessageBox::Information, title, text, QMessageBox::NoButton, parent);
        QList<QAbstractButton *> buttons;
        for (const QString &answer : answers)
            buttons << box.addButton(answer, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
        box.exec();
        return int(buttons.indexOf(box.clickedButton()));
    };
    s.clock = [] {
        static QElapsedTimer timer;
        if (!timer.isValid())
            timer.start();
        return timer.elapsed();
    };
    s.enumerateDrives = [](DiskInfo *table) {
        const int count = get_disk_list(table);
        print_disk_serials(table, count);
        return count;
    };
    return s;
}
