// A local file for a libvlc player.
#pragma once

#include <QObject>
#include <QString>

struct libvlc_media_t;
class VlcInstance;

class VlcMedia : public QObject
{
    Q_OBJECT
public:
    // `path` is a local file path, not a URL; it need not exist (playing a
    // missing file ends in the player's error state). `instance` must have
    // started.
    VlcMedia(const QString &path, VlcInstance *instance);
    ~VlcMedia() override;

    QString path() const { return m_path; }
    libvlc_media_t *core() const { return m_media; }

private:
    QString m_path;
    libvlc_media_t *m_media = nullptr;
};
