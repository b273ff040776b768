// The detail window: template, cascade placement, filling, sizing.
#include "ui/detail_window.h"

#include <QKeyEvent>
#include <QTreeView>

#include <array>

#include "decode/packet_detail.h"
#include "decode/summary.h"
#include "ui/dialog_template.h"
#include "ui/resources.h"
#include "ui/tree_views.h"

namespace kestrine {

namespace {

constexpr std::array DETAIL_CONTROLS = {
    ControlTemplate{DETAIL_TREE_ID, ControlKind::TreeView, nullptr, 0, 0, 312, 80, 0, "Packet detail"},
};

// The caption is the packet list's column header behind "Detail:" and two blanks.
constexpr DialogTemplate DETAIL_TEMPLATE{
    DETAIL_WINDOW_ID,
    "Detail:  Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information",
    "Courier New",
    8,
    313,
    81,
    DETAIL_CONTROLS,
};

}  // namespace

QPoint g_nextDetailPosition(50, 30);

QPoint NextDetailPosition(QPoint position)
{
    position += QPoint(50, 30);
    if (position.x() > 500) position.setX(50);
    if (position.y() > 400) position.setY(30);
    return position;
}

DetailWindow::DetailWindow(QWidget* owner) : QDialog(owner)
{
    // A tool window: small caption, no task-bar button, above its owner, minimised with it.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    BuildDialog(this, DETAIL_TEMPLATE);
    setSizeGripEnabled(false);
    m_tree = ControlAs<QTreeView>(this, DETAIL_TREE_ID);
    m_model = new DetailTreeModel(this);
    m_tree->setModel(m_model);
    SetMinimumFrameSize();
}

void DetailWindow::SetMinimumFrameSize()
{
    // The minimum counts the frame; the frame is known once the window manager framed it.
    const QSize frame = frameGeometry().size() - geometry().size();
    setMinimumSize(qMax(DETAIL_MIN_WIDTH - frame.width(), 1), qMax(DETAIL_MIN_HEIGHT - frame.height(), 1));
}

void DetailWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    SetMinimumFrameSize();
}

void DetailWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // The tree fills the client area but for the last pixel column and row.
    if (m_tree) {
        m_tree->setGeometry(0, 0, width() - 1, height() - 1);
        m_tree->raise();
    }
}

void DetailWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter closes the window as Esc does (the dialog's OK command).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

DetailWindow* OpenDetailWindow(QWidget* owner, const PacketRecord& record, int64_t index)
{
    auto* window = new DetailWindow(owner);
    window->setWindowIcon(ProgramIcon());
    window->move(g_nextDetailPosition);
    g_nextDetailPosition = NextDetailPosition(g_nextDetailPosition);

    DetailTreeModel& model = *window->m_model;
    model.BeginRebuild();
    const NodeId line = AddSummaryLine(model.Tree(), record, index);
    AddPacketDetail(model.Tree(), record, line);
    model.Tree().SetExpanded(line, true);
    model.EndRebuild();
    ApplyExpandedFlags(window->m_tree, model);

    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace kestrine
