#include "ui/TfrmAbout.h"

#include "app/AnsiText.h"
#include "registry/OSInfo.h"
#include "win32/system/MemoryStatus.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace ui {

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(478, 363);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto* product = new QLabel("Hivewarden", this);
    product->setObjectName("lblProduct");
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    product->setFont(big);
    product->setStyleSheet("color: #10369A");

    auto* version = new QLabel("Version 1.0", this);
    version->setObjectName("lblVersion");

    lblSys_ = new QLabel(this);
    lblSys_->setObjectName("lblSys");
    lblMemory_ = new QLabel(this);
    lblMemory_->setObjectName("lblMemory");
    for (QLabel* line : {lblSys_, lblMemory_})
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* close = new QPushButton("Close", this);
    close->setObjectName("btnClose");
    close->setDefault(true);
    close->setAutoDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(32, 28, 32, 20);
    page->addWidget(product);
    page->addWidget(version);
    page->addSpacing(36);
    page->addWidget(lblSys_);
    page->addSpacing(6);
    page->addWidget(lblMemory_);
    page->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    page->addLayout(buttons);
}

QString TfrmAbout::MemoryLine(uint64_t totalPhysicalBytes) {
    // nearbyint rounds halves to the even number in the default rounding mode.
    const double megabytes = std::nearbyint(double(totalPhysicalBytes) / 1024.0 / 1024.0);
    return QString("Physical memory of the computer Hivewarden runs on: %1 MB")
        .arg(QString::number(megabytes, 'f', 0));
}

QString TfrmAbout::SystemLine(const QString& productName, const QString& servicePack, bool win64) {
    const QString name = win64 && !productName.isEmpty() ? productName + " 64-bit" : productName;
    return servicePack.isEmpty() ? name : name + " (" + servicePack + ")";
}

void TfrmAbout::FillSystemInfo() {
    MEMORYSTATUS memory{};
    memory.dwLength = sizeof memory;
    // The installation is not running: the memory that means something here is that of
    // the host computer.
    GlobalMemoryStatus(&memory);
    lblMemory_->setText(MemoryLine(memory.dwTotalPhys));
    lblSys_->setText(
        SystemLine(app::FromAnsi(OSProductName()), app::FromAnsi(OSServicePack()), IsWin64()));
    setWindowTitle("About");
}

} // namespace ui
