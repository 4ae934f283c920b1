#include "app/main_window.h"

#include "app/clear_folder.h"
#include "app/menu_button.h"
#include "app/result_cells.h"
#include "drives/device_monitor.h"
#include "image/image_copy.h"
#include "recover/recovery_thread.h"
#include "recover/scan_thread.h"
#include "scan/work_folder.h"
#include "ui_main_window.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QThread>

static void init_artwork()
{
    // The artwork lives in a static library: make sure its resources are
    // registered whichever program links it.
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent, const WindowSeams &seams)
    : QMainWindow(parent), ui(new Ui_MainWindow), m_seams(seams)
{
    init_artwork();
    ui->setupUi(this);

    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_MouseTracking);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/icons/tessaro-256.png")));

    ui->stackedWidget->setCurrentIndex(0);
    qDebug() << QCoreApplication::applicationDirPath();

    disk_num = m_seams.enumerateDrives(disk_list);
    configureDriveList();
    fillDriveList();

    m_helpMenu = ui->pushButton_xiala->menu();
    m_actionHelp = m_helpMenu->addAction(tr("Help"));
    m_actionSupport = m_helpMenu->addAction(tr("Support"));
    m_actionHomepage = m_helpMenu->addAction(tr("Homepage"));
    connect(m_actionHelp, &QAction::triggered, this, &MainWindow::openUrl_help);
    connect(m_actionSupport, &QAction::triggered, this, &MainWindow::openUrl_support);
    connect(m_actionHomepage, &QAction::triggered, this, &MainWindow::openUrl_help);

    setUpWorkFolder();

    ui->progressBar_cc->hide();
    ui->label_create->hide();

    configureResultGrid(ui->tableWidget_2);
    configureResultGrid(ui->tableWidget_3);
    addResultActions();

    m_deviceMonitor = new DeviceMonitor(this);
    if (m_deviceMonitor->isListening())
        connect(m_deviceMonitor, &DeviceMonitor::blockDeviceEvent, this, &MainWindow::deviceEvent);
    else
        qDebug() << "no device events:" << m_deviceMonitor->problem();

    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();
}

MainWindow::~MainWindow()
{
    // It reads the card into its own copies; the window must outlive it.
    if (m_factsThread)
        m_factsThread->wait();
    delete ui;
}

bool MainWindow::workersRunning() const
{
    return (m_scanThread && m_scanThread->isRunning()) || (m_recoveryThread && m_recoveryThread->isRunning())
           || (m_imageThread && m_imageThread->isRunning()) || (m_factsThread && m_factsThread->isRunning());
}

// Empties the work folder and puts ffmpeg into it, but only a folder that
// is really this user's own: one that someone else made could hold links or
// files planted for us. Such a folder is left alone and the run works in a
// fresh private folder instead.
void MainWindow::setUpWorkFolder()
{
    const bool existed = QFileInfo::exists(temp_dir);
    QString problem;
    // The user's folder holds one folder per running instance: those of
    // instances that have ended are cleared, the others left alone.
    const QString parent = user_work_folder();
    bool usable = true;
    if (temp_dir.startsWith(parent)) {
        usable = prepare_work_folder(parent, &problem);
        if (usable)
            clear_stale_work_folders(parent);
    }
    usable = usable && prepare_work_folder(temp_dir, &problem);
    if (usable)
        clear_folder(temp_dir);
    QThread::msleep(1000);
    qDebug() << temp_dir;
    if (!existed)
        qDebug() << "software_dir";

    if (!usable) {
        m_standInWorkFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Korvo-XXXXXX"));
        const QString refused = temp_dir;
        if (m_standInWorkFolder->isValid())
            temp_dir = m_standInWorkFolder->path() + QLatin1Char('/');
        inform(tr("The work folder %1 cannot be used: %2.\n\nTessaro leaves it untouched and works in %3 for now.")
                       .arg(refused, problem, m_standInWorkFolder->isValid() ? temp_dir : tr("no folder")));
    }
    copyFfmpeg();
}

void MainWindow::copyFfmpeg()
{
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"), temp_dir + QStringLiteral("ffmpeg"));
}

void MainWindow::configureResultGrid(QTableWidget *grid)
{
    grid->setColumnCount(6);
    grid->horizontalHeader()->setStretchLastSection(true);
    // Click, Ctrl+click, Shift+click and Ctrl+A choose what to recover.
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->horizontalHeader()->setDefaultSectionSize(130);
    // The thumbnail with its caption beneath.
    grid->verticalHeader()->setDefaultSectionSize(CELL_HEIGHT);
    grid->horizontalHeader()->setVisible(false);
    grid->verticalHeader()->setVisible(false);
    grid->setItemDelegate(new CaptionBelowDelegate(grid));
    // A caption of number, length or pixel size, and size fits one line.
    QFont captions = grid->font();
    captions.setPointSize(8);
    grid->setFont(captions);
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
}

void MainWindow::inform(const QString &text)
{
    m_seams.information(this, tr("Information"), text);
}
