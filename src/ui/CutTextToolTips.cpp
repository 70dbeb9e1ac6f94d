#include "ui/CutTextToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace ui {

bool CutTextToolTipDelegate::IsCut(const QStyleOptionViewItem& option, const QModelIndex& index,
                                   const QAbstractItemView* view) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (cell.text.isEmpty())
        return false;
    const QStyle* style = view ? view->style() : cell.widget->style();
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view);
    // The style keeps this margin at both sides of an item's text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    int widest = 0;
    for (const QString& line : cell.text.split(QChar::LineSeparator))
        widest = std::max(widest, cell.fontMetrics.horizontalAdvance(line));
    return widest > area.width() - 2 * margin;
}

bool CutTextToolTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option,
                                       const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid() ||
        index.data(Qt::ToolTipRole).isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (IsCut(option, index, view)) {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        QToolTip::showText(event->globalPos(), cell.text, view, option.rect);
    } else {
        QToolTip::hideText();
    }
    return true;
}

void ShowCutTextsAsToolTips(QAbstractItemView& view) {
    view.setItemDelegate(new CutTextToolTipDelegate(&view));
}

} // namespace ui
