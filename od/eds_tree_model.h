// The object tree as a model over the EDS reader's nodes: no item objects,
// so a file of tens of thousands of sections is shown as soon as it is read.
// A node shows its section's name; its tooltip is the section's ParameterName.
#pragma once

#include "eds_reader.h"

#include <QAbstractItemModel>

#include <cstdint>
#include <optional>
#include <vector>

class EdsTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit EdsTreeModel(QObject* parent = nullptr);

    // Replaces the sections under the root (the root itself always exists).
    void Load(tervix::EdsTree tree);

    QModelIndex RootIndex() const;
    // The section a tree node shows; nullptr for the root and invalid indices.
    const tervix::EDSNode* Node(const QModelIndex& index) const;
    // The tree node of section `position` (its place in the file).
    QModelIndex IndexOfNode(std::size_t position) const;
    std::size_t NodeCount() const { return tree_ ? tree_->Nodes().size() : 0; }
    const tervix::EdsTree* Tree() const { return tree_ ? &*tree_ : nullptr; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    // Internal ids: 0 the root, n + 1 the section at position n.
    static constexpr quintptr kRootId = 0;

    std::optional<tervix::EdsTree> tree_;
    // Sections are in file order and a sub-object always hangs under the
    // latest object before it, so an object's children are the sections
    // right after it: their count is all that needs storing. The root's
    // children are listed, as orphan sub-objects sit among them.
    std::vector<std::uint32_t> rootChildren_;
    std::vector<std::uint32_t> childCount_;
    std::vector<std::uint32_t> row_;
};
