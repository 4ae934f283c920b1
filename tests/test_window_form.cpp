// The main window's form as built by setupUi: every widget with its class,
// parent, geometry, font, colour, text and style sheet, and the artwork.
#include "app/menu_button.h"
#include "ui_main_window.h"

#include <QMenu>
#include <QtTest>

static void init_artwork()
{
    Q_INIT_RESOURCE(resources);
}

class TestWindowForm : public QObject
{
    Q_OBJECT
    QMainWindow m_window;
    Ui_MainWindow m_ui;

    QWidget *widget(const QString &name) { return m_window.findChild<QWidget *>(name); }

private slots:
    void initTestCase()
    {
        init_artwork();
        m_ui.setupUi(&m_window);
    }

    void window()
    {
        QCOMPARE(m_window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(m_window.size(), QSize(920, 655));
        QCOMPARE(m_window.windowTitle(), QStringLiteral("Tessaro"));
        QCOMPARE(m_window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
        QCOMPARE(m_window.menuBar()->objectName(), QStringLiteral("menuBar"));
        QVERIFY(m_window.menuBar()->actions().isEmpty());
        QCOMPARE(m_ui.stackedWidget->count(), 2);
        QCOMPARE(m_ui.stackedWidget->widget(0)->objectName(), QStringLiteral("page"));
        QCOMPARE(m_ui.stackedWidget->widget(1)->objectName(), QStringLiteral("page_2"));
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char *name, const char *cls, const char *parent, int x, int y, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(cls) << QString::fromLatin1(parent) << QRect(x, y, w, h);
        };
        row("label", "QLabel", "centralWidget", 10, 0, 900, 32);
        row("pushButton_topclose", "QPushButton", "centralWidget", 880, 5, 29, 24);
        row("pushButton_min", "QPushButton", "centralWidget", 850, 5, 29, 24);
        row("pushButton_xiala", "QMenuButton", "centralWidget", 820, 5, 29, 24);
        row("pushButton_tubiao", "QPushButton", "centralWidget", 20, 5, 25, 25);
        row("label_3", "QLabel", "centralWidget", 50, 5, 291, 21);
        row("stackedWidget", "QStackedWidget", "centralWidget", 10, 32, 920, 601);
        row("label_2", "QLabel", "page", 0, 0, 900, 301);
        row("tableWidget", "QTableWidget", "page", 2, 300, 898, 171);
        row("pushButton_scan", "QPushButton", "page", 380, 490, 88, 88);
        row("pushButton_create", "QPushButton", "page", 760, 540, 60, 60);
        row("pushButton_load", "QPushButton", "page", 830, 540, 60, 60);
        row("label_4", "QLabel", "page", 400, 580, 54, 21);
        row("line", "QFrame", "page", 2, 480, 897, 3);
        row("progressBar_cc", "QProgressBar", "page", 0, 295, 900, 8);
        row("label_create", "QLabel", "page", 10, 270, 631, 16);
        row("label_5", "QLabel", "page_2", 0, 0, 900, 77);
        row("tableWidget_2", "QTableWidget", "page_2", 60, 120, 780, 192);
        row("tableWidget_3", "QTableWidget", "page_2", 60, 370, 780, 192);
        row("pushButton_sec_tubiao", "QPushButton", "page_2", 5, 6, 64, 64);
        row("label_scan_status", "QLabel", "page_2", 90, 15, 601, 16);
        row("label_scan_info", "QLabel", "page_2", 90, 30, 591, 21);
        row("button_cancle", "QPushButton", "page_2", 710, 20, 75, 23);
        row("button_preview", "QPushButton", "page_2", 710, 50, 75, 23);
        row("button_recover", "QPushButton", "page_2", 800, 50, 75, 23);
        row("label_scan_time", "QLabel", "page_2", 90, 50, 601, 21);
        row("progressBar_creatimage", "QProgressBar", "page_2", 0, 80, 900, 7);
        row("line_2", "QFrame", "page_2", 0, 117, 900, 3);
        row("line_3", "QFrame", "page_2", 0, 360, 900, 3);
        row("label_6", "QLabel", "page_2", 30, 90, 21, 21);
        row("label_7", "QLabel", "page_2", 30, 330, 21, 21);
        row("label_video_info", "QLabel", "page_2", 60, 90, 481, 21);
        row("label_photo_info", "QLabel", "page_2", 60, 330, 481, 21);
    }

    void widgets()
    {
        QFETCH(QString, className);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QWidget *w = widget(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), geometry);
    }

    void children_in_table_order()
    {
        const auto names = [](QWidget *parent) {
            QStringList l;
            for (QObject *o : parent->children())
                if (o->isWidgetType())
                    l << o->objectName();
            return l;
        };
        QCOMPARE(names(m_ui.centralWidget), (QStringList{"label", "pushButton_topclose", "pushButton_min", "pushButton_xiala",
                                                         "pushButton_tubiao", "label_3", "stackedWidget"}));
        QCOMPARE(names(m_ui.page), (QStringList{"label_2", "tableWidget", "pushButton_scan", "pushButton_create", "pushButton_load",
                                                "label_4", "line", "progressBar_cc", "label_create"}));
        QCOMPARE(names(m_ui.page_2),
                 (QStringList{"label_5", "tableWidget_2", "tableWidget_3", "pushButton_sec_tubiao", "label_scan_status",
                              "label_scan_info", "button_cancle", "button_preview", "button_recover", "label_scan_time",
                              "progressBar_creatimage", "line_2", "line_3", "label_6", "label_7", "label_video_info",
                              "label_photo_info"}));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("label_3") << "Tessaro 3.2.0.2";
        QTest::newRow("label_4") << "scan";
        QTest::newRow("label_scan_status") << "TextLabel";
        QTest::newRow("label_scan_info") << "TextLabel";
        QTest::newRow("label_scan_time") << "TextLabel";
        QTest::newRow("button_cancle") << "Cancel";
        QTest::newRow("button_preview") << "Preview";
        QTest::newRow("button_recover") << "Recover";
        QTest::newRow("label_video_info") << "Total found    video";
        QTest::newRow("label_photo_info") << "Total found  photo";
        for (const char *empty : {"label", "pushButton_topclose", "pushButton_min", "pushButton_xiala", "pushButton_tubiao",
                                  "label_2", "pushButton_scan", "pushButton_create", "pushButton_load", "label_create", "label_5",
                                  "pushButton_sec_tubiao", "label_6", "label_7"})
            QTest::newRow(empty) << QString();
    }

    void texts()
    {
        QFETCH(QString, text);
        QWidget *w = widget(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(w);
        QCOMPARE(w->property("text").toString(), text);
    }

    void fonts_data()
    {
        QTest::addColumn<int>("pointSize");  // -1: the default size
        QTest::addColumn<bool>("bold");
        QTest::newRow("tableWidget") << 9 << false;
        QTest::newRow("label_3") << 10 << false;
        QTest::newRow("label_4") << 14 << false;
        QTest::newRow("label_create") << -1 << false;
        QTest::newRow("label_scan_status") << 11 << true;
        QTest::newRow("label_scan_info") << 10 << false;
        QTest::newRow("button_cancle") << 10 << false;
        QTest::newRow("button_preview") << 10 << false;
        QTest::newRow("button_recover") << 10 << false;
        QTest::newRow("label_scan_time") << 10 << false;
        QTest::newRow("label_video_info") << 10 << false;
        QTest::newRow("label_photo_info") << 10 << false;
    }

    void fonts()
    {
        QFETCH(int, pointSize);
        QFETCH(bool, bold);
        const QFont font = widget(QString::fromLatin1(QTest::currentDataTag()))->font();
        QCOMPARE(font.family(), QStringLiteral("Arial"));
        QCOMPARE(font.pointSize(), pointSize == -1 ? QApplication::font().pointSize() : pointSize);
        QCOMPARE(font.bold(), bold);
        QVERIFY(!font.italic());
    }

    void colours_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const int text = QPalette::WindowText, dark = QPalette::Dark;
        QTest::newRow("label_3") << text << QColor(255, 255, 255);
        QTest::newRow("label_4") << text << QColor(140, 140, 140);
        QTest::newRow("label_create") << text << QColor(255, 255, 255);
        QTest::newRow("label_scan_status") << text << QColor(255, 255, 255);
        QTest::newRow("label_scan_info") << text << QColor(206, 194, 17);
        QTest::newRow("label_scan_time") << text << QColor(206, 194, 17);
        QTest::newRow("line") << dark << QColor(240, 240, 240);
        QTest::newRow("line_2") << dark << QColor(240, 240, 240);
        QTest::newRow("line_3") << dark << QColor(240, 240, 240);
    }

    void colours()
    {
        QFETCH(int, role);
        QFETCH(QColor, colour);
        const QPalette p = widget(QString::fromLatin1(QTest::currentDataTag()))->palette();
        const auto r = static_cast<QPalette::ColorRole>(role);
        QCOMPARE(p.color(QPalette::Active, r), colour);
        QCOMPARE(p.color(QPalette::Inactive, r), colour);
        if (role == QPalette::WindowText)
            QCOMPARE(p.color(QPalette::Disabled, r), QColor(120, 120, 120));
    }

    void style_sheets_data()
    {
        QTest::addColumn<QString>("sheet");
        const auto two = [](const char *a, const char *b) {
            return QStringLiteral("QPushButton{border-image: url(:/%1);}\nQPushButton:hover{border-image: url(:/%2);}")
                    .arg(QLatin1String(a), QLatin1String(b));
        };
        QTest::newRow("pushButton_topclose") << two("topclose.png", "topclose2.png");
        QTest::newRow("pushButton_min") << two("topmin.png", "topmin2.png");
        QTest::newRow("pushButton_xiala") << two("xia2.png", "topxiala2.png");
        QTest::newRow("pushButton_tubiao") << "QPushButton{border-image: url(:/tubiao.png);}\nbackground:transparent;";
        QTest::newRow("pushButton_scan") << two("search3.png", "search4.png");
        QTest::newRow("pushButton_create") << two("create.png", "create1.png");
        QTest::newRow("pushButton_load") << two("load.png", "load1.png");
        QTest::newRow("pushButton_sec_tubiao") << "QPushButton{border-image: url(:/Search _2.png);}";
    }

    void style_sheets()
    {
        QFETCH(QString, sheet);
        QCOMPARE(widget(QString::fromLatin1(QTest::currentDataTag()))->styleSheet(), sheet);
    }

    void label_pictures_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::newRow("label") << ":/top.png";
        QTest::newRow("label_2") << ":/back003.png";
        QTest::newRow("label_5") << ":/2-1back.png";
        QTest::newRow("label_6") << ":/state_ok.png";
        QTest::newRow("label_7") << ":/state_ok.png";
    }

    void label_pictures()
    {
        QFETCH(QString, resource);
        auto *label = qobject_cast<QLabel *>(widget(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(label);
        const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
        QVERIFY(!shown.isNull());
        QCOMPARE(shown, QImage(resource).convertToFormat(shown.format()));
    }

    void lists_bars_and_lines()
    {
        QCOMPARE(m_ui.tableWidget->lineWidth(), 1);
        QCOMPARE(m_ui.tableWidget->iconSize(), QSize(35, 35));
        QCOMPARE(m_ui.tableWidget->verticalHeader()->defaultSectionSize(), 45);
        QCOMPARE(m_ui.tableWidget->verticalHeader()->minimumSectionSize(), 45);
        for (QTableWidget *grid : {m_ui.tableWidget_2, m_ui.tableWidget_3}) {
            QCOMPARE(grid->frameShape(), QFrame::NoFrame);
            QCOMPARE(grid->iconSize(), QSize(160, 160));
        }
        QVERIFY(m_ui.tableWidget_2->showGrid());
        QCOMPARE(m_ui.tableWidget_2->gridStyle(), Qt::SolidLine);
        for (QProgressBar *bar : {m_ui.progressBar_cc, m_ui.progressBar_creatimage}) {
            QCOMPARE(bar->value(), 0);
            QVERIFY(!bar->isTextVisible());
        }
        for (QFrame *line : {m_ui.line, m_ui.line_2, m_ui.line_3}) {
            QCOMPARE(line->frameShape(), QFrame::HLine);
            QCOMPARE(line->frameShadow(), QFrame::Sunken);
        }
    }

    void menu_button_owns_its_menu()
    {
        QMenu *menu = m_ui.pushButton_xiala->menu();
        QVERIFY(menu);
        QCOMPARE(menu->parent(), m_ui.pushButton_xiala);
        QVERIFY(menu->actions().isEmpty());
    }

    // Every picture at the pixel size it is drawn for; hover pictures differ
    // from their normal ones.
    void artwork_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("hover");
        const auto row = [](const char *name, int w, int h, const char *hover = "") {
            QTest::newRow(name) << QSize(w, h) << QString::fromLatin1(hover);
        };
        row(":/top.png", 900, 35);
        row(":/topclose.png", 29, 24, ":/topclose2.png");
        row(":/topmin.png", 29, 22, ":/topmin2.png");
        row(":/xia2.png", 29, 22, ":/topxiala2.png");
        row(":/tubiao.png", 160, 160);
        row(":/back003.png", 900, 350);
        row(":/disk.png", 512, 512);
        row(":/search3.png", 512, 512, ":/search4.png");
        row(":/create.png", 128, 128, ":/create1.png");
        row(":/load.png", 128, 128, ":/load1.png");
        row(":/2-1back.png", 900, 77);
        row(":/Search _2.png", 64, 64);
        row(":/state_ok.png", 21, 21);
        row(":/mm.png", 120, 90);
        row(":/image.png", 256, 256);
        for (int s : {16, 22, 24, 32, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QStringLiteral(":/icons/tessaro-%1.png").arg(s))) << QSize(s, s) << QString();
    }

    void artwork()
    {
        QFETCH(QSize, size);
        QFETCH(QString, hover);
        const QImage normal(QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(normal.size(), size);
        if (hover.isEmpty())
            return;
        const QImage lit = QImage(hover).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(lit.size(), size);
        const QImage plain = normal.convertToFormat(QImage::Format_ARGB32);
        int differing = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                differing += plain.pixel(x, y) != lit.pixel(x, y);
        QVERIFY2(differing * 10 >= size.width() * size.height(), "the hover picture barely differs");
    }
};

QTEST_MAIN(TestWindowForm)
#include "test_window_form.moc"
