#pragma once
// A label of plain text that wraps at spaces only. The toolkit's own wrapping may break a
// line after a hyphen, which cuts an option such as "--machine" in two; here a word is
// never broken unless it is wider than the label (a long path), and then after a folder
// separator where one fits.

#include <QLabel>
#include <QStringList>

namespace ui {

class WordWrapLabel : public QLabel {
    Q_OBJECT
public:
    explicit WordWrapLabel(QWidget* parent = nullptr);

    // The text before wrapping; text() holds it wrapped to the present width.
    void SetWholeText(const QString& text);
    QString WholeText() const { return whole_; }

    // `text` in lines no wider than `width`, broken at spaces.
    static QStringList WrapAtSpaces(const QString& text, const QFontMetrics& metrics, int width);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rewrap();

    QString whole_;
};

} // namespace ui
