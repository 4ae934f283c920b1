// The results page beyond the scan's own slots: what each cell says of its
// file, choosing files to recover, viewing a photo large, and going back to
// the start for another card.
#include "app/main_window.h"

#include "app/clear_folder.h"
#include "app/result_cells.h"
#include "app/video_cell.h"
#include "drives/drive_table.h"
#include "image/image_checks.h"
#include "preview/photo_viewer.h"
#include "preview/recovery.h"
#include "rebuild/video_plan.h"
#include "recover/file_facts.h"
#include "recover/photo_extraction.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "ui_main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

namespace {

QIcon thumbnail_or(const QString &thumbnail, const QIcon &stand_in)
{
    return QFileInfo(thumbnail).isFile() ? QIcon(thumbnail) : stand_in;
}

// Grid numbers of the selected cells that hold a file.
std::vector<int> selected_numbers(const QTableWidget *grid, std::uint32_t count)
{
    std::vector<int> numbers;
    for (const QModelIndex &cell : grid->selectionModel()->selectedIndexes()) {
        const int n = cell.row() * GRID_COLUMNS + cell.column();
        if (n >= 0 && std::uint32_t(n) < count)
            numbers.push_back(n);
    }
    return numbers;
}

}  // namespace

void MainWindow::addResultActions()
{
    // Beside the form's buttons, in the header bar: "Recover selected" where
    // Cancel stands while a scan reads, "New scan" above "Recover".
    m_recoverSelected = new QPushButton(tr("Recover selected"), ui->page_2);
    m_recoverSelected->setObjectName(QStringLiteral("button_recover_selected"));
    m_recoverSelected->setGeometry(677, 20, 118, 23);
    m_recoverSelected->setFont(ui->button_recover->font());
    m_recoverSelected->hide();
    connect(m_recoverSelected, &QPushButton::clicked, this, &MainWindow::recoverSelected);

    m_newScan = new QPushButton(tr("New scan"), ui->page_2);
    m_newScan->setObjectName(QStringLiteral("button_new_scan"));
    m_newScan->setGeometry(800, 20, 75, 23);
    m_newScan->setFont(ui->button_recover->font());
    m_newScan->hide();
    connect(m_newScan, &QPushButton::clicked, this, &MainWindow::newScan);

    for (QTableWidget *grid : {ui->tableWidget_2, ui->tableWidget_3})
        connect(grid, &QWidget::customContextMenuRequested, this,
                [this, grid](const QPoint &at) { showGridMenu(grid, at); });
    connect(ui->tableWidget_3, &QTableWidget::cellDoubleClicked, this, &MainWindow::openPhoto);
}

void MainWindow::showGridMenu(QTableWidget *grid, const QPoint &at)
{
    if (!m_recoverSelected->isVisible())
        return;
    QMenu menu(this);
    QAction *recover = menu.addAction(tr("Recover selected"));
    recover->setEnabled(m_recoverSelected->isEnabled() && !grid->selectedItems().isEmpty());
    QAction *all = menu.addAction(tr("Select all"));
    QAction *chosen = menu.exec(grid->viewport()->mapToGlobal(at));
    if (chosen == recover)
        recoverSelected();
    else if (chosen == all)
        grid->selectAll();
}

void MainWindow::setResultActionsEnabled(bool enabled)
{
    ui->button_recover->setEnabled(enabled);
    m_recoverSelected->setEnabled(enabled);
    m_newScan->setEnabled(enabled);
}

void MainWindow::fillResults()
{
    const QString partial = scanWasCancelled() ? tr(" (partial: the scan was cancelled)") : QString();
    ui->label_video_info->setText(tr("Total found  ") + QString::number(video_total) + tr(" video") + partial);
    ui->label_photo_info->setText(tr("Total found  ") + QString::number(photo_num) + tr(" photo") + partial);

    QTableWidget *videos = ui->tableWidget_2;
    videos->setRowCount(static_cast<int>(video_total / GRID_COLUMNS + 1));
    const QIcon video_stand_in(QStringLiteral(":/mm.png"));
    for (std::uint32_t n = 0; n < video_total; ++n) {
        const VideoFacts facts = n < video_plans.size() ? video_facts(video_plans[n]) : VideoFacts();
        const QIcon icon = thumbnail_or(temp_dir + QString::number(n) + QStringLiteral(".png"), video_stand_in);
        auto *item = new QTableWidgetItem(badged_icon(icon, facts.verdict), video_caption(int(n), facts));
        item->setToolTip(video_tooltip(int(n), facts));
        item->setData(Qt::UserRole, int(facts.verdict));
        videos->setItem(int(n / GRID_COLUMNS), int(n % GRID_COLUMNS), item);
    }

    // The photos' pixel sizes are read from the card apart from the window;
    // until then a cell says what the scan knows.
    QTableWidget *photos = ui->tableWidget_3;
    photos->setRowCount(static_cast<int>(photo_num / GRID_COLUMNS + 1));
    const QIcon photo_stand_in(QStringLiteral(":/image.png"));
    for (std::uint32_t n = 0; n < photo_num; ++n) {
        PhotoFacts facts;
        facts.position = photo_list[n].position;
        facts.file_size = photo_list[n].length;
        facts.verdict = facts.file_size == 0 ? Verdict::Empty : photo_list[n].walked ? Verdict::Intact : Verdict::Partial;
        const QIcon icon = thumbnail_or(temp_dir + QStringLiteral("ab") + QString::number(n) + QStringLiteral(".png"),
                                        photo_stand_in);
        auto *item = new QTableWidgetItem(badged_icon(icon, facts.verdict), photo_caption(int(n), facts));
        item->setToolTip(photo_tooltip(int(n), facts));
        photos->setItem(int(n / GRID_COLUMNS), int(n % GRID_COLUMNS), item);
    }
    startPhotoFacts();
}

void MainWindow::startPhotoFacts()
{
    const int generation = ++m_factsGeneration;
    if (photo_num == 0)
        return;
    // Its own copy of the table: a new scan may empty it meanwhile.
    std::vector<PhotoInfo> table(photo_num);
    for (std::uint32_t n = 0; n < photo_num; ++n)
        table[n] = photo_list[n];
    const QString path = source_path();
    const std::uint64_t end = source_size();
    QPointer<MainWindow> window(this);
    QThread *reader = QThread::create([table, path, end, generation, window] {
        QString error;
        std::unique_ptr<FileSource> source = FileSource::open(path, &error);
        if (!source)
            return;
        std::vector<PhotoFacts> facts;
        facts.reserve(table.size());
        for (const PhotoInfo &photo : table)
            facts.push_back(photo_facts(*source, end, photo));
        QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [window, generation, facts] {
                    if (window)
                        window->showPhotoFacts(generation, facts);
                },
                Qt::QueuedConnection);
    });
    if (m_factsThread)
        m_factsThread->wait();
    m_factsThread = reader;
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    reader->start(QThread::LowPriority);
}

void MainWindow::showPhotoFacts(int generation, const std::vector<PhotoFacts> &facts)
{
    if (generation != m_factsGeneration)
        return;
    QTableWidget *photos = ui->tableWidget_3;
    for (std::size_t n = 0; n < facts.size(); ++n) {
        QTableWidgetItem *item = photos->item(int(n / GRID_COLUMNS), int(n % GRID_COLUMNS));
        if (!item)
            continue;
        item->setText(photo_caption(int(n), facts[n]));
        item->setToolTip(photo_tooltip(int(n), facts[n]));
    }
}

void MainWindow::recoverSelected()
{
    const std::vector<int> videos = selected_numbers(ui->tableWidget_2, video_total);
    const std::vector<int> photos = selected_numbers(ui->tableWidget_3, photo_num);
    if (videos.empty() && photos.empty()) {
        inform(tr("Select the videos and photos to recover first: click a picture, Ctrl+click or Shift+click for "
                  "more, Ctrl+A for all of a grid."));
        return;
    }
    startRecovery(RecoveryChoice::only(videos, photos));
}

void MainWindow::openPhoto(int row, int column)
{
    const int n = row * GRID_COLUMNS + column;
    if (n < 0 || std::uint32_t(n) >= photo_num)
        return;
    QString problem;
    const QByteArray bytes = photo_bytes(n, &problem);
    auto *viewer = new PhotoViewer(tr("Photo %1").arg(n), bytes, problem);
    viewer->show();
}

void MainWindow::newScan()
{
    if ((m_scanThread && m_scanThread->isRunning()) || (m_recoveryThread && m_recoveryThread->isRunning()))
        return;
    ++m_factsGeneration;
    // The previews play this scan's work copies, which go now.
    for (QWidget *window : QApplication::topLevelWidgets())
        if (qobject_cast<Recovery *>(window) || qobject_cast<PhotoViewer *>(window))
            window->close();
    clear_folder(temp_dir);
    copyFfmpeg();

    for (QTableWidget *grid : {ui->tableWidget_2, ui->tableWidget_3}) {
        grid->clearSelection();
        grid->clearContents();
        grid->setRowCount(0);
    }
    video_row = video_col = 0;
    ui->label_video_info->setText(tr("Total found    video"));
    ui->label_photo_info->setText(tr("Total found  photo"));
    m_recoverSelected->hide();
    m_newScan->hide();

    // Cards may have come and gone while the results showed: the list is
    // read afresh, and the user picks the next source.
    disk_num = m_seams.enumerateDrives(disk_list);
    rebuildDriveList();
    if (!image_path.isEmpty() && image_size > 0) {
        const int row = ui->tableWidget->rowCount();
        ui->tableWidget->setRowCount(row + 1);
        ui->tableWidget->setItem(row, 0, new QTableWidgetItem(QIcon(QStringLiteral(":/disk.png")),
                                                              image_row_text(image_path, image_size)));
    }
    select_disk = -1;
    ui->stackedWidget->setCurrentIndex(0);
}
