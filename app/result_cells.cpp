#include "app/result_cells.h"

#include <QCoreApplication>
#include <QPainter>

namespace {

const QSize THUMBNAIL(120, 90);

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString position_line(std::uint64_t position)
{
    return tr("Position on the card: byte %1 (%2)").arg(position).arg(size_text(position));
}

QString size_line(std::uint64_t size)
{
    return tr("Size: %1 (%2 bytes)").arg(size_text(size)).arg(size);
}

}  // namespace

void CaptionBelowDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->decorationAlignment = Qt::AlignHCenter | Qt::AlignTop;
    option->displayAlignment = Qt::AlignHCenter | Qt::AlignBottom;
    option->decorationSize = THUMBNAIL;
    option->textElideMode = Qt::ElideRight;
}

QString video_caption(int number, const VideoFacts &facts)
{
    return QStringLiteral("%1 · %2 · %3").arg(number).arg(duration_text(facts.recording.duration_ms),
                                                        size_text(facts.file_size));
}

QString video_tooltip(int number, const VideoFacts &facts)
{
    const RecordingFacts &r = facts.recording;
    return QStringList{tr("Video %1").arg(number), position_line(facts.position), size_line(facts.file_size),
                       tr("Duration: %1").arg(duration_text(r.duration_ms)),
                       tr("Resolution: %1").arg(resolution_text(r.width, r.height)),
                       tr("Codec: %1").arg(codec_text(r.codec)),
                       tr("Frame rate: %1").arg(frame_rate_text(r.frame_rate)),
                       tr("What the card holds of it: %1").arg(verdict_text(facts))}
            .join(QLatin1Char('\n'));
}

QString photo_caption(int number, const PhotoFacts &facts)
{
    return QStringLiteral("%1 · %2 · %3").arg(number).arg(resolution_text(facts.width, facts.height),
                                                        size_text(facts.file_size));
}

QString photo_tooltip(int number, const PhotoFacts &facts)
{
    return QStringList{tr("Photo %1").arg(number), position_line(facts.position), size_line(facts.file_size),
                       tr("Pixel size: %1").arg(resolution_text(facts.width, facts.height)),
                       tr("What the card holds of it: %1").arg(verdict_text(facts))}
            .join(QLatin1Char('\n'));
}

QIcon badged_icon(const QIcon &thumbnail, Verdict verdict)
{
    if (verdict == Verdict::Intact)
        return thumbnail;
    QPixmap picture(THUMBNAIL);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const QPixmap shown = thumbnail.pixmap(THUMBNAIL);
    painter.drawPixmap((THUMBNAIL.width() - shown.width()) / 2, (THUMBNAIL.height() - shown.height()) / 2, shown);
    const QString word = verdict_name(verdict);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    const QRect badge = painter.fontMetrics().boundingRect(word).adjusted(-4, -1, 4, 1);
    const QRect placed(THUMBNAIL.width() - badge.width() - 2, 2, badge.width(), badge.height());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(verdict == Verdict::Empty ? QColor(200, 30, 30) : QColor(230, 130, 0));
    painter.drawRoundedRect(placed, 4, 4);
    painter.setPen(Qt::white);
    painter.drawText(placed, Qt::AlignCenter, word);
    painter.end();
    return QIcon(picture);
}
