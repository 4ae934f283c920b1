// What a window frame would give: the painted panel with its shadow,
// dragging, close, minimise, and the help pages.
#include "app/help_pages.h"
#include "app/main_window.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// Alpha of the shadow outline i pixels outside the panel: 150 - 50 * sqrt(i).
constexpr int SHADOW_ALPHA[10] = {150, 100, 79, 63, 50, 38, 27, 17, 8, 0};
constexpr int MARGIN = 10;

}  // namespace

void MainWindow::paintEvent(QPaintEvent *)
{
    QPainterPath panel;
    panel.setFillRule(Qt::WindingFill);
    panel.addRect(MARGIN, MARGIN, width() - 2 * MARGIN, height() - 2 * MARGIN);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(panel, QBrush(Qt::white));

    QColor color(0, 0, 0, 50);
    for (int i = 0; i < MARGIN; ++i) {
        QPainterPath outline;
        outline.setFillRule(Qt::WindingFill);
        outline.addRect(MARGIN - i, MARGIN - i, width() - (MARGIN - i) * 2, height() - (MARGIN - i) * 2);
        color.setAlpha(SHADOW_ALPHA[i]);
        painter.setPen(color);
        painter.drawPath(outline);
    }
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOrigin = event->pos();
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        move(event->globalPos() - m_dragOrigin);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}

void MainWindow::on_pushButton_topclose_clicked()
{
    close();
}

void MainWindow::on_pushButton_min_clicked()
{
    showMinimized();
}

void MainWindow::openUrl_help()
{
    m_seams.openUrl(user_guide_url());
}

void MainWindow::openUrl_support()
{
    m_seams.openUrl(support_page_url());
}
