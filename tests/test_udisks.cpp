// Reading a card through udisks2: the client against a stand-in daemon on a
// private bus (every machine with dbus-daemon), the command-line tool run as
// a user without rights to the card (root, a loop device), and the real
// udisksd and polkitd on a private bus (root, when they can start here).
#include "card_builder/card_writer.h"
#include "card_builder/photo_headers.h"
#include "drives/device_open.h"
#include "support/temp_image.h"
#include "support/test_jpeg.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace card;

namespace {

const QString SERVICE = "org.freedesktop.UDisks2";
const QString NOT_AUTHORIZED = "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain";

// A dbus-daemon of the test's own that any user may connect to, so that the
// tool run as another user reaches it too.
class PrivateBus
{
public:
    PrivateBus()
    {
        if (!m_dir.isValid() || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            return;
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                    | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        const QString config = m_dir.filePath("bus.conf");
        QFile f(config);
        f.open(QIODevice::WriteOnly);
        f.write(QString("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                        "<busconfig>\n"
                        "  <listen>unix:dir=%1</listen>\n"
                        "  <auth>EXTERNAL</auth>\n"
                        "  <policy context=\"default\">\n"
                        "    <allow user=\"*\"/>\n"
                        "    <allow own=\"*\"/>\n"
                        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                        "    <allow eavesdrop=\"true\"/>\n"
                        "  </policy>\n"
                        "</busconfig>\n").arg(m_dir.path()).toUtf8());
        f.close();
        m_daemon.start("dbus-daemon", {"--config-file=" + config, "--print-address=1", "--nofork"});
        if (!m_daemon.waitForStarted())
            return;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
        }
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    QString address;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

// What the stand-in daemon does and what it was asked. Set by the test,
// read and written by the daemon's thread.
struct Script {
    QMutex mutex;
    QString device;               // the one device it knows
    QString handed;               // what its descriptor opens
    int flags = O_RDONLY;         // how it opens it
    bool resolve = true;          // whether it has Manager.ResolveDevice
    bool open_device = true;      // whether it has Block.OpenDevice (else OpenForBackup only)
    QString refusal;              // an error to answer the open with
    int opens = 0;
    QString method, mode;
    QVariantMap options;
    bool interactive = false;     // whether the caller allowed a password prompt
};

QString object_for(const QString &device)
{
    // udisks2's escaping of the kernel name, '.' as _2e.
    return "/org/freedesktop/UDisks2/block_devices/" + QFileInfo(device).fileName().replace('.', "_2e");
}

class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Manager")
public:
    explicit FakeManager(Script *script) : m_script(script) {}

public slots:
    QList<QDBusObjectPath> ResolveDevice(const QVariantMap &devspec, const QVariantMap &)
    {
        QMutexLocker lock(&m_script->mutex);
        if (!m_script->resolve) {
            sendErrorReply(QDBusError::UnknownMethod, "No such method");
            return {};
        }
        if (devspec.value("path").toString() != m_script->device)
            return {};
        return {QDBusObjectPath(object_for(m_script->device))};
    }

private:
    Script *m_script;
};

class FakeBlock : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Block")
    Q_PROPERTY(QByteArray Device READ device)
public:
    explicit FakeBlock(Script *script) : m_script(script) {}
    QByteArray device() const
    {
        QMutexLocker lock(&m_script->mutex);
        return QFile::encodeName(m_script->device) + '\0';
    }

public slots:
    QDBusUnixFileDescriptor OpenDevice(const QString &mode, const QVariantMap &options)
    {
        QMutexLocker lock(&m_script->mutex);
        if (!m_script->open_device) {
            sendErrorReply(QDBusError::UnknownMethod, "No such method");
            return {};
        }
        m_script->mode = mode;
        return hand_out("OpenDevice", options);
    }
    QDBusUnixFileDescriptor OpenForBackup(const QVariantMap &options)
    {
        QMutexLocker lock(&m_script->mutex);
        return hand_out("OpenForBackup", options);
    }

private:
    QDBusUnixFileDescriptor hand_out(const QString &method, const QVariantMap &options)
    {
        m_script->opens++;
        m_script->method = method;
        m_script->options = options;
        m_script->interactive = message().isInteractiveAuthorizationAllowed();
        if (!m_script->refusal.isEmpty()) {
            sendErrorReply(m_script->refusal, "Not authorized to perform operation");
            return {};
        }
        const int fd = ::open(QFile::encodeName(m_script->handed).constData(), m_script->flags | O_CLOEXEC);
        QDBusUnixFileDescriptor handed(fd);  // a copy of its own
        ::close(fd);
        return handed;
    }
    Script *m_script;
};

// The stand-in daemon, serving from a thread of its own while the test's
// thread waits in the client's blocking calls.
class FakeUdisks
{
public:
    explicit FakeUdisks(const QString &address)
        : m_bus(QDBusConnection::connectToBus(address, "fake-udisks")), m_manager(&script), m_block(&script)
    {
        m_manager.moveToThread(&m_thread);
        m_block.moveToThread(&m_thread);
        m_thread.start();
        m_bus.registerObject("/org/freedesktop/UDisks2/Manager", &m_manager, QDBusConnection::ExportAllSlots);
    }
    ~FakeUdisks()
    {
        m_bus.unregisterService(SERVICE);
        m_bus.unregisterObject("/org/freedesktop/UDisks2/Manager");
        m_bus.unregisterObject(m_object);
        m_thread.quit();
        m_thread.wait();
        QDBusConnection::disconnectFromBus("fake-udisks");
    }
    // Knows `device` and hands out `handed`, read-only, with every method.
    void reset(const QString &device, const QString &handed)
    {
        m_bus.unregisterObject(m_object);
        {
            QMutexLocker lock(&script.mutex);
            script.device = device;
            script.handed = handed;
            script.flags = O_RDONLY;
            script.resolve = script.open_device = true;
            script.refusal.clear();
            script.opens = 0;
            script.method.clear();
            script.mode.clear();
            script.options.clear();
            script.interactive = false;
        }
        m_object = object_for(device);
        m_bus.registerObject(m_object, &m_block, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        m_bus.registerService(SERVICE);
    }
    void stop_serving() { m_bus.unregisterService(SERVICE); }
    bool connected() const { return m_bus.isConnected(); }
    Script script;

private:
    QDBusConnection m_bus;
    QThread m_thread;
    FakeManager m_manager;
    FakeBlock m_block;
    QString m_object;
};

QByteArray read_all(int fd)
{
    QByteArray data;
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n <= 0)
            return data;
        data.append(buf, int(n));
        at += n;
    }
}

struct Run {
    int status = -1;
    QByteArray out, err;
};

// The command-line tool as `uid`, which may not open the card itself.
Run cli_as(uid_t uid, const QStringList &args, const QString &bus, const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("TMPDIR", home);
    env.insert("TESSARO_SYSTEM_BUS_ADDRESS", bus);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home);
    const QString id = QString::number(uid);
    p.start("setpriv", QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", TESSARO_CLI} + args);
    // The stand-in daemon answers on its own thread; nothing here needs the event loop.
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// A loop device of `file`, detached when the guard goes.
class Loop
{
public:
    explicit Loop(const QString &file)
    {
        QProcess p;
        p.start("losetup", {"--find", "--show", "--read-only", file});
        p.waitForFinished();
        if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            device = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }
    ~Loop()
    {
        if (!device.isEmpty())
            QProcess::execute("losetup", {"-d", device});
    }
    QString device;
};

// A daemon started in a mount namespace of its own, after `setup`, killed
// with the guard.
class Daemon
{
public:
    Daemon(const QString &setup, const QString &program, const QStringList &args, const QString &bus)
    {
        m_log.open();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", bus);
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_log.fileName());
        QStringList quoted;
        for (const QString &a : QStringList{program} + args)
            quoted << "'" + a + "'";
        m_process.start("unshare", {"--mount", "--propagation", "private", "sh", "-ec",
                                    setup + "\nexec " + quoted.join(' ')});
    }
    ~Daemon()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Why it did not start: the end of what it said.
    QString said() const
    {
        QFile f(m_log.fileName());
        f.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(f.readAll().right(400)).trimmed();
    }

private:
    QTemporaryFile m_log{QDir::tempPath() + "/test_udisks-daemon-XXXXXX"};
    QProcess m_process;
};

bool wait_for_name(const QString &address, const QString &name, const QString &connection)
{
    QDBusConnection bus = QDBusConnection::connectToBus(address, connection);
    bool up = false;
    for (int i = 0; i < 150 && !up; ++i) {
        up = bus.interface() && bus.interface()->isServiceRegistered(name).value();
        if (!up)
            QThread::msleep(100);
    }
    QDBusConnection::disconnectFromBus(connection);
    return up;
}

QString first_existing(const QStringList &paths)
{
    for (const QString &p : paths)
        if (QFileInfo(p).isExecutable())
            return p;
    return {};
}

}  // namespace

class TestUdisks : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    PrivateBus m_bus;
    std::unique_ptr<FakeUdisks> m_fake;
    QString m_file;      // what the stand-in daemon hands out
    QByteArray m_bytes;  // its content
    QString m_card;      // a small card of three photos
    QList<QByteArray> m_photos;
    Manifest m_manifest;

    // A card, a loop device of it and a folder of its own for an unprivileged
    // user; skips when this machine cannot have them.
    bool as_root_with_loop(std::unique_ptr<Loop> *loop, QString *home)
    {
        if (geteuid() != 0) {
            QTest::qSkip("running the tool as another user needs root", __FILE__, __LINE__);
            return false;
        }
        if (QStandardPaths::findExecutable("setpriv").isEmpty() || QStandardPaths::findExecutable("losetup").isEmpty()) {
            QTest::qSkip("setpriv and losetup (util-linux) are needed", __FILE__, __LINE__);
            return false;
        }
        loop->reset(new Loop(m_card));
        if ((*loop)->device.isEmpty()) {
            QTest::qSkip("losetup could not attach a loop device here", __FILE__, __LINE__);
            return false;
        }
        struct stat st{};
        if (stat(QFile::encodeName((*loop)->device).constData(), &st) != 0 || (st.st_mode & S_IROTH)) {
            QTest::qSkip("loop devices are readable by everyone here", __FILE__, __LINE__);
            return false;
        }
        *home = m_dir.filePath(QString("home-%1").arg(QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction())
                                       .replace(' ', '-'));
        QDir().mkpath(*home);
        QFile::setPermissions(*home, QFileDevice::Permissions(0x7777));
        const Run probe = cli_as(65534, {"--version"}, m_bus.address, *home);
        if (probe.status != 0) {
            QTest::qSkip(qPrintable("the tool cannot run as another user from its build folder: " + probe.err),
                         __FILE__, __LINE__);
            return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7755));
        if (m_bus.address.isEmpty())
            QSKIP("dbus-daemon cannot start a private bus here (package dbus-daemon)");
        m_fake.reset(new FakeUdisks(m_bus.address));
        QVERIFY(m_fake->connected());

        m_bytes = QByteArray(100000, '\0');
        for (int i = 0; i < m_bytes.size(); ++i)
            m_bytes[i] = char(i * 7 + i / 251);
        m_file = write_image(m_dir, "card.img", m_bytes);

        Layout layout;
        for (const QColor &c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)})
            m_photos << with_photo_header(encode_test_jpeg(320, 240, c), PhotoHeader::Plain);
        layout.contiguous(Content::bytes("P1.JPG", m_photos[0]), 1 * MIB)
                .contiguous(Content::bytes("P2.JPG", m_photos[1]), NEXT_FREE, 64 * KIB)
                .contiguous(Content::bytes("P3.JPG", m_photos[2]), NEXT_FREE, 32 * KIB);
        m_card = m_dir.filePath("photos.img");
        const CardResult built = build_card(layout, m_card);
        QVERIFY2(built.ok, qPrintable(built.error));
        m_manifest = built.manifest;
    }

    void init()
    {
        if (m_fake)
            m_fake->reset(m_file, m_file);
    }

    void cleanupTestCase() { m_fake.reset(); }

    void direct_opens_are_read_only_and_say_why_not_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("words");
        QTest::newRow("file") << "card.img" << "";
        QTest::newRow("missing") << "gone.img" << "No such file or directory";
        QTest::newRow("folder") << "." << "Is a directory";
    }
    void direct_opens_are_read_only_and_say_why_not()
    {
        QFETCH(QString, path);
        QFETCH(QString, words);
        QString error;
        const int fd = open_read_only(m_dir.filePath(path), &error);
        if (words.isEmpty()) {
            QVERIFY2(fd >= 0, qPrintable(error));
            QCOMPARE(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
            QVERIFY(fcntl(fd, F_GETFD) & FD_CLOEXEC);
            QCOMPARE(read_all(fd), m_bytes);
            ::close(fd);
        } else {
            QCOMPARE(fd, -1);
            QCOMPARE(error, words);
        }
    }

    // Current daemons resolve the path and open with OpenDevice; older ones
    // are matched by the Device property and open with OpenForBackup.
    void udisks_hands_out_a_read_only_descriptor_data()
    {
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<bool>("open_device");
        QTest::newRow("current daemon") << true << true;
        QTest::newRow("without ResolveDevice") << false << true;
        QTest::newRow("without OpenDevice") << true << false;
        QTest::newRow("old daemon") << false << false;
    }
    void udisks_hands_out_a_read_only_descriptor()
    {
        QFETCH(bool, resolve);
        QFETCH(bool, open_device);
        m_fake->script.resolve = resolve;
        m_fake->script.open_device = open_device;

        QString error;
        const int fd = udisks_open_read_only(m_file, &error, m_bus.address);
        QVERIFY2(fd >= 0, qPrintable(error));
        QCOMPARE(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        QVERIFY(fcntl(fd, F_GETFD) & FD_CLOEXEC);
        QCOMPARE(read_all(fd), m_bytes);
        ::close(fd);

        QMutexLocker lock(&m_fake->script.mutex);
        QCOMPARE(m_fake->script.opens, 1);
        QCOMPARE(m_fake->script.method, open_device ? QString("OpenDevice") : QString("OpenForBackup"));
        QCOMPARE(m_fake->script.mode, open_device ? QString("r") : QString());
        // The daemon may ask for the password.
        QVERIFY(m_fake->script.options.contains("auth.no_user_interaction"));
        QCOMPARE(m_fake->script.options.value("auth.no_user_interaction"), QVariant(false));
        QVERIFY(m_fake->script.interactive);
    }

    void the_environment_names_the_bus()
    {
        qputenv("TESSARO_SYSTEM_BUS_ADDRESS", m_bus.address.toUtf8());
        QString error;
        const int fd = udisks_open_read_only(m_file, &error);
        qunsetenv("TESSARO_SYSTEM_BUS_ADDRESS");
        QVERIFY2(fd >= 0, qPrintable(error));
        ::close(fd);
    }

    void refusals_are_told_in_words_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("handed");
        QTest::addColumn<QString>("known");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<bool>("serving");
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("words");
        const QString file = m_file, other = write_image(m_dir, "other.img", "other");
        const QString mine = "<mine>";
        QTest::newRow("polkit says no") << NOT_AUTHORIZED << O_RDONLY << file << file << true << true << mine
                                        << "udisks2 refused: Not authorized to perform operation";
        QTest::newRow("dialog dismissed") << "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed" << O_RDONLY << file
                                          << file << true << true << mine << "udisks2 refused: ";
        QTest::newRow("other failure") << "org.freedesktop.UDisks2.Error.Failed" << O_RDONLY << file << file << true
                                       << true << mine << "udisks2 could not open it: ";
        QTest::newRow("descriptor can write") << "" << O_RDWR << file << file << true << true << mine
                                              << "udisks2 handed out a descriptor that is not read-only";
        QTest::newRow("descriptor of another file") << "" << O_RDONLY << other << file << true << true << mine
                                                    << "udisks2 handed out a descriptor of something other than " + file;
        QTest::newRow("device unknown") << "" << O_RDONLY << other << other << true << true << mine
                                        << "udisks2 does not know " + file;
        QTest::newRow("device unknown to an old daemon") << "" << O_RDONLY << other << other << false << true << mine
                                                         << "udisks2 does not know " + file;
        QTest::newRow("daemon not running") << "" << O_RDONLY << file << file << true << false << mine
                                            << "udisks2 is not running (the udisks2 package provides it)";
        QTest::newRow("no bus") << "" << O_RDONLY << file << file << true << true
                                << "unix:path=" + m_dir.filePath("no-bus")
                                << "udisks2 cannot be asked: the system bus cannot be reached (";
    }
    void refusals_are_told_in_words()
    {
        QFETCH(QString, refusal);
        QFETCH(int, flags);
        QFETCH(QString, handed);
        QFETCH(QString, known);
        QFETCH(bool, resolve);
        QFETCH(bool, serving);
        QFETCH(QString, bus);
        QFETCH(QString, words);
        m_fake->reset(known, handed);
        m_fake->script.refusal = refusal;
        m_fake->script.flags = flags;
        m_fake->script.resolve = resolve;
        if (!serving)
            m_fake->stop_serving();

        QString error;
        const int fd = udisks_open_read_only(m_file, &error, bus == "<mine>" ? m_bus.address : bus);
        if (fd >= 0)
            ::close(fd);
        QCOMPARE(fd, -1);
        QVERIFY2(error.startsWith(words), qPrintable(error));
    }

    // The whole way for a user who may not open the card: denied, asked of
    // udisks2 once, and every reader of one run (the scan, the thumbnails,
    // the recovery) reads through that one grant.
    void a_user_without_rights_recovers_through_udisks()
    {
        std::unique_ptr<Loop> loop;
        QString home;
        if (!as_root_with_loop(&loop, &home))
            return;
        m_fake->reset(loop->device, loop->device);

        const Run run = cli_as(65534, {"recover", loop->device, home + "/out", "--json"}, m_bus.address, home);
        QVERIFY2(run.status == 0, run.err.constData());
        const QDir dir(home + "/out/KorvoRecoverFile");
        QCOMPARE(dir.entryList(QDir::Files, QDir::Name), (QStringList{"0.jpg", "1.jpg", "2.jpg"}));
        for (int n = 0; n < 3; ++n)
            QVERIFY(read_file(dir.filePath(QString("%1.jpg").arg(n))) == m_photos[n]);
        QMutexLocker lock(&m_fake->script.mutex);
        QCOMPARE(m_fake->script.opens, 1);
        QCOMPARE(m_fake->script.mode, QString("r"));
    }

    // The scan measures the card without asking (sysfs) and reads it through
    // the grant.
    void a_user_without_rights_scans_through_udisks()
    {
        std::unique_ptr<Loop> loop;
        QString home;
        if (!as_root_with_loop(&loop, &home))
            return;
        m_fake->reset(loop->device, loop->device);

        const Run run = cli_as(65534, {"scan", loop->device, "--json"}, m_bus.address, home);
        QVERIFY2(run.status == 0, run.err.constData());
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(qint64(report["size"].toDouble()), qint64(QFileInfo(m_card).size()));
        QList<qint64> starts;
        for (const QJsonValue &photo : report["photo_list"].toArray())
            starts << qint64(photo.toArray().at(0).toDouble());
        QCOMPARE(starts, (QList<qint64>{qint64(m_manifest.find("P1.JPG")->start()), qint64(m_manifest.find("P2.JPG")->start()),
                                        qint64(m_manifest.find("P3.JPG")->start())}));
    }

    void refusal_reaches_the_user_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("words");
        QTest::newRow("scan, refused") << "scan" << "refused" << "udisks2 refused: Not authorized to perform operation";
        QTest::newRow("recover, no daemon") << "recover" << "no daemon" << "udisks2 is not running";
        QTest::newRow("image, no bus") << "image" << "no bus" << "udisks2 cannot be asked: the system bus cannot be reached";
    }
    void refusal_reaches_the_user()
    {
        QFETCH(QString, command);
        QFETCH(QString, failure);
        QFETCH(QString, words);
        std::unique_ptr<Loop> loop;
        QString home;
        if (!as_root_with_loop(&loop, &home))
            return;
        m_fake->reset(loop->device, loop->device);
        if (failure == "refused")
            m_fake->script.refusal = NOT_AUTHORIZED;
        if (failure == "no daemon")
            m_fake->stop_serving();
        const QString bus = failure == "no bus" ? "unix:path=" + home + "/no-bus" : m_bus.address;

        const QStringList args = command == "scan"      ? QStringList{"scan", loop->device}
                                 : command == "recover" ? QStringList{"recover", loop->device, home + "/out"}
                                                        : QStringList{"image", loop->device, home + "/copy.img"};
        const Run run = cli_as(65534, args, bus, home);
        QCOMPARE(run.status, 2);
        const QString err = QString::fromLocal8Bit(run.err);
        QVERIFY2(err.contains("cannot open " + loop->device + ": Permission denied; " + words), qPrintable(err));
        QVERIFY2(err.contains("disk group") && err.contains("sudo adduser $USER disk"), qPrintable(err));
    }

    // The real daemons on a private bus: udisksd sees only the card's loop
    // device (its udev record is made up in its own mount namespace), polkitd
    // lets "nobody" open devices and nobody else.
    void real_udisksd_opens_the_card()
    {
        std::unique_ptr<Loop> loop;
        QString home;
        if (!as_root_with_loop(&loop, &home))
            return;
        const QString udisksd = first_existing({"/usr/libexec/udisks2/udisksd", "/usr/lib/udisks2/udisksd"});
        if (udisksd.isEmpty())
            QSKIP("udisksd is not installed (package udisks2)");
        if (QProcess::execute("unshare", {"--mount", "--propagation", "private", "mount", "-t", "tmpfs", "tmpfs", "/run"}) != 0)
            QSKIP("a private mount namespace with a tmpfs cannot be made here (unshare), so udisksd cannot get a udev record");
        const QString polkitd = first_existing({"/usr/lib/polkit-1/polkitd", "/usr/libexec/polkitd"});
        const passwd *nobody = getpwuid(65534);

        PrivateBus bus;
        QVERIFY(!bus.address.isEmpty());
        std::unique_ptr<Daemon> polkit;
        if (!polkitd.isEmpty() && nobody) {
            const QString rule = QString("polkit.addRule(function(action, subject) {\n"
                                         "  if (action.id.indexOf(\"org.freedesktop.udisks2.open-device\") == 0\n"
                                         "      && subject.user == \"%1\")\n"
                                         "    return polkit.Result.YES;\n"
                                         "});\n").arg(nobody->pw_name);
            QFile f(m_dir.filePath("10-nobody.rules"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(rule.toUtf8());
            f.close();
            polkit.reset(new Daemon("mount -t tmpfs tmpfs /etc/polkit-1\nmkdir -m 755 /etc/polkit-1/rules.d\n"
                                    "cp '" + f.fileName() + "' /etc/polkit-1/rules.d/\nchmod 644 /etc/polkit-1/rules.d/*",
                                    polkitd, {"--no-debug"}, bus.address));
            // Without it, the refusal below is tested instead.
            if (!wait_for_name(bus.address, "org.freedesktop.PolicyKit1", "wait-polkit")) {
                qWarning("polkitd did not start here: %s", qPrintable(polkit->said()));
                polkit.reset();
            }
        }
        struct stat st{};
        QCOMPARE(stat(QFile::encodeName(loop->device).constData(), &st), 0);
        const QString record = QString("/run/udev/data/b%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
        Daemon udisks("mount -t tmpfs tmpfs /run\nmkdir -p /run/udev/data\nprintf 'I:1\\n' > " + record, udisksd, {},
                      bus.address);
        // It does not start in every container; nothing of Tessaro's is in that.
        if (!wait_for_name(bus.address, SERVICE, "wait-udisks"))
            QSKIP(qPrintable("udisksd did not start here: " + udisks.said()));

        // Root: allowed whether or not polkitd runs.
        QString error;
        const int fd = udisks_open_read_only(loop->device, &error, bus.address);
        QVERIFY2(fd >= 0, qPrintable(error));
        QCOMPARE(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        QVERIFY(read_all(fd) == read_file(m_card));
        ::close(fd);

        // Another user: through polkit's rule, or refused in words.
        const Run run = cli_as(65534, {"scan", loop->device, "--json"}, bus.address, home);
        if (polkit) {
            QVERIFY2(run.status == 0, run.err.constData());
            QCOMPARE(QJsonDocument::fromJson(run.out).object()["photo_list"].toArray().size(), 3);
            const Run refused = cli_as(1, {"scan", loop->device}, bus.address, home);
            QCOMPARE(refused.status, 2);
            QVERIFY2(refused.err.contains("udisks2 refused: Not authorized to perform operation"), refused.err.constData());
        } else {
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains("udisks2 refused: "), run.err.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestUdisks)
#include "test_udisks.moc"
