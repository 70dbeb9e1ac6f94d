#include "ui/RegistryTreeModel.h"

#include "app/AnsiText.h"
#include "registry/KeyBrowsing.h"
#include "registry/RootKeys.h"
#include "registry/TRegPathManager.h"
#include "ui/Images.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QGuiApplication>

namespace ui {

struct RegistryTreeModel::Node {
    Node* parent = nullptr;
    int row = 0;
    NodeKind kind = NodeKind::Key;
    std::string name; // machine text
    QString text;
    enum class SubKeys : signed char { Unknown, None, Some };
    SubKeys subKeys = SubKeys::Unknown;
    bool loaded = false;
    std::vector<std::unique_ptr<Node>> children;

    Node* addChild(NodeKind childKind, std::string childName) {
        auto child = std::make_unique<Node>();
        child->parent = this;
        child->row = int(children.size());
        child->kind = childKind;
        child->text = app::FromAnsi(childName);
        child->name = std::move(childName);
        children.push_back(std::move(child));
        return children.back().get();
    }
};

RegistryTreeModel::RegistryTreeModel(QObject* parent)
    : QAbstractItemModel(parent), topIcon_(TreeTopIcon()), keyIcon_(TreeNodeIcon(false)),
      branchIcon_(TreeNodeIcon(true)) {
    buildTop();
}

void RegistryTreeModel::buildTop() {
    root_ = std::make_unique<Node>();
    root_->loaded = true;
    Node* top = root_->addChild(NodeKind::Top, kTopNodeText);
    top->loaded = true;
    top->subKeys = Node::SubKeys::Some;
    for (HKEY hive : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                      HKEY_CURRENT_CONFIG})
        top->addChild(NodeKind::Hive, RootKeyToName(hive));
}

void RegistryTreeModel::Reload() {
    beginResetModel();
    buildTop();
    endResetModel();
}

RegistryTreeModel::~RegistryTreeModel() = default;

RegistryTreeModel::Node* RegistryTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex RegistryTreeModel::TopIndex() const {
    return createIndex(0, 0, root_->children.front().get());
}

RegistryTreeModel::NodeKind RegistryTreeModel::Kind(const QModelIndex& index) const {
    return index.isValid() ? nodeOf(index)->kind : NodeKind::Top;
}

std::string RegistryTreeModel::KeyPath(const QModelIndex& index) const {
    std::string path;
    for (const Node* node = nodeOf(index); node && node->kind != NodeKind::Top; node = node->parent)
        path = path.empty() ? node->name : node->name + "\\" + path;
    return path;
}

std::string RegistryTreeModel::Name(const QModelIndex& index) const {
    return nodeOf(index)->name;
}

bool RegistryTreeModel::hasSubKeys(Node& node) const {
    if (node.subKeys == Node::SubKeys::Unknown) {
        bool some = false;
        try {
            TRegPathManager path;
            path.SetPath(KeyPath(createIndex(node.row, 0, &node)));
            some = KeyHasSubKeys(path.RootKey(), path.SubKey());
        } catch (const EInvalidRootName&) {
            // A node the tree cannot name counts as one without subkeys.
        }
        node.subKeys = some ? Node::SubKeys::Some : Node::SubKeys::None;
    }
    return node.subKeys == Node::SubKeys::Some;
}

void RegistryTreeModel::LoadChildren(const QModelIndex& index) {
    if (canFetchMore(index))
        fetchMore(index);
}

QModelIndex RegistryTreeModel::FindChild(const QModelIndex& parent, const std::string& name) {
    LoadChildren(parent);
    const Node* node = nodeOf(parent);
    for (const auto& child : node->children)
        if (child->name == name)
            return createIndex(child->row, 0, child.get());
    return {};
}

QModelIndex RegistryTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    if (column != 0 || row < 0 || size_t(row) >= node->children.size())
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex RegistryTreeModel::parent(const QModelIndex& child) const {
    const Node* node = nodeOf(child);
    if (!child.isValid() || node->parent == root_.get())
        return {};
    return createIndex(node->parent->row, 0, node->parent);
}

int RegistryTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

int RegistryTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant RegistryTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    Node* node = nodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
        return node->text;
    case Qt::DecorationRole:
        if (node->kind == NodeKind::Top)
            return topIcon_;
        return hasSubKeys(*node) ? branchIcon_ : keyIcon_;
    default:
        return {};
    }
}

Qt::ItemFlags RegistryTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool RegistryTreeModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid())
        return true;
    return hasSubKeys(*nodeOf(parent));
}

bool RegistryTreeModel::canFetchMore(const QModelIndex& parent) const {
    if (!parent.isValid())
        return false;
    Node* node = nodeOf(parent);
    return !node->loaded && hasSubKeys(*node);
}

void RegistryTreeModel::fetchMore(const QModelIndex& parent) {
    Node* node = nodeOf(parent);
    if (!parent.isValid() || node->loaded)
        return;
    node->loaded = true;
    std::vector<std::string> names;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        TRegPathManager path;
        path.SetPath(KeyPath(parent));
        names = SortedSubKeyNames(path.RootKey(), path.SubKey());
    } catch (const EInvalidRootName& e) {
        QGuiApplication::restoreOverrideCursor();
        ShowMessageBox(QApplication::activeWindow(), "Hivewarden", QString::fromUtf8(e.what()),
                       QMessageBox::Critical);
        return;
    }
    if (!names.empty()) {
        beginInsertRows(parent, 0, int(names.size()) - 1);
        node->children.reserve(names.size());
        for (std::string& name : names)
            node->addChild(NodeKind::Key, std::move(name));
        endInsertRows();
    }
    QGuiApplication::restoreOverrideCursor();
}

} // namespace ui
