// Image files from the window: copying the selected drive into one, and
// adding one to the drive list as a scan source.
#include "app/main_window.h"

#include "drives/device_open.h"
#include "image/image_checks.h"
#include "image/image_copy.h"
#include "ui_main_window.h"

#include <QDir>

void MainWindow::on_pushButton_create_clicked()
{
    // An image row names no drive to copy.
    if (select_disk < 0 || select_disk >= disk_num) {
        inform(tr("please select disk"));
        return;
    }
    if (m_imageThread && m_imageThread->isRunning()) {
        inform(tr("An image file is being created; please wait until it is finished."));
        return;
    }
    image_path = m_seams.saveFileName(this, tr("Save Image"), QDir::homePath() + QStringLiteral("/korvo.img"),
                                      tr("Image files (*.img)"));
    if (image_path.isEmpty())
        return;

    switch (check_image_destination(disk_list[select_disk].total_size, image_path)) {
    case ImageRefusal::NoSpace:
        inform(tr("no have available space."));
        return;
    case ImageRefusal::WrongFormat:
        inform(tr("disk format is wrong"));
        return;
    case ImageRefusal::None:
        break;
    }

    ui->progressBar_cc->show();
    ui->label_create->show();
    auto *copy = new creatimage;
    m_copyTotal = copy->total();
    m_copyDestination = image_path;
    m_imageThread = copy;
    connect(copy, &creatimage::UpdateSignal, this, &MainWindow::UpdateSlot_creatimage);
    connect(copy, &creatimage::copyFinished, this, &MainWindow::imageCopyFinished);
    connect(copy, &QThread::finished, copy, &QObject::deleteLater);
    copy->start(QThread::InheritPriority);
}

void MainWindow::UpdateSlot_creatimage(qulonglong done)
{
    ui->label_create->setText(QString::number(done) + QStringLiteral("  /  ") + QString::number(m_copyTotal)
                              + tr("  Creating Image ,please wait ..."));
    if (m_copyTotal > 0)
        ui->progressBar_cc->setValue(static_cast<int>(done * 100 / m_copyTotal));
}

void MainWindow::imageCopyFinished(bool ok, qulonglong unreadable, const QString &error)
{
    ui->progressBar_cc->hide();
    ui->label_create->hide();
    if (!ok && error.startsWith(QStringLiteral("cannot open %1:").arg(source_path())) && needs_udisks(source_path()))
        inform(tr("The image file %1 could not be created: %2").arg(m_copyDestination, error) + QStringLiteral("\n\n")
               + read_permission_advice());
    else if (!ok)
        inform(tr("The image file %1 could not be created: %2").arg(m_copyDestination, error));
    else if (unreadable > 0)
        inform(tr("Finished") + QStringLiteral("\n\n")
               + tr("%1 bytes of the drive could not be read; the image holds zeros there.").arg(unreadable));
    else
        inform(tr("Finished"));
}

void MainWindow::on_pushButton_load_clicked()
{
    image_path = m_seams.openFileName(this, QStringLiteral("Open Image file"), QDir::currentPath(),
                                      QStringLiteral("Image files (*.img )"));
    if (image_path.isEmpty())
        return;
    std::uint64_t size = 0;
    QString error;
    if (!measure_image(image_path, &size, &error)) {
        inform(tr("The image file %1 cannot be opened: %2").arg(image_path, error));
        return;
    }
    image_size = size;
    const int row = ui->tableWidget->rowCount();
    ui->tableWidget->setRowCount(row + 1);
    ui->tableWidget->setItem(row, 0, new QTableWidgetItem(QIcon(QStringLiteral(":/disk.png")),
                                                          image_row_text(image_path, image_size)));
    // The file just chosen is what the user means to scan: its row is
    // selected, and with it the scan source.
    ui->tableWidget->selectRow(row);
    ui->tableWidget->scrollToItem(ui->tableWidget->item(row, 0));
}
