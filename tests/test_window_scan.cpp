// The scan's slots in the window, driven with the values the scan thread
// sends: phase texts, the time line, the alternating detail line, the
// filled grids, the video grid's current cell and cancel.
#include "app/main_window.h"
#include "app/video_cell.h"
#include "preview/recovery.h"
#include "rebuild/video_plan.h"
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

    // Finds whose plans and lengths say the card holds all of them: one
    // chunk and the last, both located; photos walked to their end.
    static VideoPlan intact_plan()
    {
        VideoPlan plan;
        plan.table_chunks = 1;
        plan.chunks.resize(2);
        for (PlannedChunk &c : plan.chunks)
            c.located = ChunkSource::Frame;
        plan.tail = true;
        return plan;
    }
    static void set_intact_finds(int videos, int photos)
    {
        video_plans.assign(std::size_t(videos), intact_plan());
        photo_num = 0;
        for (int j = 0; j < photos; ++j) {
            append_photo(photo_num, std::uint64_t(j) * 65536);
            photo_list[std::uint32_t(j)].length = 4000;
            photo_list[std::uint32_t(j)].walked = true;
        }
    }

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

    // The time left comes from the rate the card has been read at so far,
    // over the bytes still to read; seconds always with two digits.
    void time_remaining_data()
    {
        QTest::addColumn<qulonglong>("done");
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QString>("left");
        const qulonglong GiB = 1ull << 30;
        QTest::newRow("a quarter in 10 s") << GiB / 4 << GiB << 10000 << "0:30";
        // The scan of the finding: 22 s in all, not 107 minutes.
        QTest::newRow("a fast reader") << GiB << 4 * GiB << 5500 << "0:17";
        QTest::newRow("five seconds left") << GiB / 2 << GiB / 2 + GiB / 20 << 50000 << "0:05";
        QTest::newRow("over an hour") << GiB << 512 * GiB << 10000 << "1:25:10";
        QTest::newRow("all read") << GiB << GiB << 9000 << "0:00";
        QTest::newRow("no rate yet") << GiB / 64 << GiB << 400 << "measuring";
        QTest::newRow("nothing read yet") << 0ull << GiB << 3000 << "measuring";
    }

    void time_remaining()
    {
        QFETCH(qulonglong, done);
        QFETCH(qulonglong, size);
        QFETCH(int, elapsedMs);
        QFETCH(QString, left);
        select_disk = disk_num;  // the image
        image_size = size;
        m_harness.now = elapsedMs;  // the scan began at 0
        m_window->UpdateSlot_anay_size_createimageaa(done);
        QCOMPARE(m_time->text(), QStringLiteral("Time remaining: %1        Reading sector : %2/%3").arg(left).arg(done).arg(size));
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
        set_intact_finds(videos, photos);
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
                // The caption begins with the file's number.
                QVERIFY2(item->text().startsWith(QString::number(n) + QStringLiteral(" · ")), qPrintable(item->text()));
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

    // A find the card does not hold whole carries its verdict on its
    // thumbnail and in its tooltip; an intact one shows its thumbnail as is.
    void badges_mark_what_is_not_intact()
    {
        QDir(temp_dir).removeRecursively();
        QDir().mkpath(temp_dir);
        for (int n = 0; n < 3; ++n)
            write_png(temp_dir + QString::number(n) + ".png", QColor(30, 30, 200));
        video_total = 3;
        set_intact_finds(3, 0);
        video_plans[1].chunks[1].located = ChunkSource::None;  // the last chunk lost
        video_plans[2].error = "no moov box";
        code(20001);
        auto *grid = child<QTableWidget>("tableWidget_2");
        const QImage thumbnail = picture(temp_dir + "0.png");
        QCOMPARE(icon_image(grid->item(0, 0)), thumbnail);
        for (int n : {1, 2}) {
            const QImage shown = icon_image(grid->item(0, n));
            QCOMPARE(shown.size(), thumbnail.size());
            QVERIFY2(shown != thumbnail, qPrintable(QString("video %1 has no badge").arg(n)));
        }
        QVERIFY2(grid->item(0, 0)->toolTip().endsWith("What the card holds of it: intact"), qPrintable(grid->item(0, 0)->toolTip()));
        QVERIFY2(grid->item(0, 1)->toolTip().endsWith("What the card holds of it: partial: 1 of 2 chunks"),
                 qPrintable(grid->item(0, 1)->toolTip()));
        QVERIFY2(grid->item(0, 2)->toolTip().endsWith("What the card holds of it: empty"), qPrintable(grid->item(0, 2)->toolTip()));
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

    // Running counts move the bar; the status line names a file only once
    // it was written, never the next one (the finding's "4.mp4" after 0 to
    // 3); only the end notice finishes, even where a count is 100.
    void recovery_progress()
    {
        save_dir = "/media/out/KorvoRecoverFile";
        auto *recover = child<QPushButton>("button_recover");
        recover->setEnabled(false);
        m_bar->show();
        m_harness.messages.clear();
        m_harness.questions.clear();
        m_time->setText(QString());
        const struct { std::uint32_t total; int written, bar; } steps[] = {{3, 1, 33}, {3, 2, 66}, {3, 3, 100}, {250, 100, 40}};
        for (const auto &s : steps) {
            video_total = s.total;
            m_window->UpdateSlot_recv(s.written);
            QCOMPARE(m_bar->value(), s.bar);
            QCOMPARE(m_time->text(), QString());
        }
        m_window->recoveryFileWritten("/media/out/KorvoRecoverFile/3.mp4", true, QString());
        QCOMPARE(m_time->text(), QStringLiteral("/media/out/KorvoRecoverFile/3.mp4"));
        m_window->recoveryFileWritten("/media/out/KorvoRecoverFile/0.jpg", false, "disk full");
        QCOMPARE(m_time->text(), QStringLiteral("/media/out/KorvoRecoverFile/0.jpg (not written completely)"));
        QVERIFY(m_harness.messages.isEmpty() && m_harness.questions.isEmpty());
        QVERIFY(!recover->isEnabled());
        QVERIFY(!m_bar->isHidden());
    }

    // The verdicts of the files come before the end notice; the notice
    // counts videos and photos by verdict, and forgets them for the next
    // run (rows that follow a partial one finish plainly). Its second
    // answer opens the folder.
    void recovery_end_data()
    {
        QTest::addColumn<QStringList>("videos");  // verdicts
        QTest::addColumn<QStringList>("photos");
        QTest::addColumn<int>("failed");
        QTest::addColumn<qulonglong>("unreadable");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        const QString done = "Recovering video file finished !";
        const QString into = " written into /media/out/KorvoRecoverFile.";
        const QString lacking = "A partial file lacks parts that were not found on the card.";
        const QString nothing = "An empty file holds nothing of what it was: none of it was found on the card.";
        const QStringList none, intact{"intact"}, two_intact{"intact", "intact"};
        QTest::newRow("all intact") << two_intact << intact << 0 << 0ull
                                    << "Finished: 2 videos and 1 photo" + into + "\nVideos: 2 intact.\nPhotos: 1 intact."
                                    << done;
        QTest::newRow("a partial video")
                << QStringList{"intact", "partial"} << two_intact << 0 << 0ull
                << "Finished: 2 videos and 2 photos" + into + "\nVideos: 1 intact, 1 partial.\nPhotos: 2 intact.\n" + lacking
                << done;
        QTest::newRow("all intact after a partial one")
                << two_intact << none << 0 << 0ull << "Finished: 2 videos and 0 photos" + into + "\nVideos: 2 intact."
                << done;
        QTest::newRow("an empty video, a partial photo")
                << QStringList{"empty"} << QStringList{"partial", "intact"} << 0 << 0ull
                << "Finished: 1 video and 2 photos" + into + "\nVideos: 1 empty.\nPhotos: 1 intact, 1 partial.\n"
                           + lacking + "\n" + nothing
                << done;
        QTest::newRow("only photos") << none << intact << 0 << 0ull
                                     << "Finished: 0 videos and 1 photo" + into + "\nPhotos: 1 intact." << done;
        QTest::newRow("unreadable card ranges")
                << intact << none << 0 << 98304ull
                << "Finished: 1 video and 0 photos" + into
                           + "\nVideos: 1 intact.\n98304 bytes of the card could not be read; they were written as zeros."
                << done;
        QTest::newRow("files not written")
                << QStringList{"partial", "intact"} << none << 2 << 0ull
                << "2 file(s) could not be written completely into /media/out/KorvoRecoverFile: disk full\nVideos: 1 "
                   "intact, 1 partial.\n" + lacking
                << "Recovering finished with errors !";
    }

    void recovery_end()
    {
        QFETCH(QStringList, videos);
        QFETCH(QStringList, photos);
        QFETCH(int, failed);
        QFETCH(qulonglong, unreadable);
        QFETCH(QString, message);
        QFETCH(QString, status);
        save_dir = "/media/out/KorvoRecoverFile";
        auto *recover = child<QPushButton>("button_recover");
        recover->setEnabled(false);
        m_bar->show();
        m_harness.messages.clear();
        m_harness.questions.clear();
        m_harness.answers.clear();
        m_harness.urls.clear();
        for (int i = 0; i < videos.size(); ++i)
            m_window->recoveryFileJudged(QStringLiteral("/media/out/KorvoRecoverFile/%1.mp4").arg(i), videos[i], 3, 3);
        for (int i = 0; i < photos.size(); ++i)
            m_window->recoveryFileJudged(QStringLiteral("/media/out/KorvoRecoverFile/%1.jpg").arg(i), photos[i], -1, -1);
        m_harness.choiceAnswer = 1;  // "Open folder"
        m_window->recoveryFinished(failed, "disk full", unreadable);
        m_harness.choiceAnswer = 0;
        QCOMPARE(m_harness.questions, QStringList{message});
        QCOMPARE(m_harness.answers.value(0), (QStringList{"OK", "Open folder"}));
        QCOMPARE(m_harness.urls, QList<QUrl>{QUrl::fromLocalFile(save_dir)});
        QVERIFY(m_harness.messages.isEmpty());
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
