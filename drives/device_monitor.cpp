#include "drives/device_monitor.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <libudev.h>

namespace {

// Events from udev come after its rules have run; without a running udev
// daemon (containers, minimal systems) nothing would ever arrive that way,
// so listen to the kernel's own events instead.
const char *event_source()
{
    return QFileInfo::exists(QStringLiteral("/run/udev/control")) ? "udev" : "kernel";
}

}  // namespace

DeviceMonitor::DeviceMonitor(QObject *parent) : QObject(parent)
{
    m_udev = udev_new();
    if (!m_udev) {
        m_problem = QStringLiteral("libudev could not be initialised");
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, event_source());
    if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr) < 0
        || udev_monitor_enable_receiving(m_monitor) < 0) {
        m_problem = QStringLiteral("the device monitor could not be started");
        return;
    }
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0) {
        m_problem = QStringLiteral("the device monitor has no descriptor");
        return;
    }
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceMonitor::receive);
}

DeviceMonitor::~DeviceMonitor()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void DeviceMonitor::receive()
{
    // The descriptor is non-blocking: take every event that is waiting.
    while (struct udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const char *action = udev_device_get_action(device);
        const char *devtype = udev_device_get_devtype(device);
        const QString a = QString::fromLatin1(action ? action : "");
        const QString t = QString::fromLatin1(devtype ? devtype : "");
        udev_device_unref(device);
        emit blockDeviceEvent(a, t);
    }
}
