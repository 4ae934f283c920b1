// The recovery from the window: choosing the folder, following the videos
// written, and the one end notice.
#include "app/main_window.h"

#include "recover/recovery_thread.h"
#include "scan/scan_tables.h"
#include "ui_main_window.h"

#include <QDir>

void MainWindow::on_button_recover_clicked()
{
    ui->button_recover->setEnabled(false);
    const QString folder = m_seams.existingDirectory(this, tr("Find Files"), QDir::currentPath());
    if (folder.isEmpty()) {
        ui->button_recover->setEnabled(true);
        return;
    }
    const QString target = folder + QStringLiteral("/KorvoRecoverFile");
    if (!QDir().mkpath(target)) {
        inform(tr("The folder %1 cannot be created. Choose a folder you may write to.").arg(target));
        ui->button_recover->setEnabled(true);
        return;
    }
    save_dir = target;

    ui->progressBar_creatimage->show();
    ui->progressBar_creatimage->setValue(0);
    ui->label_scan_time->setText(save_dir);
    ui->label_scan_status->setText(tr("Recovering File ."));
    ui->label_scan_info->setText(tr("Recovering video file,please wait ..."));

    auto *recovery = new savefile_new;
    m_recoveryThread = recovery;
    m_judgedFiles = m_partialFiles = m_emptyFiles = 0;
    connect(recovery, &savefile_new::UpdateSignal_rec, this, &MainWindow::UpdateSlot_recv);
    connect(recovery, &savefile_new::fileJudged, this, &MainWindow::recoveryFileJudged);
    connect(recovery, &savefile_new::recoveryFinished, this, &MainWindow::recoveryFinished);
    connect(recovery, &QThread::finished, recovery, &QObject::deleteLater);
    recovery->start(QThread::InheritPriority);
}

void MainWindow::UpdateSlot_recv(int written)
{
    ui->label_scan_time->setText(save_dir + QStringLiteral("/%1.mp4").arg(written));
    if (video_total > 0)
        ui->progressBar_creatimage->setValue(static_cast<int>(static_cast<std::uint32_t>(written) * 100u / video_total));
}

void MainWindow::recoveryFileJudged(const QString &, const QString &verdict, int, int)
{
    ++m_judgedFiles;
    if (verdict == QLatin1String("partial"))
        ++m_partialFiles;
    else if (verdict == QLatin1String("empty"))
        ++m_emptyFiles;
}

void MainWindow::recoveryFinished(int failed_files, const QString &first_error, qulonglong unreadable)
{
    // A file written whole may still lack what the card no longer holds:
    // the user is told, not left to find out.
    QString finished = tr("Finished");
    const int lacking = m_partialFiles + m_emptyFiles;
    if (m_emptyFiles == 0 && lacking == 1)
        finished += tr(". 1 of %1 files is partial: parts of it were not found on the card.").arg(m_judgedFiles);
    else if (m_emptyFiles == 0 && lacking > 1)
        finished += tr(". %1 of %2 files are partial: parts of them were not found on the card.")
                            .arg(lacking)
                            .arg(m_judgedFiles);
    else if (m_partialFiles == 0 && lacking == 1)
        finished += tr(". 1 of %1 files is empty: nothing of it was found on the card.").arg(m_judgedFiles);
    else if (m_partialFiles == 0 && lacking > 1)
        finished += tr(". %1 of %2 files are empty: nothing of them was found on the card.")
                            .arg(lacking)
                            .arg(m_judgedFiles);
    else if (lacking > 0)
        finished += tr(". %1 of %2 files are partial: parts of them were not found on the card, and nothing "
                       "at all of %3 of them.")
                            .arg(lacking)
                            .arg(m_judgedFiles)
                            .arg(m_emptyFiles);
    m_judgedFiles = m_partialFiles = m_emptyFiles = 0;
    if (failed_files > 0) {
        inform(tr("%n file(s) could not be written completely into %1: %2", nullptr, failed_files)
                       .arg(save_dir, first_error));
    } else if (unreadable > 0) {
        inform(finished + QStringLiteral("\n\n")
               + tr("%1 bytes of the card could not be read; they were written as zeros.").arg(unreadable));
    } else {
        inform(finished);
    }
    ui->progressBar_creatimage->setValue(100);
    ui->label_scan_status->setText(failed_files > 0 ? tr("Recovering finished with errors !")
                                                    : tr("Recovering video file finished !"));
    ui->label_scan_info->setText(save_dir);
    ui->button_recover->setEnabled(true);
    ui->progressBar_creatimage->hide();
}
