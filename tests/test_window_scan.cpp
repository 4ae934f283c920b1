// The scan's slots in the window, driven with the values the scan thread
// sends: phase texts, the time line, the alternating detail line, the
// filled grids, the video grid's current cell and cancel.
#include "app/main_window.h"
#include "app/video_cell.h"
#include "preview/recovery.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QtTest>

class TestWindowScan : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;
    QLabel *m_status = nullptr, *m_info = nullptr, *m_time = nullptr;
    QProgressBar *m_bar = nullptr;

    template <class T> T *child(const char *name) { return m_window->findChild<T *>(QLatin1String(name)); }
    void code(int value) { m_window->UpdateSlot_anay_num(value); }

    static void write_png(const QString &path, QColor colour)
    {
        QImage image(120, 90, QImage::Format_RGB32);
        image.fill(colour);
        QVERIFY(image.save(path));
    }
    // An icon never scales up: asked for more, it gives its picture as is.
    static QImage icon_image(QTableWidgetItem *item)
    {
        return item->icon().pixmap(1024, 1024).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    static QImage picture(const QString &path) { return QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied); }

private slots:
    void initTestCase()
    {
        temp_dir = m_dir.filePath("work/");
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
        m_window->show();
        child<QStackedWidget>("stackedWidget")->setCurrentIndex(1);
        m_status = child<QLabel>("label_scan_status");
        m_info = child<QLabel>("label_scan_info");
        m_time = child<QLabel>("label_scan_time");
        m_bar = child<QProgressBar>("progressBar_creatimage");
    }

    void scan_without_a_source_only_asks()
    {
        child<QStackedWidget>("stackedWidget")->setCurrentIndex(0);
        select_disk = -1;
        child<QPushButton>("pushButton_scan")->click();
        QCOMPARE(m_harness.messages, QStringList{"please select disk"});
        QCOMPARE(m_harness.titles, QStringList{"Information"});
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 0);
        child<QStackedWidget>("stackedWidget")->setCurrentIndex(1);
    }

    void phases_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("status");  // "-": unchanged
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("bar");
        const QString analysing = "Scan finished, Analyzing Data  ... ", finding = "Find data .analyzing ... ";
        const QString videos = "Data Analyzed,Generating Video thumbnail ... ";
        const QString photos = "Data Analyzed,Generating Photo thumbnail ... ";
        QTest::newRow("reading 30%") << 30 << "-" << "-" << "-" << 30;
        QTest::newRow("reading done") << 50 << "-" << "-" << "-" << 50;
        QTest::newRow("grouping 51%") << 51 << analysing << finding << "" << 51;
        QTest::newRow("grouping 100%") << 100 << analysing << finding << "" << 100;
        QTest::newRow("20000") << 20000 << analysing << finding << "" << 7;
        QTest::newRow("video thumbnails begin") << 20002 << "-" << "-" << "-" << 7;
        QTest::newRow("video 1") << 20003 << videos << "Success, generating 1  video thumbnail ." << "-" << 7;
        QTest::newRow("video 9997") << 29999 << videos << "Success, generating 9997  video thumbnail ." << "-" << 7;
        QTest::newRow("photo thumbnails begin") << 30000 << "-" << "-" << "-" << 7;
        QTest::newRow("photo 1") << 30001 << photos << "Success, generating 1  photo thumbnail ." << "-" << 7;
        QTest::newRow("photo 9999") << 39999 << photos << "Success, generating 9999  photo thumbnail ." << "-" << 7;
    }

    void phases()
    {
        QFETCH(int, code);
        QFETCH(QString, status);
        QFETCH(QString, info);
        QFETCH(QString, time);
        QFETCH(int, bar);
        for (QLabel *l : {m_status, m_info, m_time})
            l->setText("-");
        m_bar->setValue(7);
        this->code(code);
        QCOMPARE(m_status->text(), status);
        QCOMPARE(m_info->text(), info);
        QCOMPARE(m_time->text(), time);
        QCOMPARE(m_bar->value(), bar);
    }

    // 256 MiB of a 1 GiB source read: twice the size less what was read,
    // at 10 MiB/s, is 2 minutes 59 seconds.
    void time_remaining()
    {
        select_disk = disk_num;  // the image
        image_size = 1073741824;
        m_window->UpdateSlot_anay_size_createimageaa(268435456);
        QCOMPARE(m_time->text(),
                 QStringLiteral("Time remaining: 2:59        Reading sector : 268435456/1073741824"));
        m_window->UpdateSlot_anay_size_createimageaa(1073741824 * 2ull - 5 * 10485760ull);
        QVERIFY(m_time->text().startsWith("Time remaining: 0:5        Reading sector : "));
    }

    // Over each cycle of 21 updates the detail line shows the wait message
    // for ten and the scanning message for eleven.
    void detail_line_alternates()
    {
        const QString wait = "Please wait for momentload .";
        const QString scanning = "Scanning your Korvo SD card image file, please wait...";
        for (int i = 0; i < 22; ++i)
            m_window->UpdateSlot_anay_size_createimageaa(0);
        QString shown;
        for (int i = 0; i < 42; ++i) {
            m_window->UpdateSlot_anay_size_createimageaa(0);
            QVERIFY(m_info->text() == wait || m_info->text() == scanning);
            shown += m_info->text() == wait ? 'w' : 's';
        }
        QCOMPARE(shown.left(21).count('w'), 10);
        QCOMPARE(shown.mid(21).count('w'), 10);
        QCOMPARE(shown.left(21), shown.mid(21));
        QVERIFY((shown.left(21) + shown.left(21)).contains("wwwwwwwwwwsssssssssss"));
    }

    void results_data()
    {
        QTest::addColumn<int>("videos");
        QTest::addColumn<int>("photos");
        QTest::addColumn<int>("videoRows");
        QTest::addColumn<int>("photoRows");
        QTest::newRow("nothing found") << 0 << 0 << 1 << 1;
        QTest::newRow("six videos") << 6 << 1 << 2 << 1;
        QTest::newRow("seven videos, eight photos") << 7 << 8 << 2 << 2;
    }

    // Every find in row n / 6, column n % 6, with its thumbnail when the scan
    // made one and the stand-in picture when it did not.
    void results()
    {
        QFETCH(int, videos);
        QFETCH(int, photos);
        QFETCH(int, videoRows);
        QFETCH(int, photoRows);
        QDir(temp_dir).removeRecursively();
        QDir().mkpath(temp_dir);
        for (int n = 0; n < videos; n += 2)
            write_png(temp_dir + QString::number(n) + ".png", QColor(200, 30, 30));
        for (int n = 1; n < photos; n += 2)
            write_png(temp_dir + "ab" + QString::number(n) + ".png", QColor(30, 200, 30));
        video_total = static_cast<std::uint32_t>(videos);
        photo_num = static_cast<std::uint32_t>(photos);
        unreadable_bytes = 0;
        child<QTableWidget>("tableWidget_2")->clearContents();
        child<QTableWidget>("tableWidget_3")->clearContents();

        code(20001);

        QCOMPARE(child<QLabel>("label_video_info")->text(), QStringLiteral("Total found  %1 video").arg(videos));
        QCOMPARE(child<QLabel>("label_photo_info")->text(), QStringLiteral("Total found  %1 photo").arg(photos));
        const struct { const char *grid; int count, rows; QString prefix, stand_in; int odd_has_thumb; } grids[] = {
            {"tableWidget_2", videos, videoRows, "", ":/mm.png", 0},
            {"tableWidget_3", photos, photoRows, "ab", ":/image.png", 1},
        };
        for (const auto &g : grids) {
            auto *grid = child<QTableWidget>(g.grid);
            QCOMPARE(grid->rowCount(), g.rows);
            for (int n = 0; n < g.rows * 6; ++n) {
                QTableWidgetItem *item = grid->item(n / 6, n % 6);
                if (n >= g.count) {
                    QVERIFY2(!item, qPrintable(QString("%1 cell %2").arg(g.grid).arg(n)));
                    continue;
                }
                QVERIFY(item);
                QCOMPARE(item->text(), QStringLiteral("Image"));
                const bool thumb = n % 2 == g.odd_has_thumb;
                const QImage shown = icon_image(item);
                QCOMPARE(shown,
                         picture(thumb ? temp_dir + g.prefix + QString::number(n) + ".png" : g.stand_in));
            }
        }
        // The end: preview and recover shown, cancel and the bar hidden.
        QVERIFY(!child<QPushButton>("button_preview")->isHidden());
        QVERIFY(!child<QPushButton>("button_recover")->isHidden());
        QVERIFY(child<QPushButton>("button_cancle")->isHidden());
        QVERIFY(m_bar->isHidden());
        QCOMPARE(m_status->text(), QStringLiteral("Scan finished"));
        QCOMPARE(m_info->text(), QStringLiteral("Scan finished,preview or recover the files."));
        QCOMPARE(m_time->text(), QString());
    }

    void unreadable_bytes_are_told_at_the_end()
    {
        unreadable_bytes = 65536;
        code(40000);
        QCOMPARE(m_info->text(), QStringLiteral("Scan finished,preview or recover the files. 65536 bytes could not be read."));
        unreadable_bytes = 0;
    }

    void video_cell_data()
    {
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("video 7") << false << 1 << 1;
        QTest::newRow("first video") << false << 0 << 0;
        QTest::newRow("empty cell of the last row") << false << 1 << 4;
        QTest::newRow("keyboard move") << true << 0 << 3;
    }

    void video_cell()
    {
        QFETCH(bool, keyboard);
        QFETCH(int, row);
        QFETCH(int, column);
        video_total = 8;
        photo_num = 0;
        code(20001);
        auto *grid = child<QTableWidget>("tableWidget_2");
        if (keyboard) {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, column - 1)).center());
            grid->setFocus();
            QTest::keyClick(grid, Qt::Key_Right);
        } else {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, column)).center());
        }
        QCOMPARE(video_row, row);
        QCOMPARE(video_col, column);
    }

    // Preview and a double-click play the work copy of the selected cell.
    void preview_plays_the_selected_cell()
    {
        video_total = 18;
        photo_num = 0;
        code(20001);
        auto *grid = child<QTableWidget>("tableWidget_2");
        const auto previews = [] {
            QStringList files;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *r = qobject_cast<Recovery *>(w))
                    files << r->file();
            return files;
        };
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(2, 3)).center());
        m_harness.messages.clear();
        child<QPushButton>("button_preview")->click();
        if (!m_harness.messages.isEmpty())
            QSKIP(qPrintable(m_harness.messages.first()));
        QCOMPARE(previews(), QStringList{temp_dir + "15.mp4"});
        const QPoint cell = grid->visualRect(grid->model()->index(1, 2)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
        QTRY_COMPARE(previews().size(), 2);
        QVERIFY(previews().contains(temp_dir + "8.mp4"));
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<Recovery *>(w))
                w->close();
    }

    // Running counts move the bar and name the next file; only the end
    // notice finishes, even where a count is 100.
    void recovery_progress()
    {
        save_dir = "/media/out/KorvoRecoverFile";
        auto *recover = child<QPushButton>("button_recover");
        recover->setEnabled(false);
        m_bar->show();
        m_harness.messages.clear();
        const struct { std::uint32_t total; int written, bar; } steps[] = {{3, 1, 33}, {3, 2, 66}, {3, 3, 100}, {250, 100, 40}};
        for (const auto &s : steps) {
            video_total = s.total;
            m_window->UpdateSlot_recv(s.written);
            QCOMPARE(m_bar->value(), s.bar);
            QCOMPARE(m_time->text(), QStringLiteral("/media/out/KorvoRecoverFile/%1.mp4").arg(s.written));
        }
        QVERIFY(m_harness.messages.isEmpty());
        QVERIFY(!recover->isEnabled());
        QVERIFY(!m_bar->isHidden());
    }

    // The verdicts of the files come before the end notice; the notice
    // counts those that are not intact, and forgets them for the next run
    // (rows that follow a partial one finish plainly).
    void recovery_end_data()
    {
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<int>("failed");
        QTest::addColumn<qulonglong>("unreadable");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        const QString done = "Recovering video file finished !";
        const QStringList three_intact{"intact", "intact", "intact"};
        QTest::newRow("all written") << three_intact << 0 << 0ull << "Finished" << done;
        QTest::newRow("a partial file")
                << QStringList{"intact", "partial", "intact"} << 0 << 0ull
                << "Finished. 1 of 3 files is partial: parts of it were not found on the card." << done;
        QTest::newRow("partial files")
                << QStringList{"partial", "intact", "partial", "intact"} << 0 << 0ull
                << "Finished. 2 of 4 files are partial: parts of them were not found on the card." << done;
        QTest::newRow("all intact after partial ones") << three_intact << 0 << 0ull << "Finished" << done;
        QTest::newRow("an empty file")
                << QStringList{"empty", "intact"} << 0 << 0ull
                << "Finished. 1 of 2 files is empty: nothing of it was found on the card." << done;
        QTest::newRow("partial and empty files")
                << QStringList{"partial", "empty", "intact"} << 0 << 0ull
                << "Finished. 2 of 3 files are partial: parts of them were not found on the card, and nothing at all "
                   "of 1 of them."
                << done;
        QTest::newRow("unreadable card ranges")
                << three_intact << 0 << 98304ull
                << "Finished\n\n98304 bytes of the card could not be read; they were written as zeros." << done;
        QTest::newRow("unreadable card ranges, a partial file")
                << QStringList{"partial"} << 0 << 98304ull
                << "Finished. 1 of 1 files is partial: parts of it were not found on the card.\n\n98304 bytes of the "
                   "card could not be read; they were written as zeros."
                << done;
        QTest::newRow("files not written")
                << QStringList{"partial", "intact"} << 2 << 0ull
                << "2 file(s) could not be written completely into /media/out/KorvoRecoverFile: disk full"
                << "Recovering finished with errors !";
    }

    void recovery_end()
    {
        QFETCH(QStringList, verdicts);
        QFETCH(int, failed);
        QFETCH(qulonglong, unreadable);
        QFETCH(QString, message);
        QFETCH(QString, status);
        save_dir = "/media/out/KorvoRecoverFile";
        auto *recover = child<QPushButton>("button_recover");
        recover->setEnabled(false);
        m_bar->show();
        m_harness.messages.clear();
        for (int i = 0; i < verdicts.size(); ++i)
            m_window->recoveryFileJudged(QStringLiteral("/media/out/KorvoRecoverFile/%1.jpg").arg(i), verdicts[i], -1, -1);
        m_window->recoveryFinished(failed, "disk full", unreadable);
        QCOMPARE(m_harness.messages, QStringList{message});
        QCOMPARE(m_status->text(), status);
        QCOMPARE(m_info->text(), save_dir);
        QVERIFY(recover->isEnabled());
        QVERIFY(m_bar->isHidden());
    }

    void cancel_stops_the_reading_and_hides_itself()
    {
        auto *cancel = child<QPushButton>("button_cancle");
        cancel->show();
        scan_flag = 1;
        cancel->click();
        QCOMPARE(scan_flag, 0);
        QVERIFY(cancel->isHidden());
        scan_flag = 1;
    }
};

QTEST_MAIN(TestWindowScan)
#include "test_window_scan.moc"
