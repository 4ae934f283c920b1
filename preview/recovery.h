// The preview window: plays one work copy in a libvlc player, with a seek
// bar, its position and length, a volume slider and a play/pause button.
// Space pauses and plays on, Esc closes; at the end it offers to play
// again, and a file libvlc cannot play is said so in words.
#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class Recovery;
}
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
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

    // What the window says in place of the picture; empty while it plays.
    QString problem() const;

public slots:
    void togglePause();
    void playAgain();

protected:
    // A closed preview must not go on decoding and playing sound unseen.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void follow();

    Ui::Recovery *ui;
    VlcInstance *m_instance = nullptr;
    VlcMedia *m_media = nullptr;
    VlcMediaPlayer *m_player = nullptr;
    QString m_file;

    QStackedWidget *m_screen = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_playPause = nullptr;
    QLabel *m_time = nullptr;
    QWidget *m_endBar = nullptr;
    QTimer *m_follow = nullptr;
    bool m_sawPicture = false;
};
