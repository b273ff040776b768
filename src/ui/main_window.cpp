// The main window and the program's start-up.
#include "ui/main_window.h"

#include <array>
#include <cstdlib>
#include <string>

#include "capture/capture_session.h"
#include "capture/host_address.h"
#include "capture/stopwatch.h"
#include "decode/packet_detail.h"
#include "decode/section_states.h"
#include "decode/summary.h"
#include "netinfo/adapter_info.h"
#include "ui/about_box.h"
#include "ui/detail_window.h"
#include "ui/resource_ids.h"
#include "ui/save_packets.h"
#include "ui/session_globals.h"

namespace kestrine {

namespace {

constexpr std::array MAIN_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "Listening Interface", 10, 4, 76, 10},
    ControlTemplate{IDC_LISTEN_ADDRESS, ControlKind::IpAddress, nullptr, 10, 15, 117, 13, STYLE_DISABLED, "Listening interface"},
    ControlTemplate{IDC_BEGIN_CAPTURE, ControlKind::Button, "Begin Capture", 133, 15, 59, 14, STYLE_DISABLED},
    ControlTemplate{IDC_ABORT_CAPTURE, ControlKind::Button, "Abort Capture", 195, 15, 59, 14, STYLE_DISABLED},
    ControlTemplate{IDC_CONFIGURE, ControlKind::Button, "Configure", 257, 15, 54, 14},
    ControlTemplate{IDC_PACKET_LIST, ControlKind::PacketList, nullptr, 9, 35, 302, 113, 0, "Packet list"},
    ControlTemplate{IDC_DETAIL_TREE, ControlKind::TreeView, nullptr, 9, 151, 302, 113, 0, "Packet detail"},
    ControlTemplate{IDC_SPLIT, ControlKind::Trackbar, nullptr, 0, 32, 9, 235, 0, "Split"},
};

}  // namespace

const DialogTemplate MAIN_TEMPLATE{
    MAIN_WINDOW_ID, "Kestrine - www.harvoll.example", "Fixedsys", 8, 318, 268, DialogFrame::Main, MAIN_CONTROLS,
};

MainLayout ComputeMainLayout(int lowerPercent, int width, int height)
{
    // The factor is the single-precision 0.01, slightly below it, and the product is
    // formed in double: 50 % of 400 pixels gives 199.
    const int lower = static_cast<int>(lowerPercent * static_cast<double>(0.01f) * (height - 80));
    const int upper = height - lower - 80;
    return MainLayout{PixelRect{18, 66, width - 32, upper}, PixelRect{0, 61, 18, height - 64},
                      PixelRect{18, height - lower - 9, width - 32, lower}};
}

MainWindow::MainWindow() : m_dialog(Windows().NewDialog(MAIN_TEMPLATE, *this, nullptr))
{
    m_dialog->SetMinimumFrameSize(MAIN_MIN_WIDTH, MAIN_MIN_HEIGHT);
    m_dialog->AddContextCommand(IDC_PACKET_LIST, ContextCommand{SAVE_PACKETS_COMMAND, "Save Packets As...", 'S'});
}

MainWindow::~MainWindow()
{
    // Detail windows are owned by the window and go with it; they hold text only.
    if (m_dialog) m_dialog->KillTimer(CAPTURE_TIMER_ID);
    m_dialog.reset();
    delete g_session;  // ends a capture that still runs before its buffer goes
    g_session = nullptr;
    delete g_adapterInfo;
    g_adapterInfo = nullptr;
}

int MainWindow::DoModal()
{
    OnInitDialog();
    return m_dialog->RunModal();
}

void MainWindow::OnInitDialog()
{
    Dialog& w = *m_dialog;
    Windows().InitialiseRichEdit();
    w.AppendSystemMenu(0, nullptr);
    w.AppendSystemMenu(ABOUT_COMMAND, KESTRINE_ABOUT_MENU_TEXT);
    w.SetProgramIcon();

    StartNetworking();
    HostAddress address;
    address.FromLocalHost(5000);
    g_session = new CaptureSession(address, 1024, 8096);
    if (!g_session->m_ready) {
        ShowMessageBox(&w, "Could not bind to default address!\r\nPlease configure the listening interface", "ERROR",
                       MessageIcon::Stop, MessageButtons::Ok);
    }
    // The limits, and what else the configuration dialog shows, hold from the first capture on.
    ApplySettingsToSession(m_configDialog, *g_session);
    w.SetAddress(IDC_LISTEN_ADDRESS, address.HostOrderAddress());

    m_listedCount = 0;
    w.SetTimer(CAPTURE_TIMER_ID, TIMER_PERIOD_MS);
    w.SetTrackbarRange(IDC_SPLIT, 0, 100);
    w.SetTrackbarPosition(IDC_SPLIT, 50);
    CheckFirstRun();
}

void MainWindow::SetButtons(bool begin, bool abort, bool configure)
{
    m_dialog->Enable(IDC_BEGIN_CAPTURE, begin);
    m_dialog->Enable(IDC_ABORT_CAPTURE, abort);
    m_dialog->Enable(IDC_CONFIGURE, configure);
}

void MainWindow::OnCommand(int id)
{
    switch (id) {
    case IDC_BEGIN_CAPTURE: OnBeginCapture(); break;
    case IDC_ABORT_CAPTURE: OnAbortCapture(); break;
    case IDC_CONFIGURE: OnConfigure(); break;
    case SAVE_PACKETS_COMMAND:
        if (CanSavePackets()) OnSavePackets();
        break;
    default: break;
    }
}

void MainWindow::OnSelectionChanged(int id)
{
    if (id == IDC_PACKET_LIST) OnPacketSelected();
}

void MainWindow::OnDoubleClick(int id)
{
    if (id == IDC_PACKET_LIST) OnPacketDoubleClick();
}

void MainWindow::OnItemExpanded(int id, uint32_t itemData, int action)
{
    if (id == IDC_DETAIL_TREE) OnDetailItemExpanded(itemData, action);
}

void MainWindow::OnTrackbarMoved(int id)
{
    if (id == IDC_SPLIT) OnSplitterMoved();
}

bool MainWindow::IsCommandEnabled(int command) { return command != SAVE_PACKETS_COMMAND || CanSavePackets(); }

void MainWindow::OnBeginCapture()
{
    if (!g_session) return;
    g_session->Reset();
    m_listedCount = 0;
    m_dialog->ClearList(IDC_PACKET_LIST);
    m_dialog->ListTarget(IDC_PACKET_LIST).AddTopLevelLine(SUMMARY_COLUMN_HEADER);
    m_dialog->CommitList(IDC_PACKET_LIST);
    SetButtons(false, true, false);
    g_session->Start(&CaptureSession::CaptureThread);
}

void MainWindow::OnAbortCapture()
{
    if (g_session) g_session->m_stopRequested = true;
}

void MainWindow::OnConfigure()
{
    m_configDialog.m_interfaceAddress = m_dialog->Address(IDC_LISTEN_ADDRESS);
    const int installed = m_configDialog.m_sessionsInstalled;
    m_configDialog.DoModal(m_dialog.get());
    if (m_configDialog.m_sessionsInstalled != installed) m_reportedGone = false;  // a new session
    m_dialog->SetAddress(IDC_LISTEN_ADDRESS, m_configDialog.m_interfaceAddress);
}

void MainWindow::OnTimer(int)
{
    if (!g_session) return;
    const bool finished = g_session->m_finished.load(std::memory_order_acquire);
    if (!finished) SetButtons(false, true, false);
    else SetButtons(g_session->m_ready, false, true);

    // The count is read with acquire order: the entries below it are complete.
    const int32_t count = g_session->PacketCount();
    SummaryTarget& list = m_dialog->ListTarget(IDC_PACKET_LIST);
    for (int32_t i = m_listedCount; i < count; ++i) AddSummaryLine(list, g_session->m_index[i], i);
    m_listedCount = count;
    m_dialog->CommitList(IDC_PACKET_LIST);

    // The interface the session was bound to went away during the capture: said once per
    // session. Noted before the box opens, since the timer goes on ticking under it.
    if (finished && (g_session->m_errors.load() & CAPTURE_ERR_INTERFACE_GONE) && !m_reportedGone) {
        m_reportedGone = true;
        ShowMessageBox(m_dialog.get(), "The listening interface went away!\r\nPlease configure the listening interface",
                       "ERROR", MessageIcon::Stop, MessageButtons::Ok);
    }
}

int32_t MainWindow::SelectedPacketIndex() const
{
    if (!g_session) return -1;
    // The line begins with its index ("%ld", leading blanks skipped); the header does not.
    const std::string text = m_dialog->SelectedItemText(IDC_PACKET_LIST);
    char* end = nullptr;
    const long index = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || index < 0 || index >= g_session->PacketCount()) return -1;
    return static_cast<int32_t>(index);
}

void MainWindow::OnPacketSelected()
{
    const int32_t i = SelectedPacketIndex();
    if (i < 0) return;
    AddPacketTree(m_dialog->BeginTree(IDC_DETAIL_TREE), g_session->m_index[i], i);
    m_dialog->EndTree(IDC_DETAIL_TREE);
}

void MainWindow::OnPacketDoubleClick()
{
    const int32_t i = SelectedPacketIndex();
    if (i >= 0) OpenDetailWindow(m_dialog.get(), g_session->m_index[i], i);
}

void MainWindow::OnDetailItemExpanded(uint32_t itemData, int action)
{
    RememberSectionState(itemData, static_cast<ExpandAction>(action));
}

void MainWindow::OnSplitterMoved()
{
    int position = m_dialog->TrackbarPosition(IDC_SPLIT);
    if (position < 20 || position > 80) {
        position = position < 20 ? 20 : 80;
        m_dialog->SetTrackbarPosition(IDC_SPLIT, position);
    }
    m_lowerPercent = 100 - position;
    OnSize(m_lastSizeType, m_lastWidth, m_lastHeight);
}

void MainWindow::OnSize(uint32_t type, int width, int height)
{
    m_lastSizeType = type;
    m_lastWidth = width;
    m_lastHeight = height;
    const MainLayout layout = ComputeMainLayout(m_lowerPercent, width, height);
    m_dialog->MoveControl(IDC_PACKET_LIST, layout.packetList);
    m_dialog->MoveControl(IDC_SPLIT, layout.trackbar);
    m_dialog->MoveControl(IDC_DETAIL_TREE, layout.lowerTree);
}

bool MainWindow::OnSysCommand(int command)
{
    if ((command & 0xFFF0) != ABOUT_COMMAND) return false;
    AboutBox box;
    box.DoModal();
    return true;
}

bool MainWindow::CanSavePackets() const
{
    return g_session && g_session->m_finished.load(std::memory_order_acquire) && g_session->PacketCount() > 0;
}

void MainWindow::OnSavePackets()
{
    if (!CanSavePackets()) return;
    const std::string path = ChooseSaveFile(m_dialog.get());
    if (path.empty()) return;
    std::string error;
    if (!SavePackets(g_session->m_index, g_session->PacketCount(), path, &error)) {
        ShowMessageBox(m_dialog.get(), "Could not save the packets to " + path + ":\r\n" + error, "Error",
                       MessageIcon::Stop, MessageButtons::Ok);
    }
}

void MainWindow::OnCancel()
{
    if (ShowMessageBox(m_dialog.get(), "Really Quit?", "Kestrine", MessageIcon::None, MessageButtons::OkCancel) !=
        MESSAGE_OK)
        return;  // a running capture goes on
    if (g_session) g_session->m_stopRequested = true;
    g_stopwatch.Wait(1.0);
    m_dialog->EndDialog(ID_CANCEL);
}

int RunProgram()
{
    MainWindow window;
    window.DoModal();
    return 0;
}

}  // namespace kestrine
