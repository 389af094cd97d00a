#include "eds_tree_model.h"

using tervix::EDSNode;
using tervix::kEdsRoot;

EdsTreeModel::EdsTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void EdsTreeModel::Load(tervix::EdsTree tree)
{
    beginResetModel();
    tree_.emplace(std::move(tree));
    const std::vector<EDSNode>& nodes = tree_->Nodes();
    rootChildren_.clear();
    childCount_.assign(nodes.size(), 0);
    row_.assign(nodes.size(), 0);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::size_t parent = nodes[i].parent;
        if (parent == kEdsRoot) {
            row_[i] = static_cast<std::uint32_t>(rootChildren_.size());
            rootChildren_.push_back(static_cast<std::uint32_t>(i));
        } else {
            row_[i] = childCount_[parent]++;
        }
    }
    endResetModel();
}

QModelIndex EdsTreeModel::RootIndex() const
{
    return createIndex(0, 0, kRootId);
}

const EDSNode* EdsTreeModel::Node(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() == kRootId || !tree_)
        return nullptr;
    return &tree_->Nodes()[index.internalId() - 1];
}

QModelIndex EdsTreeModel::IndexOfNode(std::size_t position) const
{
    if (position >= NodeCount())
        return {};
    return createIndex(static_cast<int>(row_[position]), 0, static_cast<quintptr>(position + 1));
}

QModelIndex EdsTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? RootIndex() : QModelIndex();
    const auto r = static_cast<std::size_t>(row);
    if (parent.internalId() == kRootId)
        return r < rootChildren_.size() ? IndexOfNode(rootChildren_[r]) : QModelIndex();
    const std::size_t object = parent.internalId() - 1;
    return r < childCount_[object] ? IndexOfNode(object + 1 + r) : QModelIndex();
}

QModelIndex EdsTreeModel::parent(const QModelIndex& child) const
{
    const EDSNode* node = Node(child);
    if (!node)
        return {};
    return node->parent == kEdsRoot ? RootIndex() : IndexOfNode(node->parent);
}

int EdsTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return 1;
    if (parent.column() != 0)
        return 0;
    if (parent.internalId() == kRootId)
        return static_cast<int>(rootChildren_.size());
    return static_cast<int>(childCount_[parent.internalId() - 1]);
}

int EdsTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant EdsTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const EDSNode* node = Node(index);
    if (role == Qt::ToolTipRole && node) {
        // The node text is the bare section name; its name in words comes here.
        const std::string_view name = tervix::ParameterName(*node);
        return name.empty() ? QVariant()
                            : QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    if (role != Qt::DisplayRole)
        return {};
    if (node)
        return QString::fromStdString(node->Text());
    return QString::fromLatin1(tervix::kEdsRootText.data(),
                               static_cast<qsizetype>(tervix::kEdsRootText.size()));
}
