#include "app/window_seams.h"

#include "drives/volume_probe.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
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
    s.enumerateDrives = [](DiskInfo *table) {
        const int count = get_disk_list(table);
        print_disk_serials(table, count);
        return count;
    };
    return s;
}
