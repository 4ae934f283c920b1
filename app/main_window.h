// The main window: the frameless two-page window, its start-up, chrome and
// help menu, the drive list, and the slots that run a scan, a recovery and
// an image copy.
#pragma once

#include "app/window_seams.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>

class QAction;
class QMenu;
class QTableWidget;
class QTemporaryDir;
class Ui_MainWindow;
class DeviceMonitor;
class creatimage;
class creatimage_aa;
class savefile_new;
class Recovery;

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
    void imageCopyFinished(bool ok, qulonglong unreadable_bytes, const QString &error);

private:
    void setUpWorkFolder();
    void configureDriveList();
    void fillDriveList();
    void rebuildDriveList();
    void configureResultGrid(QTableWidget *grid);
    void fillResults();
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
    // Files of the running recovery judged so far, and those not intact.
    int m_judgedFiles = 0;
    int m_partialFiles = 0;
    int m_emptyFiles = 0;
    std::uint64_t m_copyTotal = 0;
    QString m_copyDestination;
};
