#pragma once
// An item delegate for the program's lists, trees and grids: over a cell whose text is cut
// short, the whole text is the tooltip. A cell with a tooltip of its own keeps it.

#include <QStyledItemDelegate>

class QAbstractItemView;

namespace ui {

class CutTextToolTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    // Whether the text of `index`, drawn in `option.rect` of `view`, does not fit.
    bool IsCut(const QStyleOptionViewItem& option, const QModelIndex& index,
               const QAbstractItemView* view) const;
};

// Gives `view` that delegate (its own parent).
void ShowCutTextsAsToolTips(QAbstractItemView& view);

} // namespace ui
