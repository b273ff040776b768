// Tree views as the dialogs use them: expand buttons, connecting lines and lines at the root
// drawn as the platform's dialogs draw them, track-select, optional full-row selection, and
// a model over a DetailTree (nothing copied into widget items).
#pragma once

#include <QAbstractItemModel>
#include <QTreeView>

#include <vector>

#include "decode/detail_tree.h"

namespace kestrine {

// The role of an item's 32-bit data value: a section tag, or 0.
inline constexpr int ITEM_DATA_ROLE = Qt::UserRole;

// A tree view that draws dotted connecting lines between siblings and from parents to
// children, with a boxed plus or minus on items that have children.
class LinedTreeView : public QTreeView {
public:
    explicit LinedTreeView(QWidget* parent = nullptr) : QTreeView(parent) {}
    // The selection highlight spans the whole row, indentation included.
    void SetFullRowSelect(bool on) { m_fullRow = on; }

    // The item under the pointer (track-select); invalid when none.
    QModelIndex HotItem() const { return m_hot; }

protected:
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void SetHotItem(const QModelIndex& index);

    bool m_fullRow = false;
    QPersistentModelIndex m_hot;  // drawn underlined in the link colour, as track-select does
};

// Sets up a tree: expand buttons, lines at the root, track-select, and whether a double
// click toggles an item (trees) or is left to the dialog alone (the packet list).
void ConfigureTreeView(QTreeView* view, bool expandsOnDoubleClick);

// Shows a DetailTree. The owner fills Tree() between BeginRebuild and EndRebuild; texts
// are 8-bit and shown as Latin-1.
class DetailTreeModel final : public QAbstractItemModel {
public:
    explicit DetailTreeModel(QObject* parent = nullptr) : QAbstractItemModel(parent) {}

    DetailTree& Tree() { return m_tree; }
    const DetailTree& Tree() const { return m_tree; }
    // Empties the tree; views see an empty model until EndRebuild.
    void BeginRebuild();
    void EndRebuild();

    NodeId Node(const QModelIndex& index) const;
    QModelIndex IndexOf(NodeId node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const std::vector<NodeId>& ChildrenOf(NodeId node) const;

    DetailTree m_tree;
    std::vector<std::vector<NodeId>> m_children;  // [node + 1]: children in order; [0]: top level
    std::vector<int> m_rows;                      // row of each node under its parent
};

// Expands, in the view, every node whose expanded flag the decoders set.
void ApplyExpandedFlags(QTreeView* view, const DetailTreeModel& model);

}  // namespace kestrine
