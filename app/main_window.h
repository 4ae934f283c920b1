// The main window: the frameless two-page window, its start-up, chrome and
// help menu, the drive list, and the slots that run a scan, a recovery and
// an image copy.
#pragma once

#include "app/recovery_summary.h"
#include "app/window_seams.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QPushButton;
class QTableWidget;
class QThread;
class QTemporaryDir;
class Ui_MainWindow;
class DeviceMonitor;
class creatimage;
class creatimage_aa;
class savefile_new;
class Recovery;
struct RecoveryChoice;
struct PhotoFacts;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr, const WindowSeams &seams = WindowSeams::standard());
    ~MainWindow() override;

    DeviceMonitor *deviceMonitor() const { return m_deviceMonitor; }
    // True while a scan, a recovery or a drive copy started here still runs.
    bool workersRunning() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

public slots:
    void on_pushButton_topclose_clicked();
    void on_pushButton_min_clicked();
    void on_pushButton_scan_clicked();
    void openUrl_help();
    void openUrl_support();
    void on_tableWidget_itemSelectionChanged();
    void on_pushButton_create_clicked();
    void on_pushButton_load_clicked();
    void UpdateSlot_anay_size_createimageaa(qulonglong done);
    void UpdateSlot_anay_num(int code);
    void on_tableWidget_2_itemSelectionChanged();
    void on_button_cancle_clicked();
    void on_tableWidget_2_cellDoubleClicked(int row, int column);
    void on_button_preview_clicked();
    void on_button_recover_clicked();
    void UpdateSlot_creatimage(qulonglong done);
    void UpdateSlot_recv(int written);

    // A block device event: an "add" or "remove" of a disk or partition
    // while the start page shows rebuilds the drive list; nothing else does.
    void deviceEvent(const QString &action, const QString &devtype);
    // The scan could not open its source: say why and go back to the start.
    void scanSourceFailed(const QString &reason);
    // What each recovered file holds (savefile_new::fileJudged), counted
    // for the end notice.
    void recoveryFileJudged(const QString &name, const QString &verdict, int located, int chunks);
    void recoveryFinished(int failed_files, const QString &first_error, qulonglong unreadable_bytes);
    // The status line names each file once it is written, never one to come.
    void recoveryFileWritten(const QString &name, bool complete, const QString &error);
    // Writes only the selected cells' files, with their own numbers.
    void recoverSelected();
    // Back to the start page, the grids and this scan's work files emptied.
    void newScan();
    // The photo of a cell, large, in a viewer window of its own.
    void openPhoto(int row, int column);
    void imageCopyFinished(bool ok, qulonglong unreadable_bytes, const QString &error);

private:
    void setUpWorkFolder();
    // The ffmpeg beside the program, if any, goes into the work folder,
    // where the thumbnails look for it first.
    void copyFfmpeg();
    void configureDriveList();
    void fillDriveList();
    void rebuildDriveList();
    void configureResultGrid(QTableWidget *grid);
    void addResultActions();
    void showGridMenu(QTableWidget *grid, const QPoint &at);
    void fillResults();
    void startPhotoFacts();
    void showPhotoFacts(int generation, const std::vector<PhotoFacts> &facts);
    void startRecovery(const RecoveryChoice &choice);
    void setResultActionsEnabled(bool enabled);
    bool scanWasCancelled() const;
    void inform(const QString &text);

    Ui_MainWindow *ui;
    QPoint m_dragOrigin;
    bool m_dragging = false;
    QMenu *m_helpMenu = nullptr;
    QAction *m_actionHelp = nullptr;
    QAction *m_actionSupport = nullptr;
    QAction *m_actionHomepage = nullptr;
    QPointer<creatimage> m_imageThread;
    QPointer<creatimage_aa> m_scanThread;
    QPointer<savefile_new> m_recoveryThread;
    QPointer<Recovery> m_preview;  // the newest preview window

    WindowSeams m_seams;
    DeviceMonitor *m_deviceMonitor = nullptr;
    // A private stand-in when the usual work folder is refused.
    std::unique_ptr<QTemporaryDir> m_standInWorkFolder;
    QPushButton *m_recoverSelected = nullptr;
    QPushButton *m_newScan = nullptr;
    // The running scan: when it began, the bytes it last reported and
    // whether its reading was cancelled.
    qint64 m_scanStarted = 0;
    std::uint64_t m_lastRead = 0;
    bool m_cancelClicked = false;
    // Photo facts read from the card after a scan; a later scan's
    // generation makes an earlier reader's answer void.
    QPointer<QThread> m_factsThread;
    int m_factsGeneration = 0;
    // What the running recovery has written so far, by verdict.
    RecoveryTally m_tally;
    std::uint32_t m_recoveryVideos = 0;  // videos it writes
    std::uint64_t m_copyTotal = 0;
    QString m_copyDestination;
};
