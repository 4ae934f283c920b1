// The scan from the window: starting it, following its progress and phases,
// filling the result grids, the video grid's current cell, its preview and
// cancel.
#include "app/main_window.h"

#include "app/video_cell.h"
#include "preview/open_preview.h"
#include "preview/recovery.h"
#include "recover/scan_thread.h"
#include "scan/scan_progress.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "ui_main_window.h"

#include <QFileInfo>

namespace {

// Alternates the detail line while the source is read; never reset.
int reading_counter = 0;

constexpr std::uint64_t BYTES_PER_SECOND = 10485760;  // the estimate's 10 MiB/s

void fill_grid(QTableWidget *grid, std::uint32_t count, const QString &thumbnail_prefix, const QString &stand_in)
{
    grid->setRowCount(static_cast<int>(count / GRID_COLUMNS + 1));
    const QIcon fallback(stand_in);
    for (std::uint32_t n = 0; n < count; ++n) {
        const QString thumbnail = temp_dir + thumbnail_prefix + QString::number(n) + QStringLiteral(".png");
        const QIcon icon = QFileInfo(thumbnail).isFile() ? QIcon(thumbnail) : fallback;
        grid->setItem(static_cast<int>(n / GRID_COLUMNS), static_cast<int>(n % GRID_COLUMNS),
                      new QTableWidgetItem(icon, QStringLiteral("Image")));
    }
}

}  // namespace

void MainWindow::on_pushButton_scan_clicked()
{
    if (select_disk == -1) {
        inform(tr("please select disk"));
        return;
    }
    ui->button_preview->hide();
    ui->button_recover->hide();
    ui->button_cancle->show();
    ui->progressBar_creatimage->setValue(0);
    ui->progressBar_creatimage->show();
    ui->label_scan_status->setText(tr("Scanning"));
    ui->label_scan_info->setText(tr("Scanning your Korvo SD card image file, please wait..."));
    ui->label_scan_time->setText(QString());
    ui->stackedWidget->setCurrentIndex(1);

    auto *scan = new creatimage_aa;
    m_scanThread = scan;
    connect(scan, &creatimage_aa::UpdateSignal, this, &MainWindow::UpdateSlot_anay_size_createimageaa);
    connect(scan, &creatimage_aa::UpdateSignal_num, this, &MainWindow::UpdateSlot_anay_num);
    connect(scan, &creatimage_aa::sourceFailed, this, &MainWindow::scanSourceFailed);
    connect(scan, &QThread::finished, scan, &QObject::deleteLater);
    scan->start(QThread::InheritPriority);
}

void MainWindow::UpdateSlot_anay_size_createimageaa(qulonglong done)
{
    const std::uint64_t size = source_size();
    const std::uint64_t remaining = 2 * size - done;
    const std::uint64_t minutes = remaining / (60 * BYTES_PER_SECOND);
    const std::uint64_t seconds = remaining / BYTES_PER_SECOND % 60;
    ui->label_scan_time->setText(tr("Time remaining: ") + QString::number(minutes) + QLatin1Char(':')
                                 + QString::number(seconds) + tr("        Reading sector : ") + QString::number(done)
                                 + QLatin1Char('/') + QString::number(size));

    if (reading_counter > 10)
        ui->label_scan_info->setText(tr("Scanning your Korvo SD card image file, please wait..."));
    else if (reading_counter <= 9)
        ui->label_scan_info->setText(tr("Please wait for momentload ."));
    reading_counter = reading_counter <= 20 ? reading_counter + 1 : 1;
}

void MainWindow::UpdateSlot_anay_num(int code)
{
    if (code == CODE_SCAN_DONE) {
        fillResults();
        code = 40000;
    }
    if (code <= 100)
        ui->progressBar_creatimage->setValue(code);

    if (code >= 51 && code <= 20000) {
        ui->label_scan_time->setText(QString());
        ui->label_scan_status->setText(tr("Scan finished, Analyzing Data  ... "));
        ui->label_scan_info->setText(tr("Find data .analyzing ... "));
    } else if (code >= 20003 && code <= 29999) {
        ui->label_scan_status->setText(tr("Data Analyzed,Generating Video thumbnail ... "));
        ui->label_scan_info->setText(tr("Success, generating ") + QString::number(code - 20002)
                                     + tr("  video thumbnail ."));
    } else if (code >= 30001 && code <= 39999) {
        ui->label_scan_status->setText(tr("Data Analyzed,Generating Photo thumbnail ... "));
        ui->label_scan_info->setText(tr("Success, generating ") + QString::number(code - 30000)
                                     + tr("  photo thumbnail ."));
    } else if (code == 40000) {
        ui->button_preview->show();
        ui->button_recover->show();
        ui->button_cancle->hide();
        ui->label_scan_status->setText(tr("Scan finished"));
        QString info = tr("Scan finished,preview or recover the files.");
        if (unreadable_bytes > 0)
            info += QLatin1Char(' ') + tr("%1 bytes could not be read.").arg(unreadable_bytes);
        ui->label_scan_info->setText(info);
        ui->label_scan_time->setText(QString());
        ui->progressBar_creatimage->hide();
    }
}

void MainWindow::fillResults()
{
    ui->label_video_info->setText(tr("Total found  ") + QString::number(video_total) + tr(" video"));
    ui->label_photo_info->setText(tr("Total found  ") + QString::number(photo_num) + tr(" photo"));
    fill_grid(ui->tableWidget_2, video_total, QString(), QStringLiteral(":/mm.png"));
    fill_grid(ui->tableWidget_3, photo_num, QStringLiteral("ab"), QStringLiteral(":/image.png"));
}

void MainWindow::scanSourceFailed(const QString &reason)
{
    inform(tr("The scan could not open %1: %2\n\n"
              "Reading a card needs the right to read the drive. Tessaro asks udisks2 for it, and the desktop "
              "asks for your password; without udisks2, run Tessaro as root, or join the disk group "
              "(sudo adduser $USER disk, then log in again). For an image file, check that it still exists "
              "and that you may read it.")
                   .arg(source_path().isEmpty() ? tr("the source") : source_path(), reason));
    ui->stackedWidget->setCurrentIndex(0);
}

void MainWindow::on_tableWidget_2_itemSelectionChanged()
{
    // The selected cell, empty cells included; keyboard moves select before
    // the current index follows.
    const QModelIndexList selected = ui->tableWidget_2->selectionModel()->selectedIndexes();
    const QModelIndex cell = selected.isEmpty() ? ui->tableWidget_2->currentIndex() : selected.first();
    video_row = cell.row();
    video_col = cell.column();
}

void MainWindow::on_tableWidget_2_cellDoubleClicked(int, int)
{
    // The double-clicked cell is already the selected one.
    on_button_preview_clicked();
}

void MainWindow::on_button_preview_clicked()
{
    m_preview = open_preview(video_row * GRID_COLUMNS + video_col, this, m_seams.information);
}

void MainWindow::on_button_cancle_clicked()
{
    scan_flag = 0;
    ui->button_cancle->hide();
}
