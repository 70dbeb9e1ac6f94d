#include "ui/TfrmBrowsekey.h"

#include "app/AnsiText.h"
#include "registry/SplitFns.h"
#include "ui/CutTextToolTips.h"
#include "ui/RegistryTreeModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ui {

TfrmBrowsekey::TfrmBrowsekey(QWidget* parent) : QDialog(parent) {
    setObjectName("frmBrowsekey");
    setWindowTitle("Browse keys");
    resize(489, 494);

    model_ = new RegistryTreeModel(this);
    tvRegistry_ = new QTreeView(this);
    tvRegistry_->setObjectName("tvRegistry");
    tvRegistry_->setModel(model_);
    tvRegistry_->setHeaderHidden(true);
    tvRegistry_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvRegistry_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row is one line with a 16-pixel image: the view need not measure a long
    // level row by row.
    tvRegistry_->setUniformRowHeights(true);
    ShowCutTextsAsToolTips(*tvRegistry_);
    tvRegistry_->expand(model_->TopIndex());

    lblKeyPath_ = new QLabel(this);
    lblKeyPath_->setObjectName("lblKeyPath");
    lblKeyPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblKeyPath_->setWordWrap(true);

    chkIncludeSub_ = new QCheckBox("Include sub keys", this);
    chkIncludeSub_->setObjectName("chkIncludeSub");

    btnOK_ = new QPushButton("OK", this);
    btnOK_->setObjectName("btnOK");
    btnOK_->setDefault(true);
    // Nothing is chosen until a key is selected.
    btnOK_->setEnabled(false);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    connect(btnOK_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tvRegistry_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmBrowsekey::selectionMoved);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chkIncludeSub_);
    buttons->addStretch();
    buttons->addWidget(btnOK_);
    buttons->addWidget(cancel);
    auto* page = new QVBoxLayout(this);
    page->addWidget(tvRegistry_, 1);
    page->addWidget(lblKeyPath_);
    page->addLayout(buttons);
}

void TfrmBrowsekey::SetIncludeSubKeys(bool include) {
    chkIncludeSub_->setChecked(include);
}

bool TfrmBrowsekey::IncludeSubKeys() const {
    return chkIncludeSub_->isChecked();
}

void TfrmBrowsekey::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    selectPresetPath();
}

void TfrmBrowsekey::selectPresetPath() {
    std::vector<std::string> names;
    SplitByChar(keyPath_, '\\', names);
    if (names.empty())
        return;
    QModelIndex reached = model_->TopIndex();
    for (size_t i = 0; i < names.size(); ++i) {
        const QModelIndex child = model_->FindChild(reached, names[i]);
        if (!child.isValid())
            break;
        reached = child;
        if (i + 1 < names.size()) {
            model_->LoadChildren(reached);
            tvRegistry_->expand(reached);
        }
    }
    tvRegistry_->setCurrentIndex(reached);
    tvRegistry_->scrollTo(reached);
}

void TfrmBrowsekey::selectionMoved() {
    const QModelIndex current = tvRegistry_->currentIndex();
    const bool key = current.isValid() && model_->Kind(current) != RegistryTreeModel::NodeKind::Top;
    btnOK_->setEnabled(key);
    if (key) {
        keyPath_ = model_->KeyPath(current);
        lblKeyPath_->setText(app::FromAnsi(keyPath_));
    } else {
        lblKeyPath_->clear();
    }
}

} // namespace ui
