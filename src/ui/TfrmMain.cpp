#include "ui/TfrmMain.h"

#include "app/AnsiText.h"
#include "registry/OSInfo.h"
#include "registry/Privileges.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "ui/ElidedLabel.h"
#include "ui/HostPages.h"
#include "ui/MessageBox.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmRepair.h"
#include "ui/WaitingReplacements.h"
#include "ui/WordWrapLabel.h"
#include "win32/machine/Machine.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace ui {

namespace {

QPushButton* topBarLink(const QString& name, const QString& text, QWidget* parent) {
    auto* link = new QPushButton(text, parent);
    link->setObjectName(name);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setStyleSheet("QPushButton { color: white; border: none; padding: 2px 6px; }"
                        "QPushButton:hover { text-decoration: underline; }");
    return link;
}

// The two boxes of the window share one heading style: a bold title over text in the
// window's own font.
QGroupBox* headedBox(const QString& title, const char* name, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    QFont heading = box->font();
    heading.setBold(true);
    box->setFont(heading);
    return box;
}

// Children of a headed box are in the window's font, not bold as the heading.
void plainFont(QGroupBox* box) {
    QFont plain = box->font();
    plain.setBold(false);
    for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setFont(plain);
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
    setObjectName("frmMain");
    setWindowTitle("Hivewarden 1.0");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto* topBar = new QWidget(this);
    topBar->setObjectName("topBar");
    topBar->setAutoFillBackground(true);
    QPalette blue = topBar->palette();
    blue.setColor(QPalette::Window, QColor(0x10, 0x36, 0x9A));
    topBar->setPalette(blue);
    auto* lvOptions = topBarLink("lvOptions", "Options", topBar);
    auto* lvHelp = topBarLink("lvHelp", "  Help", topBar);
    auto* lvHome = topBarLink("lvHome", "  Home", topBar);
    auto* lvAbout = topBarLink("lvAbout", "  About", topBar);
    auto* bar = new QHBoxLayout(topBar);
    bar->setContentsMargins(12, 4, 12, 4);
    bar->addStretch();
    for (QPushButton* link : {lvOptions, lvHelp, lvHome, lvAbout})
        bar->addWidget(link);
    connect(lvOptions, &QPushButton::clicked, this, &TfrmMain::ShowOptions);
    connect(lvHelp, &QPushButton::clicked, this, [this] { ShowManualPage("manual.html"); });
    connect(lvHome, &QPushButton::clicked, this, [this] { ShowManualPage("index.html"); });
    connect(lvAbout, &QPushButton::clicked, this, &TfrmMain::ShowAbout);

    auto* title = new QLabel("Hivewarden", this);
    title->setObjectName("lblTitle");
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2.4);
    big.setBold(true);
    title->setFont(big);
    title->setStyleSheet("color: #10369A");

    // The three jobs: each link starts the wizard in the mode its tag names.
    auto* jobs = new QVBoxLayout;
    jobs->setSpacing(2);
    const struct {
        const char* name;
        int tag;
        const char* caption;
        const char* description;
    } links[] = {
        {"lvRepair", 1, "Clean and Repair Your Registry",
         "Hivewarden cleans and repairs invalid information in the Windows Registry to keep your "
         "PC running cleaner, faster, and error-free. "},
        {"lvBackup", 2, "Backup and Restore Your Registry",
         "Hivewarden allows you to backup your whole Windows Registry, so you can revert to the "
         "last good configuration if you encounter a system failure. "},
        {"lvCompact", 3, "Compact and Defragment Your Registry",
         "Hivewarden optimizes the Registry by removing fragmentation, deleting unused entries, "
         "and compacting the Registry to make it access fast."},
    };
    for (const auto& link : links) {
        auto* button = new QPushButton(link.caption, this);
        button->setObjectName(link.name);
        button->setProperty("tag", link.tag);
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet("QPushButton { color: #10369A; font-weight: bold; border: none;"
                              " text-align: left; padding: 0; }"
                              "QPushButton:hover { text-decoration: underline; }");
        auto* description = new QLabel(link.description, this);
        description->setWordWrap(true);
        description->setContentsMargins(16, 0, 0, 6);
        jobs->addWidget(button, 0, Qt::AlignLeft);
        jobs->addWidget(description);
        connect(button, &QPushButton::clicked, this, &TfrmMain::WizardLinkClick);
    }

    // Several installations may be mounted on the host: say which one this is.
    auto* machineBox = headedBox("Windows installation", "grpMachine", this);
    // A long folder is cut in the middle, so that the installation's own folder name stays
    // in sight; the whole path is its tooltip.
    auto* folder = new ElidedLabel(QString::fromStdString(win32::MachineFolder()), machineBox);
    folder->setObjectName("lblMachineFolder");
    const QString pack = app::FromAnsi(OSServicePack());
    QString windows = app::FromAnsi(OSProductName());
    if (!windows.isEmpty() && IsWin64())
        windows += " 64-bit";
    const TOSInfo& info = OSInfo();
    const QString number =
        QString("%1.%2.%3").arg(info.MajorVersion).arg(info.MinorVersion).arg(info.BuildNumber);
    windows = windows.isEmpty() ? "Windows " + number : windows + " (" + number + ")";
    if (!pack.isEmpty())
        windows += ", " + pack;
    auto* version = new ElidedLabel(windows, machineBox, Qt::ElideRight);
    version->setObjectName("lblMachineVersion");
    const QString userName = app::FromAnsi(CurrentUserName());
    auto* user = new ElidedLabel(userName + (IsAdmin() ? " (administrator)" : ""), machineBox,
                                 Qt::ElideRight);
    user->setObjectName("lblMachineUser");
    auto* grid = new QGridLayout(machineBox);
    grid->addWidget(new QLabel("Folder:", machineBox), 0, 0);
    grid->addWidget(folder, 0, 1);
    grid->addWidget(new QLabel("Version:", machineBox), 1, 0);
    grid->addWidget(version, 1, 1);
    grid->addWidget(new QLabel("User:", machineBox), 2, 0);
    grid->addWidget(user, 2, 1);
    // The note names command-line options: it wraps at spaces only, never after a hyphen.
    lblMachineNote_ = new WordWrapLabel(machineBox);
    lblMachineNote_->setObjectName("lblMachineNote");
    lblMachineNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblMachineNote_->hide();
    grid->addWidget(lblMachineNote_, 3, 0, 1, 2);
    lblPendingReplacements_ = new QLabel(machineBox);
    lblPendingReplacements_->setObjectName("lblPendingReplacements");
    lblPendingReplacements_->setWordWrap(true);
    lblPendingReplacements_->hide();
    grid->addWidget(lblPendingReplacements_, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    // The box's lines sit close, so that a note and the replacements that wait mostly fit
    // the window's designed size (FitHeight makes it taller when they do not).
    grid->setVerticalSpacing(2);
    plainFont(machineBox);

    auto* statusBox = headedBox("Status && Summary", "grpStatus", this);
    auto* status = new QGridLayout(statusBox);
    const auto statusLine = [&](int row, const QString& caption, const QString& name) {
        auto* label = new QLabel(caption, statusBox);
        auto* value = new QLabel(statusBox);
        value->setObjectName(name);
        status->addWidget(label, row, 0);
        status->addWidget(value, row, 1);
        return value;
    };
    lblLastscan_ = statusLine(0, "Last scan at:", "lblLastscan");
    lbllastBackup_ = statusLine(1, "Last Backup at:", "lbllastBackup");
    lbllastCompact_ = statusLine(2, "Last Compact at:", "lbllastCompact");
    auto* lvreset = new QPushButton("Click to reset statistics", statusBox);
    lvreset->setObjectName("lvreset");
    lvreset->setFlat(true);
    lvreset->setCursor(Qt::PointingHandCursor);
    lvreset->setStyleSheet("QPushButton { color: blue; text-decoration: underline; border: none;"
                           " text-align: left; padding: 0; }");
    status->addWidget(lvreset, 3, 0, 1, 2, Qt::AlignLeft);
    status->setColumnStretch(1, 1);
    status->setVerticalSpacing(2);
    plainFont(statusBox);
    connect(lvreset, &QPushButton::clicked, this, &TfrmMain::ResetStatistics);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(topBar);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(32, 12, 32, 12);
    body->addWidget(title);
    body->addSpacing(8);
    body->addLayout(jobs);
    body->addSpacing(4);
    body->addWidget(machineBox);
    body->addSpacing(8);
    body->addWidget(statusBox);
    body->addStretch();
    page->addLayout(body);
}

void TfrmMain::SetMachineNote(const QString& note) {
    lblMachineNote_->SetWholeText(note);
    lblMachineNote_->setVisible(!note.isEmpty());
    FitHeight();
}

void TfrmMain::FitHeight() {
    // The window keeps the size it was designed with; when what it must say (a long note,
    // hive replacements that wait) needs more room, it grows taller rather than lay lines
    // over one another.
    // Every layout forgets the heights it keeps: a label just shown or hidden changes them.
    for (QLayout* inner : findChildren<QLayout*>())
        inner->invalidate();
    QLayout* page = layout();
    page->activate();
    const int needed = page->hasHeightForWidth() ? page->totalHeightForWidth(kWidth)
                                                 : page->totalMinimumSize().height();
    setFixedSize(kWidth, std::max(kHeight, needed));
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowStatus();
    if (!centred_) {
        // Centred on the desktop when it first shows.
        centred_ = true;
        if (const QScreen* desktop = screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(desktop->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}

void TfrmMain::ShowStatus() {
    // Replacements that a restore or a compaction left waiting are made when the program
    // lets the machine go.
    const QString waiting = WaitingReplacementsText();
    lblPendingReplacements_->setText(waiting);
    lblPendingReplacements_->setVisible(!waiting.isEmpty());
    FitHeight();
    try {
        const TLastRunValues values = ReadLastRunValues(StoreFilePath());
        const auto show = [](QLabel* label, const std::optional<std::string>& value) {
            if (value)
                label->setText(app::FromAnsi(*value));
        };
        show(lblLastscan_, values.scan);
        show(lbllastBackup_, values.backup);
        show(lbllastCompact_, values.compact);
    } catch (const StoreError& e) {
        ShowMessageBox(this, "Hivewarden", QString::fromUtf8(e.what()), QMessageBox::Critical);
    }
}

void TfrmMain::ResetStatistics() {
    for (QLabel* label : {lblLastscan_, lbllastBackup_, lbllastCompact_})
        label->clear();
    try {
        ResetLastRunValues(StoreFilePath());
    } catch (const StoreError& e) {
        ShowMessageBox(this, "Hivewarden", QString::fromUtf8(e.what()), QMessageBox::Critical);
    }
}

void TfrmMain::WizardLinkClick() {
    const int tag = sender() ? sender()->property("tag").toInt() : 1;
    StartWizard(uint8_t(std::clamp(tag, 1, 3) - 1));
}

void TfrmMain::StartWizard(uint8_t mode) {
    {
        TfrmRepair wizard(this);
        wizard.WizardMode = mode;
        wizard.exec();
    }
    ShowStatus();
}

void TfrmMain::ShowOptions() {
    try {
        TfxRegFile store(StoreFilePath());
        TfrmOptions options(this);
        options.LoadFromStore(store);
        if (options.exec() == QDialog::Accepted)
            options.SaveToStore(store);
        store.CloseKey();
    } catch (const StoreError& e) {
        ShowMessageBox(this, "Hivewarden", QString::fromUtf8(e.what()), QMessageBox::Critical);
    }
}

void TfrmMain::ShowManualPage(const QString& page) {
    const QUrl url = ManualPage(page);
    if (url.isEmpty()) {
        ShowMessageBox(this, "Hivewarden",
                       "The manual is not installed beside the program (" +
                           QCoreApplication::applicationDirPath() + "/manual).",
                       QMessageBox::Warning);
        return;
    }
    if (!OpenOnHost(url))
        ShowMessageBox(this, "Hivewarden",
                       "No program of this desktop opens " + url.toLocalFile() +
                           ". Open it in a web browser.",
                       QMessageBox::Warning);
}

void TfrmMain::ShowAbout() {
    TfrmAbout about(this);
    about.FillSystemInfo();
    about.exec();
}

} // namespace ui
