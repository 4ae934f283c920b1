#include "preview/vlc_media.h"

#include "preview/vlc_instance.h"

#include <QFile>
#include <vlc/vlc.h>

VlcMedia::VlcMedia(const QString &path, VlcInstance *instance) : QObject(instance), m_path(path)
{
    m_media = libvlc_media_new_path(instance->core(), QFile::encodeName(path).constData());
}

VlcMedia::~VlcMedia()
{
    if (m_media)
        libvlc_media_release(m_media);
}
