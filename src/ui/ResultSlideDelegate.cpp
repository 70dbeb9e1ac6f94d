#include "ui/ResultSlideDelegate.h"

#include "ui/ResultModel.h"
#include "ui/SlideBackground.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace ui {

namespace {

constexpr int kCheckWidth = 16;
constexpr int kImageLeft = 26;
constexpr int kLabelLeft = 52;
constexpr int kLabelWidth = 100;
constexpr int kValueLeft = 152;
constexpr int kLineHeight = 17;

QModelIndex cellOf(const QModelIndex& index, int column) {
    return index.sibling(index.row(), column);
}

QRect valueRect(const QRect& slide, int line) {
    return QRect(slide.left() + kValueLeft, slide.top() + ResultSlideDelegate::kLineOffsets[line],
                 std::max(0, slide.right() - kValueLeft - slide.left()), kLineHeight);
}

} // namespace

ResultSlideDelegate::ResultSlideDelegate(std::function<QIcon(int)> image, QObject* parent)
    : QStyledItemDelegate(parent), image_(std::move(image)) {}

QRect ResultSlideDelegate::CheckBoxRect(const QRect& slide) {
    return QRect(slide.left(), slide.top() + 2, kCheckWidth, kCheckWidth);
}

int ResultSlideDelegate::ValueLineAt(const QRect& slide, const QPoint& pos) {
    for (int line = 0; line < 5; ++line)
        if (valueRect(slide, line).contains(pos))
            return line;
    return -1;
}

QString ResultSlideDelegate::ShownValue(const QModelIndex& index, int line, const QRect& slide,
                                        const QFontMetrics& metrics) {
    const QString value = cellOf(index, ResultModel::colKeyLocation + line).data().toString();
    // A key location is cut in the middle: its root and the key's own name stay in sight.
    const Qt::TextElideMode mode = line == 0 ? Qt::ElideMiddle : Qt::ElideRight;
    return metrics.elidedText(value, mode, valueRect(slide, line).width());
}

void ResultSlideDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    painter->save();
    const QRect slide = option.rect;
    const QColor text = PaintSlideBackground(painter, option);

    QStyleOptionButton check;
    check.rect = CheckBoxRect(slide);
    check.state = QStyle::State_Enabled;
    const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    check.state |= checked ? QStyle::State_On : QStyle::State_Off;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_CheckBox, &check, painter, widget);

    const int imageIndex = cellOf(index, ResultModel::colImage).data().toInt();
    image_(imageIndex).paint(painter, QRect(slide.left() + kImageLeft, slide.top() + 2, 16, 16));

    QFont bold = option.font;
    bold.setBold(true);
    painter->setPen(text);
    for (int line = 0; line < 5; ++line) {
        const int top = slide.top() + kLineOffsets[line];
        const QRect labelRect(slide.left() + kLabelLeft, top, kLabelWidth, kLineHeight);
        painter->setFont(bold);
        painter->drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
                          cellOf(index, ResultModel::colFirstLabel + line).data().toString());
        painter->setFont(option.font);
        painter->drawText(valueRect(slide, line), Qt::AlignLeft | Qt::AlignVCenter,
                          ShownValue(index, line, slide, option.fontMetrics));
    }
    painter->restore();
}

QSize ResultSlideDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    // The list stretches the slide to its width.
    return QSize(1, kSlideHeight);
}

bool ResultSlideDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        // A value cut short shows its whole text: what a repair deletes must be readable.
        const int line = ValueLineAt(option.rect, event->pos());
        if (line >= 0) {
            const QString value =
                cellOf(index, ResultModel::colKeyLocation + line).data().toString();
            if (ShownValue(index, line, option.rect, option.fontMetrics) != value) {
                QToolTip::showText(event->globalPos(), value, view, valueRect(option.rect, line));
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

bool ResultSlideDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    const auto flip = [&] {
        const bool checked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        return model->setData(cellOf(index, ResultModel::colCheck),
                              checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    };
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            CheckBoxRect(option.rect).contains(mouse->position().toPoint()))
            return flip();
    } else if (event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space)
            return flip();
    }
    return false;
}

} // namespace ui
