// The drive list: its rows, its rebuild on device events, and the choice of
// the scan source.
#include "app/main_window.h"

#include "ui_main_window.h"

#include <QDebug>

namespace {

const char *const DRIVE_LIST_PROMPT = QT_TRANSLATE_NOOP("MainWindow", "Please connect your Korvo SD card to computer .");

}  // namespace

void MainWindow::configureDriveList()
{
    QTableWidget *list = ui->tableWidget;
    list->setColumnCount(1);
    list->setRowCount(disk_num);
    list->setHorizontalHeaderLabels({tr(DRIVE_LIST_PROMPT)});
    list->horizontalHeader()->setStretchLastSection(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->setVisible(false);
    list->setShowGrid(false);
    list->setColumnWidth(0, 700);
    list->setFrameShape(QFrame::NoFrame);
}

void MainWindow::fillDriveList()
{
    const QIcon icon(QStringLiteral(":/disk.png"));
    for (int i = 0; i < disk_num; ++i)
        ui->tableWidget->setItem(i, 0, new QTableWidgetItem(icon, disk_display_text(disk_list[i])));
}

void MainWindow::rebuildDriveList()
{
    // Emptying the list must not reach the selection handler: select_disk
    // keeps the row chosen before.
    disconnect(ui->tableWidget, &QTableWidget::itemSelectionChanged, this,
               &MainWindow::on_tableWidget_itemSelectionChanged);
    ui->tableWidget->clear();
    configureDriveList();
    fillDriveList();
    connect(ui->tableWidget, &QTableWidget::itemSelectionChanged, this,
            &MainWindow::on_tableWidget_itemSelectionChanged);
}

void MainWindow::deviceEvent(const QString &action, const QString &devtype)
{
    if (ui->stackedWidget->currentIndex() != 0)
        return;
    const bool arrival = action == QLatin1String("add");
    if (!arrival && action != QLatin1String("remove"))
        return;
    if (devtype != QLatin1String("disk") && devtype != QLatin1String("partition"))
        return;
    qDebug(arrival ? "USB_Arrived and The USBDisk is: " : "USB_Removed");
    disk_num = m_seams.enumerateDrives(disk_list);
    rebuildDriveList();
}

void MainWindow::on_tableWidget_itemSelectionChanged()
{
    const QList<QTableWidgetItem *> selected = ui->tableWidget->selectedItems();
    if (selected.isEmpty() || selected.first()->text().isNull())
        return;
    // The selected row, not the current index: keyboard moves select the
    // new row before the current index follows.
    select_disk = selected.first()->row();
}
