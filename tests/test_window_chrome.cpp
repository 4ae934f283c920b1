// What stands in for a window frame: the painted panel and shadow, dragging,
// the help menu and its pages, close and minimise.
#include "app/main_window.h"
#include "app/menu_button.h"
#include "scan/work_folder.h"
#include "test_window_harness.h"

#include <QMenu>
#include <QtTest>

class TestWindowChrome : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    WindowHarness m_harness;
    std::unique_ptr<MainWindow> m_window;
    QLabel *m_titleBar = nullptr;

    // Mouse events as the window system delivers them: to the widget under
    // the cursor, from where they propagate to the window.
    void mouse(QWidget *target, QEvent::Type type, const QPoint &global, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, target->mapFromGlobal(global), global, button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    void press(const QPoint &global, Qt::MouseButton button, QWidget *on = nullptr)
    {
        mouse(on ? on : m_titleBar, QEvent::MouseButtonPress, global, button, button);
    }
    void release(const QPoint &global, Qt::MouseButton button, Qt::MouseButtons still_held = Qt::NoButton)
    {
        mouse(m_titleBar, QEvent::MouseButtonRelease, global, button, still_held);
    }
    void moveTo(const QPoint &global, Qt::MouseButtons held, QWidget *on = nullptr)
    {
        mouse(on ? on : m_titleBar, QEvent::MouseMove, global, Qt::NoButton, held);
    }

private slots:
    void initTestCase()
    {
        temp_dir = m_dir.filePath("work/");
        m_window = std::make_unique<MainWindow>(nullptr, m_harness.seams());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_titleBar = m_window->findChild<QLabel *>("label");
    }

    void init()
    {
        m_window->move(40, 30);
        release(m_titleBar->mapToGlobal(QPoint(1, 1)), Qt::LeftButton);
    }

    void drag_moves_the_window_and_keeps_the_grip()
    {
        const QPoint start = m_window->pos();
        const QPoint grip = m_titleBar->mapToGlobal(QPoint(300, 15));
        press(grip, Qt::LeftButton);
        moveTo(grip + QPoint(40, 20), Qt::LeftButton);
        moveTo(grip + QPoint(100, 50), Qt::LeftButton);
        release(grip + QPoint(100, 50), Qt::LeftButton);
        QCOMPARE(m_window->pos(), start + QPoint(100, 50));
        QCOMPARE(m_titleBar->mapToGlobal(QPoint(300, 15)), grip + QPoint(100, 50));
        moveTo(grip + QPoint(200, 200), Qt::NoButton);
        QCOMPARE(m_window->pos(), start + QPoint(100, 50));
    }

    void drag_is_not_clamped_to_the_screen()
    {
        const QPoint grip = m_titleBar->mapToGlobal(QPoint(300, 15));
        press(grip, Qt::LeftButton);
        moveTo(grip - QPoint(800, 400), Qt::LeftButton);
        release(grip - QPoint(800, 400), Qt::LeftButton);
        QCOMPARE(m_window->pos(), QPoint(40 - 800, 30 - 400));
    }

    void right_button_does_not_drag()
    {
        const QPoint grip = m_titleBar->mapToGlobal(QPoint(300, 15));
        press(grip, Qt::RightButton);
        moveTo(grip + QPoint(100, 50), Qt::RightButton);
        QCOMPARE(m_window->pos(), QPoint(40, 30));
        release(grip + QPoint(100, 50), Qt::RightButton);
    }

    void any_release_ends_the_drag()
    {
        const QPoint grip = m_titleBar->mapToGlobal(QPoint(300, 15));
        press(grip, Qt::LeftButton);
        moveTo(grip + QPoint(10, 10), Qt::LeftButton);
        QCOMPARE(m_window->pos(), QPoint(50, 40));
        release(grip + QPoint(10, 10), Qt::RightButton, Qt::LeftButton);
        moveTo(grip + QPoint(100, 50), Qt::LeftButton);
        QCOMPARE(m_window->pos(), QPoint(50, 40));
    }

    void pressing_a_button_does_not_drag()
    {
        auto *scan = m_window->findChild<QPushButton *>("pushButton_scan");
        const QPoint grip = scan->mapToGlobal(QPoint(40, 40));
        press(grip, Qt::LeftButton, scan);
        moveTo(grip + QPoint(100, 50), Qt::LeftButton, scan);
        mouse(scan, QEvent::MouseButtonRelease, grip + QPoint(100, 50), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(m_window->pos(), QPoint(40, 30));
    }

    // A white 900 x 635 panel inside a shadow that fades out over ten pixels.
    void panel_and_shadow()
    {
        QImage image(m_window->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        m_window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        QCOMPARE(image.pixelColor(450, 640), QColor(Qt::white));
        QCOMPARE(image.pixelColor(12, 640), QColor(Qt::white));
        int previous = 256;
        for (int x = 9; x >= 0; --x) {
            const QColor c = image.pixelColor(x, 400);
            QCOMPARE(c.red() + c.green() + c.blue(), 0);
            QVERIFY2(c.alpha() <= previous, qPrintable(QString("alpha at x %1").arg(x)));
            previous = c.alpha();
        }
        QVERIFY(image.pixelColor(9, 400).alpha() >= 100);
        QVERIFY(image.pixelColor(0, 400).alpha() <= 8);
        QCOMPARE(image.pixelColor(919, 654).alpha(), 0);
    }

    void menu_opens_below_its_button()
    {
        m_window->move(-700, 0);  // the offscreen screen is small
        auto *button = m_window->findChild<QMenuButton *>("pushButton_xiala");
        QPoint shownAt;
        QTimer::singleShot(0, this, [&] {
            QWidget *popup = QApplication::activePopupWidget();
            if (popup) {
                shownAt = popup->pos();
                popup->close();
            }
        });
        button->click();
        QCOMPARE(shownAt, button->mapToGlobal(QPoint(0, button->height())));
    }

    void menu_entries_open_the_local_pages()
    {
        QMenu *menu = m_window->findChild<QMenuButton *>("pushButton_xiala")->menu();
        m_harness.urls.clear();
        for (QAction *entry : menu->actions())
            entry->trigger();
        QCOMPARE(m_harness.urls.size(), 3);
        const QUrl guide = m_harness.urls[0], support = m_harness.urls[1];
        QCOMPARE(m_harness.urls[2], guide);  // "Homepage" opens the guide too
        QVERIFY(guide != support);
        for (const QUrl &url : {guide, support}) {
            QVERIFY(url.isLocalFile());
            QVERIFY2(QFileInfo(url.toLocalFile()).isFile(), qPrintable(url.toString()));
        }
        QCOMPARE(QFileInfo(guide.toLocalFile()).fileName(), QStringLiteral("user-guide.html"));
        QCOMPARE(QFileInfo(support.toLocalFile()).fileName(), QStringLiteral("support.html"));
    }

    void minimise_and_close()
    {
        m_window->findChild<QPushButton *>("pushButton_min")->click();
        QVERIFY(m_window->windowState() & Qt::WindowMinimized);
        m_window->showNormal();
        m_window->findChild<QPushButton *>("pushButton_topclose")->click();
        QVERIFY(!m_window->isVisible());
    }
};

QTEST_MAIN(TestWindowChrome)
#include "test_window_chrome.moc"
