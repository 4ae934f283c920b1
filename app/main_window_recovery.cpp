// The recovery from the window: choosing the folder (never one on the card
// being read, never an earlier recovery's without asking), following the
// files written, and the one end notice.
#include "app/main_window.h"

#include "app/recovery_folder.h"
#include "drives/destination_check.h"
#include "drives/drive_table.h"
#include "recover/recovery_thread.h"
#include "scan/scan_tables.h"
#include "ui_main_window.h"

#include <QDir>
#include <QPushButton>
#include <QUrl>

void MainWindow::on_button_recover_clicked()
{
    startRecovery(RecoveryChoice());
}

void MainWindow::startRecovery(const RecoveryChoice &choice)
{
    setResultActionsEnabled(false);
    const QString folder = m_seams.existingDirectory(this, tr("Find Files"), QDir::currentPath());
    if (folder.isEmpty()) {
        setResultActionsEnabled(true);
        return;
    }
    const QString on_source = destination_on_source(folder, source_path());
    if (!on_source.isEmpty()) {
        inform(tr("The recovered files cannot go there: %1").arg(on_source));
        setResultActionsEnabled(true);
        return;
    }
    QString target = folder + QStringLiteral("/KorvoRecoverFile");
    if (holds_files(target)) {
        const QString beside = next_free_folder(target);
        const int answer = m_seams.choose(
                this, tr("Information"),
                tr("%1 already holds recovered files.\n\nWrite over them, or put this recovery into a new "
                   "folder %2 beside it?")
                        .arg(QDir::toNativeSeparators(target), QDir(beside).dirName()),
                {tr("Write over them"), tr("Use %1").arg(QDir(beside).dirName()), tr("Cancel")});
        if (answer == 1) {
            target = beside;
        } else if (answer != 0) {
            setResultActionsEnabled(true);
            return;
        }
    }
    if (!QDir().mkpath(target)) {
        inform(tr("The folder %1 cannot be created. Choose a folder you may write to.").arg(target));
        setResultActionsEnabled(true);
        return;
    }
    save_dir = target;

    ui->progressBar_creatimage->show();
    ui->progressBar_creatimage->setValue(0);
    ui->label_scan_time->setText(QString());
    ui->label_scan_status->setText(tr("Recovering File ."));
    ui->label_scan_info->setText(tr("Recovering video file,please wait ..."));

    auto *recovery = new savefile_new;
    recovery->setChoice(choice);
    m_recoveryVideos = std::uint32_t(choice.videos_below(video_total).size());
    m_recoveryThread = recovery;
    m_tally = RecoveryTally();
    connect(recovery, &savefile_new::UpdateSignal_rec, this, &MainWindow::UpdateSlot_recv);
    connect(recovery, &savefile_new::fileJudged, this, &MainWindow::recoveryFileJudged);
    connect(recovery, &savefile_new::fileWritten, this, &MainWindow::recoveryFileWritten);
    connect(recovery, &savefile_new::recoveryFinished, this, &MainWindow::recoveryFinished);
    connect(recovery, &QThread::finished, recovery, &QObject::deleteLater);
    recovery->start(QThread::InheritPriority);
}

void MainWindow::UpdateSlot_recv(int written)
{
    const std::uint32_t videos = m_recoveryVideos > 0 ? m_recoveryVideos : video_total;
    if (videos > 0)
        ui->progressBar_creatimage->setValue(static_cast<int>(static_cast<std::uint32_t>(written) * 100u / videos));
}

void MainWindow::recoveryFileWritten(const QString &name, bool complete, const QString &)
{
    ui->label_scan_time->setText(complete ? name : tr("%1 (not written completely)").arg(name));
}

void MainWindow::recoveryFileJudged(const QString &, const QString &verdict, int, int chunks)
{
    // A photo has no chunks: -1.
    m_tally.count(verdict, chunks >= 0);
}

void MainWindow::recoveryFinished(int failed_files, const QString &first_error, qulonglong unreadable)
{
    m_tally.failed = failed_files;
    m_tally.first_error = first_error;
    m_tally.unreadable = unreadable;
    const QString summary = recovery_summary(m_tally, save_dir);
    m_tally = RecoveryTally();
    m_recoveryVideos = 0;
    const int answer = m_seams.choose(this, tr("Information"), summary, {tr("OK"), tr("Open folder")});
    if (answer == 1)
        m_seams.openUrl(QUrl::fromLocalFile(save_dir));
    ui->progressBar_creatimage->setValue(100);
    ui->label_scan_status->setText(failed_files > 0 ? tr("Recovering finished with errors !")
                                                    : tr("Recovering video file finished !"));
    ui->label_scan_info->setText(save_dir);
    setResultActionsEnabled(true);
    ui->progressBar_creatimage->hide();
}
