#include "ui/TfrmOptions.h"
#include "ui/BoldLabel.h"

#include "app/AnsiText.h"
#include "app/HostAutoStart.h"
#include "registry/SplitFns.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "ui/MessageBox.h"
#include "ui/TfrmBrowsekey.h"
#include "win32/machine/Machine.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ui {

namespace {

// The lines of a stored text: a line ends at CR LF, CR or LF; a break at the very end
// starts no further line.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName("frmOptions");
    setWindowTitle("Options");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(501, 483);

    lsExclude_ = new QListWidget(this);
    lsExclude_->setObjectName("lsExclude");
    lsExclude_->setSelectionMode(QAbstractItemView::SingleSelection);
    btnAdd_ = new QPushButton("&Add", this);
    btnAdd_->setObjectName("btnAdd");
    btnEdit_ = new QPushButton("&Edit", this);
    btnEdit_->setObjectName("btnEdit");
    btnRemove_ = new QPushButton("&Remove", this);
    btnRemove_->setObjectName("btnRemove");
    for (QPushButton* button : {btnAdd_, btnEdit_, btnRemove_})
        button->setAutoDefault(false);
    connect(btnAdd_, &QPushButton::clicked, this, [this] { browseAndAdd(nullptr); });
    connect(btnEdit_, &QPushButton::clicked, this, [this] {
        if (const QListWidgetItem* item = lsExclude_->currentItem()) {
            const std::string line = item->data(Qt::UserRole).toByteArray().toStdString();
            browseAndAdd(&line);
        }
    });
    connect(btnRemove_, &QPushButton::clicked, this, &TfrmOptions::removeSelected);
    connect(lsExclude_, &QListWidget::itemSelectionChanged, this, &TfrmOptions::updateActions);

    chkReplace_ = new QCheckBox("Replace old backup file if", this);
    chkReplace_->setObjectName("chkReplace");
    edtAmount_ = new QSpinBox(this);
    edtAmount_->setObjectName("edtAmount");
    edtAmount_->setRange(1, 50);
    edtAmount_->setValue(10);
    chkAutoRun_ = new QCheckBox("Automatically run when system startup", this);
    chkAutoRun_->setObjectName("chkAutoRun");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("btnOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(btnAdd_);
    listButtons->addWidget(btnEdit_);
    listButtons->addWidget(btnRemove_);
    listButtons->addStretch();
    auto* list = new QHBoxLayout;
    list->addWidget(lsExclude_, 1);
    list->addLayout(listButtons);

    auto* replace = new QHBoxLayout;
    replace->addWidget(chkReplace_);
    replace->addWidget(edtAmount_);
    replace->addWidget(new QLabel("or more backup files already exist", this));
    replace->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(16, 14, 16, 14);
    page->addWidget(BoldLabel("Exclusions Keys", this));
    page->addLayout(list, 1);
    page->addSpacing(12);
    page->addWidget(BoldLabel("General Options", this));
    page->addLayout(replace);
    page->addWidget(chkAutoRun_);
    page->addSpacing(12);
    page->addLayout(buttons);

    updateActions();
}

void TfrmOptions::updateActions() {
    const bool selected = !lsExclude_->selectedItems().isEmpty();
    btnAdd_->setEnabled(true);
    btnEdit_->setEnabled(selected);
    btnRemove_->setEnabled(selected);
}

void TfrmOptions::addLine(const std::string& line) {
    auto* item = new QListWidgetItem(app::FromAnsi(line), lsExclude_);
    item->setData(Qt::UserRole, QByteArray::fromStdString(line));
}

std::vector<std::string> TfrmOptions::ExclusionLines() const {
    std::vector<std::string> lines;
    for (int row = 0; row < lsExclude_->count(); ++row)
        lines.push_back(lsExclude_->item(row)->data(Qt::UserRole).toByteArray().toStdString());
    return lines;
}

bool TfrmOptions::LineHoldsKeyPath(const std::string& line, const std::string& path) {
    // A match must end where a key name ends: "HKEY_CURRENT_USER\Soft" is not within
    // the line "HKEY_CURRENT_USER\Software".
    for (size_t at = FindTextFrom(line, path); at != 0; at = FindTextFrom(line, path, at + 1)) {
        const size_t end = at - 1 + path.size();
        if (end == line.size() || line[end] == '\\' || line[end] == '(')
            return true;
    }
    return false;
}

void TfrmOptions::browseAndAdd(const std::string* presetLine) {
    TfrmBrowsekey browse(this);
    if (presetLine) {
        const size_t bracket = presetLine->find('(');
        if (bracket != std::string::npos) {
            browse.SetKeyPath(presetLine->substr(0, bracket));
            browse.SetIncludeSubKeys(true);
        } else {
            browse.SetKeyPath(*presetLine);
        }
    }
    if (browse.exec() != QDialog::Accepted)
        return;
    const std::string path = browse.KeyPath();
    for (const std::string& line : ExclusionLines()) {
        if (LineHoldsKeyPath(line, path)) {
            ShowMessageBox(this, "Options", "Exclusions Keys already exist!",
                           QMessageBox::Information);
            return;
        }
    }
    addLine(browse.IncludeSubKeys() ? path + kIncludeSubkeySuffix : path);
}

void TfrmOptions::removeSelected() {
    QListWidgetItem* item = lsExclude_->currentItem();
    if (!item || !item->isSelected())
        return;
    if (ShowMessageBox(this, "Confirm", "Permanently remove the selected item?",
                       QMessageBox::Question,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    delete item;
    updateActions();
}

void TfrmOptions::LoadFromStore(TfxRegFile& store) {
    if (!store.OpenKey(kOptionsKey, false))
        return;
    if (store.ValueExists(kExclusionsKeyValue)) {
        lsExclude_->clear();
        for (const std::string& line : splitLines(store.ReadString(kExclusionsKeyValue)))
            addLine(line);
    }
    if (store.ValueExists(kCanReplaceValue))
        chkReplace_->setChecked(store.ReadBool(kCanReplaceValue));
    if (store.ValueExists(kReplaceAmountValue))
        edtAmount_->setValue(store.ReadInteger(kReplaceAmountValue));
    if (store.ValueExists(kAutoRunValue))
        chkAutoRun_->setChecked(store.ReadBool(kAutoRunValue));
    store.CloseKey();
    updateActions();
}

void TfrmOptions::SaveToStore(TfxRegFile& store) {
    if (!store.OpenKey(kOptionsKey, true))
        return;
    std::string exclusions;
    for (const std::string& line : ExclusionLines())
        exclusions += line + "\r\n";
    store.WriteString(kExclusionsKeyValue, exclusions);
    store.WriteBool(kCanReplaceValue, chkReplace_->isChecked());
    store.WriteInteger(kReplaceAmountValue, edtAmount_->value());
    store.WriteBool(kAutoRunValue, chkAutoRun_->isChecked());
    store.CloseKey();
    // Auto start concerns the program on the host, not the Windows installation.
    QString error;
    if (!app::SetHostAutoStart(QString::fromStdString(win32::MachineFolder()),
                               QCoreApplication::applicationFilePath(), chkAutoRun_->isChecked(),
                               error))
        ShowMessageBox(this, "Options", error, QMessageBox::Warning);
}

} // namespace ui
