#pragma once
// Draws a result row as a slide of 92 pixels: the check box at the left edge, the
// category image beside it, and five lines of a bold label and its value. A value too long
// for the slide is cut, and shows its whole text as a tooltip.

#include <QStyledItemDelegate>
#include <functional>

namespace ui {

class ResultSlideDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kSlideHeight = 92;
    static constexpr int kLineOffsets[5] = {0, 23, 40, 57, 74};

    // `image` gives the picture of an image index.
    ResultSlideDelegate(std::function<QIcon(int)> image, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A click on the check box (or Space on the row) flips it.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    // Over a value that is cut short, its whole text as the tooltip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    static QRect CheckBoxRect(const QRect& slide);
    // The value line (0 key location to 4 repair) under `pos` in a slide drawn in `slide`;
    // -1 for none.
    static int ValueLineAt(const QRect& slide, const QPoint& pos);
    // A line's value as drawn: the key location cut in the middle, the others at the end.
    static QString ShownValue(const QModelIndex& index, int line, const QRect& slide,
                              const QFontMetrics& metrics);

private:
    std::function<QIcon(int)> image_;
};

} // namespace ui
