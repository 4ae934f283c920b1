#include "drives/device_open.h"

#include "drives/device_size.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QVariantMap>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.UDisks2");
const QString MANAGER_PATH = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString MANAGER = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString BLOCK = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString BLOCK_OBJECTS = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString UNKNOWN_METHOD = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

// Long enough for the person at the desktop to read the password prompt and
// answer it; the other calls answer at once.
constexpr int PROMPT_TIMEOUT_MS = 10 * 60 * 1000;
constexpr int QUICK_TIMEOUT_MS = 30 * 1000;

QString errno_text(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Whether `fd` is what `path` names: the same device for a device node, the
// same file otherwise.
bool same_file(int fd, const QString &path)
{
    struct stat held{}, named{};
    if (fstat(fd, &held) != 0 || stat(QFile::encodeName(path).constData(), &named) != 0)
        return false;
    if (S_ISBLK(named.st_mode))
        return S_ISBLK(held.st_mode) && held.st_rdev == named.st_rdev;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

QString failure_words(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return QStringLiteral("udisks2 is not running (the udisks2 package provides it)");
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || name == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        return QStringLiteral("udisks2 did not answer");
    if (name.startsWith(QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorized")))
        return QStringLiteral("udisks2 refused: %1").arg(reply.errorMessage());
    return QStringLiteral("udisks2 could not open it: %1").arg(reply.errorMessage());
}

QDBusMessage call(const QDBusConnection &bus, const QString &object, const QString &interface, const QString &method,
                  const QVariantList &args, int timeout = QUICK_TIMEOUT_MS)
{
    QDBusMessage message = QDBusMessage::createMethodCall(SERVICE, object, interface, method);
    message.setArguments(args);
    // The password prompt is the point of asking.
    message.setInteractiveAuthorizationAllowed(true);
    return bus.call(message, QDBus::Block, timeout);
}

// udisks2 names a block object after the kernel device, bytes other than
// letters and digits as _xx.
QString object_name(const QString &kernel_name)
{
    QString name;
    for (const char c : QFile::encodeName(kernel_name)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            name += QLatin1Char(c);
        else
            name += QStringLiteral("_%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    }
    return name;
}

// The udisks2 object of `device`; empty with the reason when there is none.
QString block_object(const QDBusConnection &bus, const QString &device, QString *error)
{
    const QDBusMessage reply = call(bus, MANAGER_PATH, MANAGER, QStringLiteral("ResolveDevice"),
                                    {QVariantMap{{QStringLiteral("path"), device}}, QVariantMap()});
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const auto objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
        if (objects.isEmpty())
            *error = QStringLiteral("udisks2 does not know %1").arg(device);
        return objects.isEmpty() ? QString() : objects.first().path();
    }
    if (reply.errorName() != UNKNOWN_METHOD) {
        *error = failure_words(reply);
        return QString();
    }

    // A daemon without ResolveDevice: the object named after the device, if
    // its Device property says it is this device.
    const QString object = BLOCK_OBJECTS + object_name(QFileInfo(device).fileName());
    const QDBusMessage property = call(bus, object, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"), {BLOCK, QStringLiteral("Device")});
    const QString unknown = QStringLiteral("udisks2 does not know %1").arg(device);
    if (property.type() != QDBusMessage::ReplyMessage) {
        // No such object, or not a block device: the daemon does not know it.
        const bool no_object = property.errorName().startsWith(QLatin1String("org.freedesktop.DBus.Error.Unknown"))
                               || property.errorName() == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs");
        *error = no_object ? unknown : failure_words(property);
        return QString();
    }
    QByteArray named = qdbus_cast<QByteArray>(property.arguments().value(0).value<QDBusVariant>().variant());
    if (named.endsWith('\0'))
        named.chop(1);  // a bytestring property ends in its terminating zero
    if (named != QFile::encodeName(device)) {
        *error = unknown;
        return QString();
    }
    return object;
}

// The descriptor of a reply to OpenDevice or OpenForBackup, if it is a
// read-only descriptor of `device`.
int adopt_descriptor(const QDBusMessage &reply, const QString &device, QString *error)
{
    const auto handed = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
    if (!handed.isValid()) {
        *error = QStringLiteral("udisks2 handed out no descriptor");
        return -1;
    }
    const int fd = fcntl(handed.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno_text(errno);
        return -1;
    }
    // The card is never written, whatever the daemon hands out.
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) != O_RDONLY || (flags & O_PATH)) {
        close(fd);
        *error = QStringLiteral("udisks2 handed out a descriptor that is not read-only; Tessaro does not use it");
        return -1;
    }
    if (!same_file(fd, device)) {
        close(fd);
        *error = QStringLiteral("udisks2 handed out a descriptor of something other than %1").arg(device);
        return -1;
    }
    return fd;
}

QMutex grants_mutex;
QHash<QString, int> grants;  // canonical device path -> the descriptor udisks2 granted

// A card taken out since leaves a descriptor that reads nothing; another card
// in its place is not the device the descriptor holds.
bool still_readable(int fd, const QString &device)
{
    unsigned char byte;
    return same_file(fd, device) && pread(fd, &byte, 1, 0) == 1;
}

int granted_descriptor(const QString &path, QString *error)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    // Held across the request, so that a second reader waits for the first
    // one's password prompt and then uses its grant.
    QMutexLocker lock(&grants_mutex);
    const auto held = grants.find(device);
    if (held != grants.end()) {
        if (still_readable(held.value(), device)) {
            const int fd = fcntl(held.value(), F_DUPFD_CLOEXEC, 0);
            if (fd >= 0)
                return fd;
        }
        close(held.value());
        grants.erase(held);
    }
    const int fd = udisks_open_read_only(device, error);
    if (fd < 0)
        return -1;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        *error = errno_text(errno);
        close(fd);
        return -1;
    }
    grants.insert(device, fd);
    return copy;
}

}  // namespace

int udisks_open_read_only(const QString &device, QString *error, const QString &bus_address)
{
    const QString address =
            bus_address.isEmpty() ? qEnvironmentVariable("TESSARO_SYSTEM_BUS_ADDRESS") : bus_address;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!address.isEmpty()) {
        const QString name = QStringLiteral("tessaro-udisks:") + address;
        bus = QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected())
            QDBusConnection::disconnectFromBus(name);  // the next request tries again
    }
    if (!bus.isConnected()) {
        *error = QStringLiteral("udisks2 cannot be asked: the system bus cannot be reached (%1)")
                         .arg(bus.lastError().message());
        return -1;
    }
    if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        *error = QStringLiteral("udisks2 cannot be asked: the system bus connection does not pass descriptors");
        return -1;
    }

    const QString object = block_object(bus, device, error);
    if (object.isEmpty())
        return -1;
    // auth.no_user_interaction false: polkit asks for the password.
    const QVariantMap options{{QStringLiteral("auth.no_user_interaction"), false}};
    QDBusMessage reply = call(bus, object, BLOCK, QStringLiteral("OpenDevice"), {QStringLiteral("r"), options},
                              PROMPT_TIMEOUT_MS);
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == UNKNOWN_METHOD)
        reply = call(bus, object, BLOCK, QStringLiteral("OpenForBackup"), {options}, PROMPT_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = failure_words(reply);
        return -1;
    }
    return adopt_descriptor(reply, device, error);
}

int open_read_only(const QString &path, QString *error)
{
    QString why;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st{};
        if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
            return fd;
        close(fd);
        why = errno_text(EISDIR);
    } else {
        const int err = errno;
        why = errno_text(err);
        if ((err == EACCES || err == EPERM) && is_block_device(path)) {
            QString refusal;
            const int granted = granted_descriptor(path, &refusal);
            if (granted >= 0)
                return granted;
            why += QStringLiteral("; ") + refusal;
        }
    }
    if (error)
        *error = why;
    return -1;
}

bool needs_udisks(const QString &path)
{
    return is_block_device(path) && access(QFile::encodeName(path).constData(), R_OK) != 0;
}

QString read_permission_advice()
{
    return QStringLiteral("Without udisks2, reading a card needs root or the disk group: "
                          "sudo adduser $USER disk, then log out and in again.");
}
