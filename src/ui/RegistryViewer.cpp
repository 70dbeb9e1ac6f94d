#include "ui/RegistryViewer.h"

#include "app/AnsiText.h"
#include "registry/SplitFns.h"
#include "ui/CutTextToolTips.h"
#include "ui/RegistryTreeModel.h"
#include "ui/RegistryValueModel.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>

namespace ui {

namespace {

// Key names as the registry compares them: through the code page's upper case.
bool sameKeyName(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && FindTextFrom(a, b) == 1;
}

// Nothing in the window may change the registry: no editors, no context menus.
void makeReadOnly(QTreeView& view) {
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.setContextMenuPolicy(Qt::NoContextMenu);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    // Every row is one line: the view need not measure a long list row by row.
    view.setUniformRowHeights(true);
}

} // namespace

RegistryViewer::RegistryViewer(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmRegistryViewer");
    setWindowTitle("Registry Editor");
    resize(880, 520);
    // A window of its own beside the program's: closing it only hides it, and it keeps
    // no program running once the program's windows are closed.
    setAttribute(Qt::WA_QuitOnClose, false);

    keys_ = new RegistryTreeModel(this);
    values_ = new RegistryValueModel(this);

    auto* split = new QSplitter(Qt::Horizontal, this);
    tvRegistry_ = new QTreeView(split);
    tvRegistry_->setObjectName("tvRegistry");
    tvRegistry_->setModel(keys_);
    tvRegistry_->setHeaderHidden(true);
    makeReadOnly(*tvRegistry_);
    ShowCutTextsAsToolTips(*tvRegistry_);
    tvRegistry_->expand(keys_->TopIndex());

    lvValues_ = new QTreeView(split);
    lvValues_->setObjectName("lvValues");
    lvValues_->setModel(values_);
    lvValues_->setRootIsDecorated(false);
    lvValues_->setItemsExpandable(false);
    lvValues_->setAllColumnsShowFocus(true);
    makeReadOnly(*lvValues_);
    ShowCutTextsAsToolTips(*lvValues_);
    lvValues_->header()->setStretchLastSection(true);
    lvValues_->header()->setSectionsMovable(false);
    lvValues_->setColumnWidth(RegistryValueModel::NameColumn, 170);
    lvValues_->setColumnWidth(RegistryValueModel::TypeColumn, 130);

    split->addWidget(tvRegistry_);
    split->addWidget(lvValues_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    split->setSizes({300, 580});
    split->setChildrenCollapsible(false);
    setCentralWidget(split);

    lblKeyPath_ = new QLabel(this);
    lblKeyPath_->setObjectName("lblKeyPath");
    lblKeyPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(lblKeyPath_, 1);
    statusBar()->setSizeGripEnabled(true);

    QMenu* file = menuBar()->addMenu("&File");
    QAction* exit = file->addAction("E&xit");
    exit->setObjectName("actExit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu("&View");
    QAction* refresh = view->addAction("&Refresh");
    refresh->setObjectName("actRefresh");
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    connect(refresh, &QAction::triggered, this, &RegistryViewer::Refresh);

    connect(tvRegistry_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &RegistryViewer::keyChanged);
    tvRegistry_->setCurrentIndex(keys_->TopIndex());
}

void RegistryViewer::keyChanged() {
    const QModelIndex current = tvRegistry_->currentIndex();
    const std::string location =
        current.isValid() && keys_->Kind(current) != RegistryTreeModel::NodeKind::Top
            ? keys_->KeyPath(current)
            : std::string();
    values_->ShowKey(location);
    lblKeyPath_->setText(app::FromAnsi(location));
}

std::string RegistryViewer::SelectedKeyLocation() const {
    return values_->KeyLocation();
}

void RegistryViewer::SelectKeyLocation(const std::string& keyLocation) {
    std::vector<std::string> names;
    SplitByChar(keyLocation, '\\', names);
    QModelIndex reached = keys_->TopIndex();
    for (const std::string& name : names) {
        keys_->LoadChildren(reached);
        QModelIndex found;
        for (int row = 0; row < keys_->rowCount(reached) && !found.isValid(); ++row) {
            const QModelIndex child = keys_->index(row, 0, reached);
            if (sameKeyName(keys_->Name(child), name))
                found = child;
        }
        if (!found.isValid())
            break;
        tvRegistry_->expand(reached);
        reached = found;
    }
    if (tvRegistry_->currentIndex() == reached)
        keyChanged(); // the same key again: its values as they are now
    else
        tvRegistry_->setCurrentIndex(reached);
    tvRegistry_->scrollTo(reached);
    tvRegistry_->setFocus();
}

bool RegistryViewer::SelectValue(const std::string& name) {
    const int row = values_->RowOf(name);
    if (row < 0) {
        lvValues_->clearSelection();
        return false;
    }
    const QModelIndex index = values_->index(row, 0);
    lvValues_->setCurrentIndex(index);
    lvValues_->scrollTo(index);
    lvValues_->setFocus();
    return true;
}

void RegistryViewer::Refresh() {
    const bool top = keys_->Kind(tvRegistry_->currentIndex()) == RegistryTreeModel::NodeKind::Top;
    const std::string location = SelectedKeyLocation();
    const QModelIndex value = lvValues_->currentIndex();
    const bool hadValue = value.isValid() && lvValues_->selectionModel()->isSelected(value);
    const std::string valueName = hadValue ? values_->Name(value.row()) : std::string();
    keys_->Reload();
    tvRegistry_->expand(keys_->TopIndex());
    if (top)
        tvRegistry_->setCurrentIndex(keys_->TopIndex());
    else
        SelectKeyLocation(location);
    if (hadValue)
        SelectValue(valueName);
}

void RegistryViewer::Restart() {
    keys_->Reload();
    tvRegistry_->expand(keys_->TopIndex());
    tvRegistry_->setCurrentIndex(keys_->TopIndex());
}

} // namespace ui
