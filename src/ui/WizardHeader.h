#pragma once
// The wizard's header band: a gradient from white at the top to the wizard's blue at the
// bottom, the title image at the left, the caption and a comment beside it.

#include <QWidget>

class QLabel;

namespace ui {

class WizardHeader : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 89;
    explicit WizardHeader(QWidget* parent = nullptr);

    void SetTitleImage(const QPixmap& image);
    void SetCaption(const QString& caption);
    void SetComment(const QString& comment);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* ImageTitle_;
    QLabel* lblWizardCaption_;
    QLabel* lblComment_;
};

} // namespace ui
