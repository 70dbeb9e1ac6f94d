#include "ui/ElidedLabel.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace ui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode)
    : QLabel(text, parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The text cannot be selected where it is cut: its menu copies the whole of it.
    auto* copy = new QAction("&Copy", this);
    copy->setObjectName("actCopy");
    connect(copy, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(this->text()); });
    addAction(copy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString ElidedLabel::ShownText() const {
    return fontMetrics().elidedText(text(), mode_, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const {
    const QSize hint = QLabel::minimumSizeHint();
    return {std::min(hint.width(), fontMetrics().horizontalAdvance(QString(8, 'x'))),
            hint.height()};
}

bool ElidedLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // The label's own tooltip, if any, wins; else the whole text while it is cut.
        if (toolTip().isEmpty()) {
            const auto* help = static_cast<QHelpEvent*>(event);
            if (IsCut())
                QToolTip::showText(help->globalPos(), text(), this);
            else
                QToolTip::hideText();
            return true;
        }
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(),
                          int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

} // namespace ui
