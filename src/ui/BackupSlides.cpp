#include "ui/BackupSlides.h"

#include "ui/SlideBackground.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

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

QFont valueFont(const QStyleOptionViewItem& option, int line) {
    QFont font = option.font;
    font.setUnderline(bcAction + line == bcName);
    return font;
}

} // namespace

QString BackupSlideDelegate::ShownValue(const QModelIndex& index, int line, const QRect& slide,
                                        const QFont& font) {
    return QFontMetrics(font).elidedText(
        index.sibling(index.row(), bcAction + line).data().toString(), Qt::ElideRight,
        lineRect(slide, line, true).width());
}

void BackupSlideDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    painter->save();
    const QRect slide = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = PaintSlideBackground(painter, option);
    QFont bold = option.font;
    bold.setBold(true);
    for (int line = 0; line < 3; ++line) {
        painter->setFont(bold);
        painter->setPen(text);
        painter->drawText(lineRect(slide, line, false), Qt::AlignLeft | Qt::AlignVCenter,
                          index.sibling(index.row(), bcActionLabel + line).data().toString());
        const bool isLink = bcAction + line == bcName;
        const QFont font = valueFont(option, line);
        painter->setFont(font);
        painter->setPen(isLink && !selected ? QColor(Qt::blue) : text);
        painter->drawText(lineRect(slide, line, true), Qt::AlignLeft | Qt::AlignVCenter,
                          ShownValue(index, line, slide, font));
    }
    painter->restore();
}

QSize BackupSlideDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width() > 0 ? option.rect.width() : 400, kSlideHeight);
}

bool BackupSlideDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        // A value cut short (a long action, a long profile name) shows its whole text.
        const int column = ColumnAt(option.rect, event->pos());
        if (column >= bcAction) {
            const int line = column - bcAction;
            const QString value = index.sibling(index.row(), column).data().toString();
            if (ShownValue(index, line, option.rect, valueFont(option, line)) != value) {
                QToolTip::showText(event->globalPos(), value, view,
                                   lineRect(option.rect, line, true));
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
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
