#include "ui/WordWrapLabel.h"

#include <QResizeEvent>

namespace ui {

namespace {

// How many leading characters of `word` fit in `width` (at least one), moved back to just
// after the last folder separator among them when there is one.
qsizetype cutOf(const QString& word, const QFontMetrics& metrics, int width) {
    qsizetype fits = 1;
    while (fits < word.size() && metrics.horizontalAdvance(word.left(fits + 1)) <= width)
        ++fits;
    const qsizetype separator =
        std::max(word.left(fits).lastIndexOf('/'), word.left(fits).lastIndexOf('\\'));
    return separator > 0 ? separator + 1 : fits;
}

} // namespace

WordWrapLabel::WordWrapLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList WordWrapLabel::WrapAtSpaces(const QString& text, const QFontMetrics& metrics,
                                        int width) {
    QStringList lines;
    for (const QString& paragraph : text.split('\n')) {
        QString line;
        for (QString word : paragraph.split(' ', Qt::SkipEmptyParts)) {
            const QString joined = line.isEmpty() ? word : line + ' ' + word;
            if (metrics.horizontalAdvance(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.isEmpty())
                lines << line;
            // A word wider than a line goes on lines of its own.
            while (word.size() > 1 && metrics.horizontalAdvance(word) > width) {
                const qsizetype cut = cutOf(word, metrics, width);
                lines << word.left(cut);
                word = word.mid(cut);
            }
            line = word;
        }
        lines << line;
    }
    return lines;
}

void WordWrapLabel::SetWholeText(const QString& text) {
    whole_ = text;
    rewrap();
}

void WordWrapLabel::rewrap() {
    const int width = contentsRect().width();
    setText(width > 0 ? WrapAtSpaces(whole_, fontMetrics(), width).join('\n') : whole_);
}

int WordWrapLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int inner = std::max(1, width - margins.left() - margins.right() - 2 * margin());
    const qsizetype lines = WrapAtSpaces(whole_, fontMetrics(), inner).size();
    return int(lines) * fontMetrics().lineSpacing() + margins.top() + margins.bottom() +
           2 * margin();
}

QSize WordWrapLabel::sizeHint() const {
    const int width = this->width() > 0 ? this->width() : 400;
    return {width, heightForWidth(width)};
}

QSize WordWrapLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QString(8, 'x')), fontMetrics().lineSpacing()};
}

void WordWrapLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        rewrap();
}

} // namespace ui
