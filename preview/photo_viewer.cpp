#include "preview/photo_viewer.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

PhotoViewer::PhotoViewer(const QString &title, const QByteArray &bytes, const QString &problem, QWidget *parent)
    : QWidget(parent, Qt::Window), m_picture(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setObjectName(QStringLiteral("PhotoViewer"));
    setWindowTitle(title);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_picture);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(1, 1);
    m_picture->setStyleSheet(QStringLiteral("background: black; color: white;"));

    m_image = QImage::fromData(bytes, "JPEG");
    if (m_image.isNull()) {
        m_picture->setWordWrap(true);
        m_picture->setText(problem.isEmpty() ? tr("This photo cannot be shown: what the card holds of it does not "
                                                  "decode as a picture.")
                                             : tr("This photo cannot be shown: %1.").arg(problem));
        resize(480, 200);
        return;
    }
    // As large as it is, within most of the screen.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableSize() * 0.85 : QSize(1024, 768);
    QSize size = m_image.size();
    if (size.width() > room.width() || size.height() > room.height())
        size.scale(room, Qt::KeepAspectRatio);
    resize(size.expandedTo(QSize(320, 240)));
}

void PhotoViewer::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PhotoViewer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fit();
}

void PhotoViewer::fit()
{
    if (m_image.isNull())
        return;
    m_picture->setPixmap(QPixmap::fromImage(
            m_image.scaled(m_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}
