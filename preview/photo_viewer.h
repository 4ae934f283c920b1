// A found photo, large, in a window of its own: the grid shows only a
// thumbnail. Esc closes it.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;

class PhotoViewer : public QWidget
{
    Q_OBJECT
public:
    // Shows the JPEG in `bytes`; when it cannot be decoded, says so with
    // `problem` (why the bytes are missing, when they are).
    PhotoViewer(const QString &title, const QByteArray &bytes, const QString &problem = QString(),
                QWidget *parent = nullptr);

    bool showsPicture() const { return !m_image.isNull(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();

    QImage m_image;
    QLabel *m_picture;
};
