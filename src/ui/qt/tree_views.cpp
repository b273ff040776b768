// Tree views, the DetailTree model and the adapter tree sink.
#include "ui/qt/tree_views.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>

#include "decode/section_states.h"

namespace kestrine {

namespace {

bool HasNextSibling(const QModelIndex& index)
{
    return index.isValid() && index.model()->rowCount(index.parent()) > index.row() + 1;
}

}  // namespace

void LinedTreeView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    // One column of indentation per level; the item's own column holds its box and the
    // elbow, each ancestor's column a straight line while that ancestor has siblings below.
    int depth = 0;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) ++depth;
    const int column = depth + (rootIsDecorated() ? 1 : 0) - 1;
    if (column < 0) return;
    const int step = indentation();
    const int middleY = rect.top() + rect.height() / 2;
    const auto centreX = [&](int level) { return rect.left() + level * step + step / 2; };

    painter->save();
    QPen dotted(palette().color(QPalette::Dark), 1, Qt::DotLine);
    painter->setPen(dotted);
    const int x = centreX(column);
    const bool first = index.row() == 0 && !index.parent().isValid();  // no line above the first root
    painter->drawLine(x, first ? middleY : rect.top(), x, HasNextSibling(index) ? rect.bottom() : middleY);
    painter->drawLine(x, middleY, rect.left() + (column + 1) * step - 2, middleY);
    QModelIndex ancestor = index.parent();
    for (int level = column - 1; level >= 0 && ancestor.isValid(); --level, ancestor = ancestor.parent())
        if (HasNextSibling(ancestor)) painter->drawLine(centreX(level), rect.top(), centreX(level), rect.bottom());

    if (model()->hasChildren(index)) {
        const int half = 4;
        const QRect box(x - half, middleY - half, 2 * half, 2 * half);
        painter->setPen(QPen(palette().color(QPalette::Dark), 1));
        painter->fillRect(box, palette().base());
        painter->drawRect(box);
        painter->setPen(QPen(palette().color(QPalette::Text), 1));
        painter->drawLine(box.left() + 2, middleY, box.right() - 2, middleY);
        if (!isExpanded(index)) painter->drawLine(x, box.top() + 2, x, box.bottom() - 2);
    }
    painter->restore();
}

void LinedTreeView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (m_fullRow && selectionModel()->isSelected(index))
        painter->fillRect(QRect(0, option.rect.top(), viewport()->width(), option.rect.height()), palette().highlight());
    if (index != m_hot) {
        QTreeView::drawRow(painter, option, index);
        return;
    }
    QStyleOptionViewItem hot = option;
    hot.font.setUnderline(true);
    if (!selectionModel()->isSelected(index)) hot.palette.setColor(QPalette::Text, palette().color(QPalette::Link));
    QTreeView::drawRow(painter, hot, index);
}

void LinedTreeView::mouseMoveEvent(QMouseEvent* event)
{
    SetHotItem(indexAt(event->position().toPoint()));
    QTreeView::mouseMoveEvent(event);
}

bool LinedTreeView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) SetHotItem(QModelIndex());  // the pointer left the items
    return QTreeView::viewportEvent(event);
}

void LinedTreeView::SetHotItem(const QModelIndex& index)
{
    if (index == m_hot) return;
    const QModelIndex old = m_hot;
    m_hot = index;
    // Only the two rows change.
    if (old.isValid()) viewport()->update(QRect(0, visualRect(old).top(), viewport()->width(), visualRect(old).height()));
    if (index.isValid()) viewport()->update(QRect(0, visualRect(index).top(), viewport()->width(), visualRect(index).height()));
}

void ConfigureTreeView(QTreeView* view, bool expandsOnDoubleClick)
{
    view->setHeaderHidden(true);
    view->setRootIsDecorated(true);  // expand buttons and lines at the root
    view->setItemsExpandable(true);
    view->setDragEnabled(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setMouseTracking(true);  // track-select: the item under the pointer is highlighted
    view->setAttribute(Qt::WA_Hover);
    view->setExpandsOnDoubleClick(expandsOnDoubleClick);
    view->setUniformRowHeights(true);
    view->setTextElideMode(Qt::ElideNone);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setStretchLastSection(false);
}

void DetailTreeModel::BeginRebuild()
{
    beginResetModel();
    m_tree.Clear();
    m_children.clear();
    m_rows.clear();
}

void DetailTreeModel::EndRebuild()
{
    // Node ids grow in insertion order and lines are only appended, so walking the nodes
    // in id order lists every parent's children in their order.
    const auto size = static_cast<NodeId>(m_tree.Size());
    m_children.assign(static_cast<size_t>(size) + 1, {});
    m_rows.assign(static_cast<size_t>(size), 0);
    for (NodeId node = 0; node < size; ++node) {
        std::vector<NodeId>& siblings = m_children[static_cast<size_t>(m_tree.Parent(node) + 1)];
        m_rows[static_cast<size_t>(node)] = static_cast<int>(siblings.size());
        siblings.push_back(node);
    }
    endResetModel();
}

const std::vector<NodeId>& DetailTreeModel::ChildrenOf(NodeId node) const
{
    static const std::vector<NodeId> none;
    const auto slot = static_cast<size_t>(node + 1);
    return slot < m_children.size() ? m_children[slot] : none;
}

NodeId DetailTreeModel::Node(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<NodeId>(index.internalId()) : NO_NODE;
}

QModelIndex DetailTreeModel::IndexOf(NodeId node) const
{
    if (node < 0 || static_cast<size_t>(node) >= m_rows.size()) return {};
    return createIndex(m_rows[static_cast<size_t>(node)], 0, static_cast<quintptr>(node));
}

QModelIndex DetailTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const std::vector<NodeId>& children = ChildrenOf(Node(parent));
    if (column != 0 || row < 0 || static_cast<size_t>(row) >= children.size()) return {};
    return createIndex(row, 0, static_cast<quintptr>(children[static_cast<size_t>(row)]));
}

QModelIndex DetailTreeModel::parent(const QModelIndex& child) const
{
    const NodeId node = Node(child);
    return node == NO_NODE ? QModelIndex() : IndexOf(m_tree.Parent(node));
}

int DetailTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0) return 0;
    return static_cast<int>(ChildrenOf(Node(parent)).size());
}

int DetailTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant DetailTreeModel::data(const QModelIndex& index, int role) const
{
    const NodeId node = Node(index);
    if (node == NO_NODE) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        const std::string_view text = m_tree.Text(node);
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (role == ITEM_DATA_ROLE) return static_cast<qulonglong>(m_tree.Tag(node));
    return {};
}

void ApplyExpandedFlags(QTreeView* view, const DetailTreeModel& model)
{
    const DetailTree& tree = model.Tree();
    for (NodeId node = 0; node < static_cast<NodeId>(tree.Size()); ++node)
        if (tree.Expanded(node)) view->expand(model.IndexOf(node));
}

}  // namespace kestrine
