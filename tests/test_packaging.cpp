// What the Debian package is made of: `cmake --install` into a scratch
// prefix lays out every file the package carries, and the desktop entry, the
// AppStream metadata and the manual pages pass their validators.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
};

Run run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

}  // namespace

class TestPackaging : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_prefix;

private slots:
    void initTestCase()
    {
        m_prefix = m_dir.filePath("usr");
        const Run install = run(CMAKE_COMMAND, {"--install", BUILD_DIR, "--prefix", m_prefix});
        QVERIFY2(install.status == 0, install.out.constData());
    }

    void install_lays_out_the_package_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : {"bin/tessaro", "bin/tessaro-cli", "share/applications/tessaro.desktop",
                                 "share/icons/hicolor/48x48/apps/tessaro.png",
                                 "share/icons/hicolor/scalable/apps/tessaro.svg",
                                 "share/metainfo/org.tessaro.tessaro.metainfo.xml", "share/man/man1/tessaro.1.gz",
                                 "share/man/man1/tessaro-cli.1.gz", "share/tessaro/docs/user-guide.html",
                                 "share/tessaro/docs/support.html"})
            QTest::newRow(file) << QString(file);
    }
    void install_lays_out_the_package()
    {
        QFETCH(QString, file);
        QVERIFY2(QFileInfo(m_prefix + "/" + file).isFile(), qPrintable(file));
    }

    void the_tool_tells_its_version()
    {
        const Run version = run(m_prefix + "/bin/tessaro-cli", {"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QByteArray("tessaro-cli " PROJECT_VERSION "\n"));
    }

    void validators_accept_the_metadata_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("desktop entry") << "desktop-file-validate"
                                       << QStringList{m_prefix + "/share/applications/tessaro.desktop"};
        QTest::newRow("AppStream") << "appstreamcli"
                                   << QStringList{"validate", "--no-net",
                                                  m_prefix + "/share/metainfo/org.tessaro.tessaro.metainfo.xml"};
    }
    void validators_accept_the_metadata()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + " is not installed (packages desktop-file-utils, appstream)"));
        const Run check = run(program, args);
        QVERIFY2(check.status == 0, check.out.constData());
    }

    void manual_pages_render_without_warnings_data()
    {
        QTest::addColumn<QString>("page");
        QTest::newRow("tessaro") << "tessaro.1.gz";
        QTest::newRow("tessaro-cli") << "tessaro-cli.1.gz";
    }
    void manual_pages_render_without_warnings()
    {
        QFETCH(QString, page);
        if (QStandardPaths::findExecutable("man").isEmpty())
            QSKIP("man is not installed");
        QProcess p;
        p.setProcessEnvironment([] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("MANWIDTH", "80");
            return env;
        }());
        p.start("man", {"--warnings", "-l", m_prefix + "/share/man/man1/" + page});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray warnings = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(warnings.isEmpty(), warnings.constData());
        QVERIFY(p.readAllStandardOutput().contains("SYNOPSIS"));
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "test_packaging.moc"
