#include "preview/vlc_instance.h"

#include <QByteArray>
#include <QVector>
#include <vlc/vlc.h>

VlcInstance::VlcInstance(const QStringList &arguments, QObject *parent) : QObject(parent)
{
    QVector<QByteArray> storage;
    QVector<const char *> argv;
    for (const QString &argument : arguments)
        storage.append(argument.toLocal8Bit());
    for (const QByteArray &argument : storage)
        argv.append(argument.constData());

    m_vlc = libvlc_new(argv.size(), argv.constData());
    if (m_vlc)
        return;
    // libvlc rarely leaves a message for a failed start; with fixed options
    // the usual cause is a libvlc that finds no usable plugins.
    const char *message = libvlc_errmsg();
    m_problem = message && *message
            ? QString::fromLocal8Bit(message)
            : QStringLiteral("the VLC media engine (libvlc %1) could not start; its plugins are missing or "
                             "unusable (on Debian: vlc-plugin-base and vlc-plugin-video-output)")
                      .arg(version());
}

VlcInstance::~VlcInstance()
{
    if (m_vlc)
        libvlc_release(m_vlc);
}

QString VlcInstance::version()
{
    return QString::fromLatin1(libvlc_get_version());
}
