#include "ui/BackupSlides.h"

#include "ui/SlideBackground.h"

#include <QMouseEvent>
#include <QPainter>

namespace ui {

namespace {

QRect lineRect(const QRect& slide, int line, bool value) {
    const int top = slide.top() + BackupSlideDelegate::kLineOffsets[line];
    if (!value)
        return QRect(slide.left(), top, BackupSlideDelegate::kLabelWidth,
                     BackupSlideDelegate::kLineHeight);
    const int left = slide.left() + BackupSlideDelegate::kValueLeft;
    return QRect(left, top, std::max(0, slide.right() - left), BackupSlideDelegate::kLineHeight);
}

} // namespace

void BackupSlideDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    painter->save();
    const QRect slide = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = PaintSlideBackground(painter, option);
    QFont bold = option.font;
    bold.setBold(true);
    QFont link = option.font;
    link.setUnderline(true);
    for (int line = 0; line < 3; ++line) {
        painter->setFont(bold);
        painter->setPen(text);
        painter->drawText(lineRect(slide, line, false), Qt::AlignLeft | Qt::AlignVCenter,
                          index.sibling(index.row(), bcActionLabel + line).data().toString());
        const bool isLink = bcAction + line == bcName;
        painter->setFont(isLink ? link : option.font);
        painter->setPen(isLink && !selected ? QColor(Qt::blue) : text);
        const QRect value = lineRect(slide, line, true);
        const QFontMetrics metrics(isLink ? link : option.font);
        painter->drawText(
            value, Qt::AlignLeft | Qt::AlignVCenter,
            metrics.elidedText(index.sibling(index.row(), bcAction + line).data().toString(),
                               Qt::ElideRight, value.width()));
    }
    painter->restore();
}

QSize BackupSlideDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width() > 0 ? option.rect.width() : 400, kSlideHeight);
}

int BackupSlideDelegate::ColumnAt(const QRect& slide, const QPoint& pos) {
    for (int line = 0; line < 3; ++line) {
        if (lineRect(slide, line, false).contains(pos))
            return bcActionLabel + line;
        if (lineRect(slide, line, true).contains(pos))
            return bcAction + line;
    }
    return -1;
}

BackupListView::BackupListView(QWidget* parent) : QListView(parent) {
    setMouseTracking(true);
}

int BackupListView::columnAt(const QPoint& pos, int* row) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return -1;
    *row = index.row();
    return BackupSlideDelegate::ColumnAt(visualRect(index), pos);
}

void BackupListView::mouseMoveEvent(QMouseEvent* event) {
    int row = -1;
    viewport()->setCursor(columnAt(event->position().toPoint(), &row) == bcName
                              ? Qt::PointingHandCursor
                              : Qt::ArrowCursor);
    QListView::mouseMoveEvent(event);
}

void BackupListView::mouseReleaseEvent(QMouseEvent* event) {
    QListView::mouseReleaseEvent(event);
    int row = -1;
    const int column = columnAt(event->position().toPoint(), &row);
    if (event->button() == Qt::LeftButton && column >= 0)
        emit cellClicked(column, row);
}

} // namespace ui
