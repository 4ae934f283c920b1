// Block devices that come and go: a libudev monitor on the "block"
// subsystem, read on the Qt event loop through a socket notifier.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
struct udev;
struct udev_monitor;

class DeviceMonitor : public QObject
{
    Q_OBJECT
public:
    explicit DeviceMonitor(QObject *parent = nullptr);
    ~DeviceMonitor() override;

    // False when the monitor could not be set up; problem() says why.
    bool isListening() const { return m_notifier != nullptr; }
    QString problem() const { return m_problem; }

signals:
    // One kernel or udev event: `action` is "add", "remove", "change", ...;
    // `devtype` is "disk" or "partition".
    void blockDeviceEvent(const QString &action, const QString &devtype);

private:
    void receive();

    struct udev *m_udev = nullptr;
    struct udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QString m_problem;
};
