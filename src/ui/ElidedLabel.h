#pragma once
// A one-line label for a text that may not fit: it is cut to the label's width (in the
// middle by default, so that both ends of a path stay visible) and, when cut, the whole
// text is the label's tooltip. text() is always the whole text, which the label's context
// menu copies.

#include <QLabel>

namespace ui {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideMiddle);

    // The text as it is drawn at the label's present width.
    QString ShownText() const;
    bool IsCut() const { return ShownText() != text(); }

    // Wide enough for a few letters: a long text never widens the window.
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
};

} // namespace ui
