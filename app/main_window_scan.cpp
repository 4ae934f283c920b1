// The scan from the window: starting it, following its progress and phases,
// filling the result grids, the video grid's current cell, its preview and
// cancel.
#include "app/main_window.h"

#include "app/time_remaining.h"
#include "app/video_cell.h"
#include "preview/open_preview.h"
#include "preview/recovery.h"
#include "recover/file_facts.h"
#include "recover/scan_thread.h"
#include "scan/scan_progress.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "ui_main_window.h"

#include <QFileInfo>

namespace {

// Alternates the detail line while the source is read; never reset.
int reading_counter = 0;

}  // namespace

void MainWindow::on_pushButton_scan_clicked()
{
    if (select_disk == -1) {
        inform(tr("please select disk"));
        return;
    }
    ui->button_preview->hide();
    ui->button_recover->hide();
    m_recoverSelected->hide();
    m_newScan->hide();
    ui->button_cancle->show();
    m_scanStarted = m_seams.clock();
    m_lastRead = 0;
    m_cancelClicked = false;
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
    m_lastRead = done;
    // From the rate this card has been read at so far, not an assumed one.
    const QString left = time_remaining(done, size, m_seams.clock() - m_scanStarted);
    ui->label_scan_time->setText(tr("Time remaining: ") + (left.isEmpty() ? tr("measuring") : left)
                                 + tr("        Reading sector : ") + QString::number(done) + QLatin1Char('/')
                                 + QString::number(size));

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
        m_recoverSelected->show();
        m_newScan->show();
        ui->button_cancle->hide();
        QString info;
        if (scanWasCancelled()) {
            const std::uint64_t size = source_size();
            ui->label_scan_status->setText(tr("Scan cancelled"));
            info = tr("Cancelled after reading %1 of %2 (%3%): what was found before is listed; the counts are "
                      "partial.")
                           .arg(size_text(m_lastRead), size_text(size))
                           .arg(size ? m_lastRead * 100 / size : 0);
        } else {
            ui->label_scan_status->setText(tr("Scan finished"));
            info = tr("Scan finished,preview or recover the files.");
        }
        if (unreadable_bytes > 0)
            info += QLatin1Char(' ') + tr("%1 bytes could not be read.").arg(unreadable_bytes);
        ui->label_scan_info->setText(info);
        ui->label_scan_time->setText(QString());
        ui->progressBar_creatimage->hide();
    }
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
    // With one cell selected, that cell: keyboard moves select before the
    // current index follows. With several, the one last clicked.
    const QModelIndexList selected = ui->tableWidget_2->selectionModel()->selectedIndexes();
    const QModelIndex cell = selected.size() == 1 ? selected.first() : ui->tableWidget_2->currentIndex();
    if (!cell.isValid())
        return;
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
    m_cancelClicked = true;
    ui->button_cancle->hide();
}

bool MainWindow::scanWasCancelled() const
{
    // A click after the last byte was read stopped nothing.
    return m_cancelClicked && m_lastRead < source_size();
}
