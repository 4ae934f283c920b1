// Start-up: the work folder is emptied (files only, links not followed) and
// gets ffmpeg; a folder that is not the user's own is left alone; the
// window, its drive list and its grids are set up.
#include "app/main_window.h"
#include "app/menu_button.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QCoreApplication>
#include <QMenu>
#include <QtTest>
#include <sys/stat.h>

namespace {

void write_file(const QString &path, const QByteArray &bytes = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

class TestWindowStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_work;
    QString m_ffmpeg;  // a stand-in ffmpeg beside the test program, if we made it
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;

    template <class T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        m_work = m_dir.filePath(QStringLiteral("work/"));
        write_file(m_work + "0.png");
        write_file(m_work + ".hidden");
        write_file(m_work + "old/1.mp4");
        write_file(m_work + "old/deeper/ab2.png");
        write_file(m_work + "ffmpeg", "stale");
        write_file(m_dir.filePath("outside/keep.txt"));
        QVERIFY(QFile::link(m_dir.filePath("outside"), m_work + "link"));
        temp_dir = m_work;

        const QString beside = QCoreApplication::applicationDirPath() + "/ffmpeg";
        if (!QFileInfo::exists(beside)) {
            write_file(beside, "#!/bin/sh\n");
            QFile::setPermissions(beside, QFile::permissions(beside) | QFile::ExeOwner);
            m_ffmpeg = beside;
        }

        m_harness.drives = {fake_drive("sdb1", "CARD", 31914983424ull), fake_drive("sdc1", "", 4026531840ull),
                            fake_drive("sdd", "BACKUP", 1ull << 30)};
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
    }

    void cleanupTestCase()
    {
        m_window.reset();
        if (!m_ffmpeg.isEmpty())
            QFile::remove(m_ffmpeg);
    }

    void work_folder_is_emptied_and_keeps_its_folders()
    {
        const QStringList left = QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        QCOMPARE(left, (QStringList{"ffmpeg", "link", "old"}));
        QVERIFY(QDir(m_work + "old/deeper").exists());
        QVERIFY(QDir(m_work + "old").entryList(QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(QDir(m_work + "old/deeper").entryList(QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY2(QFile::exists(m_dir.filePath("outside/keep.txt")), "a link was followed out of the work folder");
        QVERIFY(m_harness.messages.isEmpty());

        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(m_work).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    void ffmpeg_beside_the_program_is_copied_in()
    {
        const QString beside = QCoreApplication::applicationDirPath() + "/ffmpeg";
        QFile copy(m_work + "ffmpeg");
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QFile original(beside);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());
        QVERIFY(QFileInfo(copy).isExecutable());
    }

    void window_and_pages()
    {
        QVERIFY(m_window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(m_window->testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(m_window->testAttribute(Qt::WA_MouseTracking));
        QCOMPARE(m_window->size(), QSize(920, 655));
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 0);
        QVERIFY(child<QProgressBar>("progressBar_cc")->isHidden());
        QVERIFY(child<QLabel>("label_create")->isHidden());
        QVERIFY(!m_window->windowIcon().isNull());
    }

    void result_grids()
    {
        for (const char *name : {"tableWidget_2", "tableWidget_3"}) {
            auto *grid = child<QTableWidget>(name);
            QCOMPARE(grid->columnCount(), 6);
            QCOMPARE(grid->rowCount(), 0);
            QVERIFY(grid->horizontalHeader()->stretchLastSection());
            // Several cells may be chosen for "Recover selected".
            QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
            QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectItems);
            QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
            QCOMPARE(grid->horizontalHeader()->defaultSectionSize(), 130);
            // A 90-pixel thumbnail with its caption beneath.
            QVERIFY(grid->verticalHeader()->defaultSectionSize() >= 90 + grid->fontMetrics().height());
            QVERIFY(grid->horizontalHeader()->isHidden());
            QVERIFY(grid->verticalHeader()->isHidden());
        }
    }

    void drive_list_header_rows_and_icon()
    {
        auto *list = child<QTableWidget>("tableWidget");
        QCOMPARE(list->columnCount(), 1);
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QStringLiteral("Please connect your Korvo SD card to computer ."));
        QCOMPARE(list->rowCount(), 3);
        const QImage disk = QImage(":/disk.png").scaled(35, 35, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        for (int i = 0; i < 3; ++i) {
            QTableWidgetItem *item = list->item(i, 0);
            QCOMPARE(item->text(), disk_display_text(disk_list[i]));
            QCOMPARE(item->icon().pixmap(35, 35).toImage().convertToFormat(QImage::Format_ARGB32),
                     disk.convertToFormat(QImage::Format_ARGB32));
        }
        QCOMPARE(list->item(0, 0)->text(), QStringLiteral("CARD (sdb1:)    14.86 GB  free of 29.72 GB "));
        QCOMPARE(list->item(1, 0)->text(), QStringLiteral(" (sdc1:)    1.88 GB  free of 3.75 GB "));
        QVERIFY(list->horizontalHeader()->stretchLastSection());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(list->verticalHeader()->isHidden());
        QVERIFY(!list->showGrid());
        QCOMPARE(list->frameShape(), QFrame::NoFrame);
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(select_disk, -1);
    }

    void help_menu_entries()
    {
        QStringList texts;
        for (QAction *a : m_window->findChild<QMenuButton *>("pushButton_xiala")->menu()->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{"Help", "Support", "Homepage"}));
    }

    // A work folder that is a link, or someone else's, is neither emptied
    // nor used; the user is told once and the run works in a private folder.
    void foreign_work_folder_is_left_alone()
    {
        const QString real = m_dir.filePath("planted/");
        write_file(real + "victim.txt");
        const QString link = m_dir.filePath("linked-work");
        QVERIFY(QFile::link(real, link));
        const QString before = temp_dir;
        temp_dir = link + "/";

        WindowHarness harness;
        {
            MainWindow second(nullptr, harness.seams());
            QCOMPARE(harness.messages.size(), 1);
            QCOMPARE(harness.titles, QStringList{"Information"});
            QVERIFY2(harness.messages[0].contains(link), qPrintable(harness.messages[0]));
            QVERIFY(QFile::exists(real + "victim.txt"));
            QVERIFY(!QFile::exists(real + "ffmpeg"));
            QVERIFY(temp_dir != link + "/");
            QVERIFY(QFileInfo(temp_dir).isDir());
            QVERIFY(harness.messages[0].contains(temp_dir));
        }
        temp_dir = before;
    }
};

QTEST_MAIN(TestWindowStartup)
#include "test_window_startup.moc"
