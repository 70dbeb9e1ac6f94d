#pragma once
// The backup list of the wizard: one slide of 68 pixels per restore record, three lines
// of a bold label and its value, the backup name drawn as a link. A value too long for the
// slide is cut, and shows its whole text as a tooltip.

#include <QListView>
#include <QStyledItemDelegate>

namespace ui {

// The model's columns: the three labels, then their values.
enum BackupColumn {
    bcActionLabel = 0,
    bcDateLabel = 1,
    bcNameLabel = 2,
    bcAction = 3,
    bcDate = 4,
    bcName = 5,
    bcCount = 6
};

class BackupSlideDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kSlideHeight = 68;
    static constexpr int kLineOffsets[3] = {0, 26, 44};
    static constexpr int kLabelWidth = 100;
    static constexpr int kValueLeft = 108;
    static constexpr int kLineHeight = 18;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Over a value that is cut short, its whole text as the tooltip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // A line's value (0 action, 1 date, 2 name) as drawn in `slide` in `font`: cut at the
    // end when too long.
    static QString ShownValue(const QModelIndex& index, int line, const QRect& slide,
                              const QFont& font);

    // The column of the model under `pos` in a slide drawn in `slide`: a label's or a
    // value's, -1 for none.
    static int ColumnAt(const QRect& slide, const QPoint& pos);
};

// Shows the model's first column as slides; a click on a line says which cell it hit,
// and the pointer turns into a hand over the link.
class BackupListView : public QListView {
    Q_OBJECT
public:
    explicit BackupListView(QWidget* parent = nullptr);

signals:
    void cellClicked(int column, int row);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int columnAt(const QPoint& pos, int* row) const;
};

} // namespace ui
