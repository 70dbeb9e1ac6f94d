#include "ui/WizardHeader.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

namespace ui {

WizardHeader::WizardHeader(QWidget* parent) : QWidget(parent) {
    setObjectName("pnlHeader");
    setFixedHeight(kHeight);
    ImageTitle_ = new QLabel(this);
    ImageTitle_->setObjectName("ImageTitle");
    ImageTitle_->setGeometry(8, (kHeight - 72) / 2, 72, 72);
    lblWizardCaption_ = new QLabel(this);
    lblWizardCaption_->setObjectName("lblWizardCaption");
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(15);
    lblWizardCaption_->setFont(bold);
    lblWizardCaption_->setStyleSheet("color: white");
    lblWizardCaption_->setGeometry(96, 30, 540, 22);
    lblComment_ = new QLabel(this);
    lblComment_->setObjectName("lblComment");
    lblComment_->setStyleSheet("color: white");
    lblComment_->setGeometry(96, 54, 540, 18);
}

void WizardHeader::SetTitleImage(const QPixmap& image) {
    ImageTitle_->setPixmap(image);
}

void WizardHeader::SetCaption(const QString& caption) {
    lblWizardCaption_->setText(caption);
}

void WizardHeader::SetComment(const QString& comment) {
    lblComment_->setText(comment);
}

void WizardHeader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, QColor(0x10, 0x36, 0x9A));
    painter.fillRect(rect(), gradient);
}

} // namespace ui
