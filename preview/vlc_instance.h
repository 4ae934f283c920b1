// One libvlc engine instance, owned by a Qt object.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

struct libvlc_instance_t;

class VlcInstance : public QObject
{
    Q_OBJECT
public:
    // Starts libvlc with `arguments` (command-line style options). libvlc may
    // refuse to start, for example when its plugins are missing: then
    // status() is false and problem() says why; nothing else is usable.
    explicit VlcInstance(const QStringList &arguments, QObject *parent = nullptr);
    ~VlcInstance() override;

    bool status() const { return m_vlc != nullptr; }
    QString problem() const { return m_problem; }
    libvlc_instance_t *core() const { return m_vlc; }

    static QString version();

private:
    libvlc_instance_t *m_vlc = nullptr;
    QString m_problem;
};
