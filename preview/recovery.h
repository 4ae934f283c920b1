// The preview window: plays one work copy in a libvlc player, with no
// controls of its own.
#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class Recovery;
}
class VlcInstance;
class VlcMedia;
class VlcMediaPlayer;

class Recovery : public QWidget
{
    Q_OBJECT
public:
    // Builds the window and starts playing `file` at once. When libvlc
    // cannot start, the window has no player: engineStarted() is false and
    // engineProblem() says why. Deletes itself when closed.
    explicit Recovery(const QString &file, QWidget *parent = nullptr);
    // Releases the player, then the media, then the engine, then the form.
    ~Recovery() override;

    bool engineStarted() const { return m_player != nullptr; }
    QString engineProblem() const;
    VlcMediaPlayer *mediaPlayer() const { return m_player; }
    QString file() const { return m_file; }

protected:
    // A closed preview must not go on decoding and playing sound unseen.
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::Recovery *ui;
    VlcInstance *m_instance = nullptr;
    VlcMedia *m_media = nullptr;
    VlcMediaPlayer *m_player = nullptr;
    QString m_file;
};
