// Two instances of the program at once, as a user may start them: each
// works in a folder of its own, so that the second leaves the first one's
// work copies (and with them its previews) alone; the folders of instances
// that have ended are cleared at the next start.
#include <QProcess>
#include <QtTest>

#include <unistd.h>

class TestWindowInstances : public QObject
{
    Q_OBJECT
    QTemporaryDir m_tmp;
    QString m_user;  // TMPDIR/Korvo-<uid>
    std::vector<std::unique_ptr<QProcess>> m_running;

    QProcess *start()
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", m_tmp.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral(TESSARO_APP), QStringList());
        m_running.push_back(std::move(p));
        return m_running.back().get();
    }

    // The instance's work folder, once it has made and emptied it.
    QString folder_of(QProcess *p)
    {
        const QString folder = m_user + "/" + QString::number(p->processId());
        if (!QTest::qWaitFor([&] { return QFileInfo(folder).isDir(); }, 20000))
            return QString();
        // Start-up empties the folder, then waits a second.
        QTest::qWait(1500);
        return folder;
    }

    static void write(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("work copy") == 9);
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo(QStringLiteral(TESSARO_APP)).isExecutable())
            QSKIP("the program is not built");
        m_user = m_tmp.path() + "/Korvo-" + QString::number(getuid());
    }

    void cleanupTestCase()
    {
        for (auto &p : m_running) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(5000);
        }
    }

    void each_instance_keeps_to_its_own_folder()
    {
        // Left by an instance that has ended, and a folder that names none.
        QProcess gone;
        gone.start("sleep", QStringList{"0.1"});
        QVERIFY(gone.waitForStarted(5000));
        const qint64 gone_pid = gone.processId();
        QVERIFY(gone.waitForFinished(5000));
        const QString stale = m_user + "/" + QString::number(gone_pid);
        write(stale + "/3.mp4");
        write(m_user + "/not-a-process/keep.txt");

        QProcess *first = start();
        const QString first_folder = folder_of(first);
        QVERIFY2(!first_folder.isEmpty(), "the first instance made no work folder");
        QVERIFY2(!QFileInfo::exists(stale), "an ended instance's folder was left");
        QVERIFY(QFile::exists(m_user + "/not-a-process/keep.txt"));
        write(first_folder + "/0.mp4");  // as its scan would

        QProcess *second = start();
        const QString second_folder = folder_of(second);
        QVERIFY2(!second_folder.isEmpty(), "the second instance made no work folder");
        QVERIFY(second_folder != first_folder);
        QVERIFY2(QFile::exists(first_folder + "/0.mp4"), "the second instance emptied the first one's folder");
        QCOMPARE(first->state(), QProcess::Running);

        // The first ends without cleaning up; the next start clears it.
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QVERIFY(QFileInfo::exists(first_folder));
        QProcess *third = start();
        QVERIFY(!folder_of(third).isEmpty());
        QVERIFY2(!QFileInfo::exists(first_folder), "an ended instance's folder was left");
        QVERIFY(QFile::exists(second_folder));
    }
};

QTEST_GUILESS_MAIN(TestWindowInstances)
#include "test_window_instances.moc"
