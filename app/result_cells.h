// What a cell of the result grids shows of its file: the thumbnail with a
// badge when the file is not intact, a short caption beneath it and the
// details in its tooltip.
#pragma once

#include "recover/file_facts.h"

#include <QIcon>
#include <QStyledItemDelegate>

// Rows tall enough for a 120 × 90 thumbnail and a line of caption.
constexpr int CELL_HEIGHT = 122;

// Lays a cell out with its picture above its text.
class CaptionBelowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

// "3 · 0:07 · 12.3 MB"
QString video_caption(int number, const VideoFacts &facts);
// Position on the card, size, duration, resolution, codec, frame rate and
// the verdict, one to a line.
QString video_tooltip(int number, const VideoFacts &facts);
// "4 · 4000×3000 · 3.2 MB"
QString photo_caption(int number, const PhotoFacts &facts);
QString photo_tooltip(int number, const PhotoFacts &facts);

// The thumbnail at its grid size; a file that is not intact carries the
// verdict's word in a corner.
QIcon badged_icon(const QIcon &thumbnail, Verdict verdict);
