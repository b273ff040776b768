// The detail window: template, cascade placement, filling, sizing.
#include "ui/detail_window.h"

#include <array>
#include <cstddef>

#include "decode/packet_detail.h"
#include "decode/summary.h"
#include "ui/clipboard_text.h"

namespace kestrine {

namespace {

constexpr std::array DETAIL_CONTROLS = {
    ControlTemplate{DETAIL_TREE_ID, ControlKind::TreeView, nullptr, 0, 0, 312, 80, 0, "Packet detail"},
};

int g_openDetailWindows = 0;

// Two string literals joined at compile time.
template <size_t A, size_t B>
constexpr std::array<char, A + B - 1> Join(const char (&a)[A], const char (&b)[B])
{
    std::array<char, A + B - 1> joined{};
    for (size_t i = 0; i + 1 < A; ++i) joined[i] = a[i];
    for (size_t i = 0; i < B; ++i) joined[A - 1 + i] = b[i];
    return joined;
}

// The caption is the packet list's column header behind "Detail:" and two blanks.
constexpr auto DETAIL_CAPTION = Join("Detail:  ", SUMMARY_COLUMN_HEADER);

}  // namespace

const DialogTemplate DETAIL_TEMPLATE{
    DETAIL_WINDOW_ID,
    DETAIL_CAPTION.data(),
    "Courier New",
    8,
    313,
    81,
    DialogFrame::Tool,
    DETAIL_CONTROLS,
};

ScreenPoint g_nextDetailPosition{50, 30};

ScreenPoint NextDetailPosition(ScreenPoint position)
{
    position.x += 50;
    position.y += 30;
    if (position.x > 500) position.x = 50;
    if (position.y > 400) position.y = 30;
    return position;
}

DetailWindow::DetailWindow(Dialog* owner) : m_dialog(Windows().NewDialog(DETAIL_TEMPLATE, *this, owner))
{
    ++g_openDetailWindows;
    m_dialog->SetProgramIcon();
    m_dialog->SetMinimumFrameSize(DETAIL_MIN_WIDTH, DETAIL_MIN_HEIGHT);
    m_dialog->AddContextCommand(DETAIL_TREE_ID, ContextCommand{COPY_DETAIL_WINDOW_COMMAND, "&Copy", Ctrl('C')});
}

DetailWindow::~DetailWindow() { --g_openDetailWindows; }

int DetailWindow::OpenCount() { return g_openDetailWindows; }

// OK and Cancel end the window; nothing can show it again, so it goes at once.
void DetailWindow::OnOK() { m_dialog->Destroy(); }

void DetailWindow::OnCancel() { m_dialog->Destroy(); }

void DetailWindow::OnCommand(int id)
{
    if (id != COPY_DETAIL_WINDOW_COMMAND) return;
    const NodeId node = m_dialog->SelectedTreeNode(DETAIL_TREE_ID);
    if (node != NO_NODE) Windows().SetClipboardText(CopiedSubtree(m_dialog->ShownTree(DETAIL_TREE_ID), node));
}

bool DetailWindow::IsCommandEnabled(int command)
{
    return command != COPY_DETAIL_WINDOW_COMMAND || m_dialog->SelectedTreeNode(DETAIL_TREE_ID) != NO_NODE;
}

void DetailWindow::OnSize(uint32_t, int width, int height)
{
    // The tree fills the client area but for the last pixel column and row.
    m_dialog->MoveControl(DETAIL_TREE_ID, PixelRect{0, 0, width - 1, height - 1});
}

void DetailWindow::OnDestroyed() { delete this; }

DetailWindow* OpenDetailWindow(Dialog* owner, const PacketRecord& record, int64_t index)
{
    auto* window = new DetailWindow(owner);
    Dialog& dialog = *window->m_dialog;
    dialog.MoveTo(g_nextDetailPosition.x, g_nextDetailPosition.y);
    g_nextDetailPosition = NextDetailPosition(g_nextDetailPosition);

    AddPacketTree(dialog.BeginTree(DETAIL_TREE_ID), record, index);
    dialog.EndTree(DETAIL_TREE_ID);

    dialog.Show();
    return window;
}

}  // namespace kestrine
