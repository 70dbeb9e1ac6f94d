#pragma once
// The key browser's tree of the live registry: "My Registry" over the five hives, each
// level read when it is first expanded. Whether a key has subkeys is asked only for the
// rows that are shown, so that a key with a hundred thousand subkeys opens at once.

#include <QAbstractItemModel>
#include <QIcon>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class RegistryTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum class NodeKind { Top, Hive, Key };

    explicit RegistryTreeModel(QObject* parent = nullptr);
    ~RegistryTreeModel() override;

    static constexpr const char* kTopNodeText = "My Registry";

    QModelIndex TopIndex() const;
    NodeKind Kind(const QModelIndex& index) const;
    // The names from the hive down joined by "\" (machine text); empty for the top node.
    std::string KeyPath(const QModelIndex& index) const;
    // The node's own name as the registry spells it.
    std::string Name(const QModelIndex& index) const;
    // The child whose name is exactly `name` (letter case counts), after reading the
    // node's subkeys if they were not read yet; invalid when there is none.
    QModelIndex FindChild(const QModelIndex& parent, const std::string& name);
    // Reads the node's subkeys now, unless they were read before.
    void LoadChildren(const QModelIndex& index);
    // Forgets every level read so far: the tree is the top node over the five hives
    // again, read anew as it is expanded.
    void Reload();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Node;
    Node* nodeOf(const QModelIndex& index) const;
    bool hasSubKeys(Node& node) const;
    void buildTop();

    std::unique_ptr<Node> root_; // holds the top node
    QIcon topIcon_, keyIcon_, branchIcon_;
};

} // namespace ui
