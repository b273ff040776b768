// The main window and the program's start-up.
#include "ui/main_window.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
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
#include "capture_file/link_types.h"
#include "capture_file/save_packets.h"
#include "platform/file.h"
#include "ui/clipboard_text.h"
#include "ui/packet_search.h"
#include "ui/record_to_file.h"
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

// A recording's list takes at most this many lines a tick, as many as a capture holds.
constexpr size_t RECORDED_LINES_PER_TICK = 8096;

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
    Dialog& w = *m_dialog;
    w.SetMinimumFrameSize(MAIN_MIN_WIDTH, MAIN_MIN_HEIGHT);
    // Anywhere in the window: open, save, find, find again forward and back.
    w.AddContextCommand(NO_ID, ContextCommand{OPEN_PACKETS_COMMAND, nullptr, Ctrl('O')});
    w.AddContextCommand(NO_ID, ContextCommand{SAVE_PACKETS_COMMAND, nullptr, Ctrl('S')});
    w.AddContextCommand(NO_ID, ContextCommand{FIND_COMMAND, nullptr, Ctrl('F')});
    w.AddContextCommand(NO_ID, ContextCommand{FILTER_COMMAND, nullptr, Ctrl('L')});
    w.AddContextCommand(NO_ID, ContextCommand{FIND_NEXT_COMMAND, nullptr, Shortcut{KEY_F3}});
    w.AddContextCommand(NO_ID, ContextCommand{FIND_PREVIOUS_COMMAND, nullptr, Shortcut{KEY_F3, false, true}});
    // The context menus, with the keys shown beside their entries; Copy takes the focused control's.
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{OPEN_PACKETS_COMMAND, "&Open Packets...", Ctrl('O')});
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{SAVE_PACKETS_COMMAND, "&Save Packets As...", Ctrl('S')});
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{RECORD_TO_FILE_COMMAND, "&Record to File...", Shortcut{}});
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{COPY_LINES_COMMAND, "&Copy", Ctrl('C')});
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{FIND_COMMAND, "&Find...", Ctrl('F')});
    w.AddContextCommand(IDC_PACKET_LIST, ContextCommand{FILTER_COMMAND, "Fi&lter...", Ctrl('L')});
    w.AddContextCommand(IDC_DETAIL_TREE, ContextCommand{COPY_DETAIL_COMMAND, "&Copy", Ctrl('C')});
    w.AcceptFileDrops();
    m_find = std::make_unique<FindDialog>(
        &w, [this](const std::string& text, bool details, bool forward) { return StartFind(text, details, forward); },
        [this] { CancelOperation(); });
    m_filterWindow = std::make_unique<FilterWindow>(
        &w, [this](std::vector<BpfInstruction> program) { ApplyDisplayFilter(std::move(program)); });
    // A capture's packets never move once kept: a search may run over them during the ticks.
    m_displayFilter.Reserve(CaptureSession::MAX_INDEX_ENTRIES);
}

MainWindow::~MainWindow()
{
    // Detail windows are owned by the window and go with it; they hold text only.
    if (m_dialog) m_dialog->KillTimer(CAPTURE_TIMER_ID);
    CancelOperation();  // it reads the list and the records that go below
    m_find.reset();
    m_filterWindow.reset();
    m_dialog.reset();
    m_file.reset();  // after the list whose lines point into it
    m_recording.reset();  // likewise; before the session it records from
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
        if (CanSavePackets() && !Busy()) OnSavePackets();
        break;
    case OPEN_PACKETS_COMMAND:
        if (!Capturing()) OnOpenPackets();
        break;
    case RECORD_TO_FILE_COMMAND:
        if (IsCommandEnabled(RECORD_TO_FILE_COMMAND)) OnRecordToFile();
        break;
    case COPY_LINES_COMMAND: OnCopyLines(); break;
    case COPY_DETAIL_COMMAND: OnCopyDetail(); break;
    case FIND_COMMAND: m_find->Open(); break;
    case FILTER_COMMAND: m_filterWindow->Open(); break;
    case FIND_NEXT_COMMAND: m_find->FindAgain(true); break;
    case FIND_PREVIOUS_COMMAND: m_find->FindAgain(false); break;
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

bool MainWindow::IsCommandEnabled(int command)
{
    switch (command) {
    // One long operation at a time.
    case SAVE_PACKETS_COMMAND: return CanSavePackets() && !Busy();
    case OPEN_PACKETS_COMMAND: return !Capturing();
    case RECORD_TO_FILE_COMMAND: return !Capturing() && g_session && g_session->m_ready;
    case COPY_LINES_COMMAND: return !Busy() && !m_dialog->SelectedListLines(IDC_PACKET_LIST).empty();
    case COPY_DETAIL_COMMAND: return m_dialog->SelectedTreeNode(IDC_DETAIL_TREE) != NO_NODE;
    default: return true;
    }
}

bool MainWindow::Capturing() const
{
    return m_recording || (g_session && !g_session->m_finished.load(std::memory_order_acquire));
}

void MainWindow::OnBeginCapture()
{
    if (!g_session) return;
    CancelOperation();  // the list and the records it works on go
    g_session->SetCaptureFilter(m_filterWindow->CaptureProgram());
    g_session->Reset();
    m_listedCount = 0;
    m_dialog->ClearList(IDC_PACKET_LIST);
    m_displayFilter.Restart();
    m_file.reset();  // back to live capture: a file's packets go as an old capture's
    m_filterWindow->ShowCounts(0, 0);
    m_dialog->ListLines(IDC_PACKET_LIST).AddTopLevelLine(SUMMARY_COLUMN_HEADER);
    m_dialog->CommitList(IDC_PACKET_LIST);
    SetButtons(false, true, false);
    g_session->Start(&CaptureSession::CaptureThread);
}

void MainWindow::OnAbortCapture()
{
    if (g_session) g_session->m_stopRequested = true;
    if (m_recording) m_recording->RequestStop();
}

void MainWindow::OnConfigure()
{
    CancelOperation();  // the dialog may replace the session whose records it works on
    m_configDialog.m_interfaceAddress = m_dialog->Address(IDC_LISTEN_ADDRESS);
    const int installed = m_configDialog.m_sessionsInstalled;
    m_configDialog.DoModal(m_dialog.get());
    if (m_configDialog.m_sessionsInstalled != installed) {  // a new session
        m_reportedGone = false;
        // The kept packets of a capture lay in the old session's buffer, which went with it.
        if (!m_file) m_displayFilter.Restart();
    }
    m_dialog->SetAddress(IDC_LISTEN_ADDRESS, m_configDialog.m_interfaceAddress);
}

void MainWindow::OnTimer(int timerId)
{
    if (timerId == WORK_TIMER_ID) {
        OnWork();
        return;
    }
    if (!g_session) return;
    if (m_recording) {
        FollowRecording();
        return;
    }
    const bool finished = g_session->m_finished.load(std::memory_order_acquire);
    if (!finished) SetButtons(false, true, false);
    else SetButtons(g_session->m_ready, false, true);

    // The count is read with acquire order: the entries below it are complete. A file's
    // packets in the list stay until the next capture begins.
    const int32_t count = g_session->PacketCount();
    if (!m_file) {
        SummaryTarget& list = m_dialog->ListLines(IDC_PACKET_LIST);
        const bool filtered = m_displayFilter.Active();
        for (int32_t i = m_listedCount; i < count; ++i) {
            if (!filtered || m_displayFilter.Offer(g_session->m_index[i], i)) AddSummaryLine(list, g_session->m_index[i], i);
        }
        if (count != m_listedCount) m_filterWindow->ShowCounts(ListedRecordCount(), AllRecordCount());
        m_listedCount = count;
        m_dialog->CommitList(IDC_PACKET_LIST);
    }

    // The interface the session was bound to went away during the capture: said once per
    // session. Noted before the box opens, since the timer goes on ticking under it.
    if (finished && (g_session->m_errors.load() & CAPTURE_ERR_INTERFACE_GONE) && !m_reportedGone) {
        m_reportedGone = true;
        ShowMessageBox(m_dialog.get(), "The listening interface went away!\r\nPlease configure the listening interface",
                       "ERROR", MessageIcon::Stop, MessageButtons::Ok);
    }
}

const PacketRecord* MainWindow::ShownRecord(int64_t index) const
{
    if (index < 0) return nullptr;
    if (m_recording) {
        const std::vector<PacketRecord>& records = m_recording->Records();
        return index < static_cast<int64_t>(records.size()) ? &records[static_cast<size_t>(index)] : nullptr;
    }
    if (m_file) return index < static_cast<int64_t>(m_file->records.size()) ? &m_file->records[static_cast<size_t>(index)] : nullptr;
    return g_session && index < g_session->PacketCount() ? &g_session->m_index[index] : nullptr;
}

const PacketRecord* MainWindow::ListedRecords() const
{
    if (m_recording) return m_recording->Records().data();  // every recorded datagram, as listed
    if (m_displayFilter.Active()) return m_displayFilter.Records().data();
    return m_file ? m_file->records.data() : g_session ? g_session->m_index : nullptr;
}

size_t MainWindow::ListedRecordCount() const
{
    if (m_recording) return m_recording->Records().size();
    return m_displayFilter.Active() ? m_displayFilter.Records().size() : AllRecordCount();
}

size_t MainWindow::AllRecordCount() const
{
    if (m_recording) return m_recording->Records().size();
    if (m_file) return m_file->records.size();
    return g_session ? static_cast<size_t>(g_session->PacketCount()) : 0;
}

void MainWindow::RelistPackets()
{
    m_dialog->ClearList(IDC_PACKET_LIST);  // before the gathered records its lines show go
    m_displayFilter.Restart();
    PacketLines& lines = m_dialog->ListLines(IDC_PACKET_LIST);
    lines.AddTopLevelLine(SUMMARY_COLUMN_HEADER);
    if (m_recording) {
        // A recording lists every datagram it has written; the filter holds once its file opens.
        lines.AddRecordLines(m_recording->Records().data(), m_recording->Records().size());
    } else if (m_file) {
        if (m_displayFilter.Active()) {
            m_displayFilter.Gather(m_file->records.data(), 0, m_file->records.size());
            lines.AddRecordLines(m_displayFilter.Records().data(), m_displayFilter.Records().size(),
                                 m_displayFilter.Numbers().data());
        } else {
            lines.AddRecordLines(m_file->records.data(), m_file->records.size());
        }
    } else if (g_session) {
        // A capture's lines up to what the timer has listed; the next ticks add the rest.
        for (int32_t i = 0; i < m_listedCount; ++i) {
            if (!m_displayFilter.Active() || m_displayFilter.Offer(g_session->m_index[i], i))
                AddSummaryLine(lines, g_session->m_index[i], i);
        }
    }
    m_dialog->CommitList(IDC_PACKET_LIST, false);
    m_filterWindow->ShowCounts(ListedRecordCount(), AllRecordCount());
}

void MainWindow::ApplyDisplayFilter(std::vector<BpfInstruction> program)
{
    CancelOperation();  // it works on the lines and records that go
    m_displayFilter.SetProgram(std::move(program));
    RelistPackets();
}

int32_t MainWindow::SelectedPacketIndex() const
{
    // The line begins with its index ("%ld", leading blanks skipped); the header does not.
    const std::string text = m_dialog->SelectedItemText(IDC_PACKET_LIST);
    char* end = nullptr;
    const long index = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || !ShownRecord(index)) return -1;
    return static_cast<int32_t>(index);
}

void MainWindow::OnPacketSelected()
{
    const int32_t i = SelectedPacketIndex();
    if (i < 0) return;
    AddPacketTree(m_dialog->BeginTree(IDC_DETAIL_TREE), *ShownRecord(i), i);
    m_dialog->EndTree(IDC_DETAIL_TREE);
}

void MainWindow::OnPacketDoubleClick()
{
    const int32_t i = SelectedPacketIndex();
    if (i >= 0) OpenDetailWindow(m_dialog.get(), *ShownRecord(i), i);
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
    if (m_file) return ListedRecordCount() > 0 && !Capturing();
    return g_session && g_session->m_finished.load(std::memory_order_acquire) && ListedRecordCount() > 0;
}

bool MainWindow::ConfirmSaveOverOpenFile(const std::string& path)
{
    if (!m_file || !m_file->file || !(IdentityOf(path) == m_file->file->Identity())) return true;
    // The saved file holds a 24-byte header and each datagram behind a 16-byte record
    // header: a file of another size holds something more (frames that are not IPv4
    // datagrams, link headers, pcapng blocks, a damaged tail).
    uint64_t savedSize = SAVED_FILE_HEADER_BYTES;
    const PacketRecord* saved = ListedRecords();
    for (size_t i = 0; i < ListedRecordCount(); ++i) savedSize += SAVED_RECORD_HEADER_BYTES + static_cast<uint64_t>(saved[i].length);
    if (savedSize == m_file->file->Size() && m_file->outcome.end == ReadEnd::Complete) return true;
    const int64_t lost = m_file->outcome.frames - m_file->outcome.datagrams;
    const std::string datagrams = std::to_string(ListedRecordCount());
    const std::string loss = lost > 0 ? std::to_string(lost) + (lost == 1 ? " frame that is not an IPv4 datagram" : " frames that are not IPv4 datagrams") +
                                            " would be lost, and so would the rest of what the file holds besides the datagrams."
                                      : "No frame would be lost, but what the file holds besides the datagrams would be (link-layer headers, file blocks).";
    const std::string text = path + " is the file the packet list was read from.\r\nSaving over it keeps only its " +
                             datagrams + " IPv4 datagrams: " + loss + "\r\n\r\nSave over it anyway?";
    return ShowMessageBox(m_dialog.get(), text, "Kestrine", MessageIcon::None, MessageButtons::OkCancel) == MESSAGE_OK;
}

namespace {

// A save written in slices; the file is put in place by the finish, after the last slice.
class SaveOperation final : public LongOperation {
public:
    bool Begin(const PacketRecord* records, int32_t count, const std::string& path)
    {
        m_count = count;
        return m_saver.Begin(records, count, path, &m_error);
    }
    bool Step(double seconds) override
    {
        const SliceDeadline deadline(seconds);
        while (!m_failed && !m_saver.AllWritten()) {
            m_failed = !m_saver.WriteSome(static_cast<int32_t>(SLICE_GROUP * 16), &m_error);
            if (deadline.Passed()) break;
        }
        return m_failed || m_saver.AllWritten();
    }
    int Percent() const override
    {
        return PercentOf(static_cast<size_t>(m_saver.Written()), static_cast<size_t>(m_count));
    }
    // Puts the file in place; false with the reason in Error when anything failed.
    bool Commit() { return !m_failed && m_saver.Commit(&m_error); }
    const std::string& Error() const { return m_error; }

private:
    PacketSaver m_saver;
    int32_t m_count = 0;
    bool m_failed = false;
    std::string m_error;
};

}  // namespace

void MainWindow::OnSavePackets()
{
    if (!CanSavePackets() || Busy()) return;
    const std::string path = ChooseSaveFile(m_dialog.get());
    if (path.empty() || !ConfirmSaveOverOpenFile(path)) return;
    // What the list shows: the packets the display filter keeps.
    const PacketRecord* records = ListedRecords();
    const auto count = static_cast<int32_t>(ListedRecordCount());
    const auto failed = [this, path](const std::string& error) {
        ShowMessageBox(m_dialog.get(), "Could not save the packets to " + path + ":\r\n" + error, "Error",
                       MessageIcon::Stop, MessageButtons::Ok);
    };
    auto save = std::make_unique<SaveOperation>();
    if (!save->Begin(records, count, path)) {
        failed(save->Error());
        return;
    }
    StartOperation(std::move(save), "Saving the packets...", [failed](LongOperation& done) {
        auto& save = static_cast<SaveOperation&>(done);
        if (!save.Commit()) failed(save.Error());
    });
}

void MainWindow::OnCancel()
{
    // A search, copy or save goes on under the question.
    if (ShowMessageBox(m_dialog.get(), "Really Quit?", "Kestrine", MessageIcon::None, MessageButtons::OkCancel) !=
        MESSAGE_OK)
        return;  // a running capture goes on
    CancelOperation();
    if (g_session) g_session->m_stopRequested = true;
    g_stopwatch.Wait(1.0);
    m_dialog->EndDialog(ID_CANCEL);
}

void MainWindow::OnRecordToFile()
{
    const std::string path = ChooseSaveFile(m_dialog.get());
    if (path.empty()) return;
    auto recording = std::make_unique<FileRecording>(*g_session, path);
    std::string error;
    if (!recording->Start(&error)) {
        ShowMessageBox(m_dialog.get(), "Could not record to " + path + ":\r\n" + error, "Error", MessageIcon::Stop,
                       MessageButtons::Ok);
        return;
    }
    // The list lets go of the lines it showed before the records they point to go.
    CancelOperation();
    m_dialog->ClearList(IDC_PACKET_LIST);
    m_file.reset();
    m_displayFilter.Restart();  // its packets were the file's
    m_recording = std::move(recording);
    m_followError.clear();
    m_listedCount = 0;
    m_dialog->ListLines(IDC_PACKET_LIST).AddTopLevelLine(SUMMARY_COLUMN_HEADER);
    m_dialog->CommitList(IDC_PACKET_LIST);
    m_dialog->BeginTree(IDC_DETAIL_TREE);
    m_dialog->EndTree(IDC_DETAIL_TREE);
    SetButtons(false, true, false);
}

void MainWindow::FollowRecording()
{
    SetButtons(false, true, false);
    // Read before following: once the recording has ended, its file is all there.
    const bool finished = m_recording->Finished();
    std::string reason;
    if (m_followError.empty() && !m_recording->Follow(RECORDED_LINES_PER_TICK, &reason)) {
        m_followError = reason.empty() ? "the file could not be read" : reason;
        m_recording->RequestStop();
    }
    const std::vector<PacketRecord>& records = m_recording->Records();
    m_dialog->ListLines(IDC_PACKET_LIST).AddRecordLines(records.data(), records.size());
    m_listedCount = static_cast<int32_t>(records.size());
    m_dialog->CommitList(IDC_PACKET_LIST);
    if (finished) EndRecording();
}

void MainWindow::EndRecording()
{
    const RecordResult result = m_recording->Wait();
    const std::string path = m_recording->Path();
    // The file opens as any file does, no longer a recording; the recording's records live
    // until the list has let go of them.
    const std::unique_ptr<FileRecording> recording = std::move(m_recording);
    if (!OpenPacketFile(path)) {
        m_dialog->ClearList(IDC_PACKET_LIST);
        m_dialog->ListLines(IDC_PACKET_LIST).AddTopLevelLine(SUMMARY_COLUMN_HEADER);
        m_dialog->CommitList(IDC_PACKET_LIST);
        m_listedCount = g_session->PacketCount();  // the session's old packets stay unlisted
    }
    SetButtons(g_session->m_ready, false, true);
    if (result.end == RecordEnd::InterfaceGone) {
        // As a capture leaves the session when its interface goes: said here, once.
        g_session->m_errors.fetch_or(CAPTURE_ERR_INTERFACE_GONE);
        g_session->m_ready = false;
        m_reportedGone = true;
        SetButtons(false, false, true);
        ShowMessageBox(m_dialog.get(), "The listening interface went away!\r\nPlease configure the listening interface",
                       "ERROR", MessageIcon::Stop, MessageButtons::Ok);
        return;
    }
    const std::string failure = result.end == RecordEnd::WriteFailed ? result.message : m_followError;
    if (!failure.empty())
        ShowMessageBox(m_dialog.get(), "The recording to " + path + " ended:\r\n" + failure, "Error",
                       MessageIcon::Stop, MessageButtons::Ok);
}

void MainWindow::OnOpenPackets()
{
    const std::string path = ChooseOpenFile(m_dialog.get());
    if (!path.empty()) OpenPacketFile(path);
}

void MainWindow::OnFilesDropped(const std::vector<std::string>& paths)
{
    if (!paths.empty() && !Capturing() && !Busy()) OpenPacketFile(paths.front());
}

bool MainWindow::OpenPacketFile(const std::string& path)
{
    if (path.empty()) {  // an empty argument names no file; nothing is tried
        ShowMessageBox(m_dialog.get(), "Could not open the capture file:\r\nthe file name is empty", "Error",
                       MessageIcon::Stop, MessageButtons::Ok);
        return false;
    }
    auto file = std::make_unique<CaptureFileContents>(LoadCaptureFile(path));
    if (file->outcome.end == ReadEnd::CannotOpen) {
        ShowMessageBox(m_dialog.get(), "Could not open " + path + ":\r\n" + file->outcome.reason, "Error",
                       MessageIcon::Stop, MessageButtons::Ok);
        return false;
    }
    // The list lets go of the old lines before the records they were formatted from go.
    CancelOperation();
    m_dialog->ClearList(IDC_PACKET_LIST);
    m_file = std::move(file);
    RelistPackets();  // through the display filter; a file is read from its start
    // The lower tree showed a packet of what the list held before: it goes with the list.
    m_dialog->BeginTree(IDC_DETAIL_TREE);
    m_dialog->EndTree(IDC_DETAIL_TREE);
    // An empty list says why: no frame held IPv4, or the file's link type is not read.
    const ReadOutcome& outcome = m_file->outcome;
    if (outcome.datagrams == 0 && (outcome.end == ReadEnd::Complete || outcome.untakenLinkType != NO_LINK_TYPE)) {
        std::string text = path + " holds no IPv4 datagram";
        if (outcome.untakenLinkType != NO_LINK_TYPE)
            text += ": its link type, " + LinkTypeName(outcome.untakenLinkType) + ", is not one that Kestrine reads";
        ShowMessageBox(m_dialog.get(), text + ".", "Kestrine", MessageIcon::None, MessageButtons::Ok);
    }
    if (m_file->outcome.end == ReadEnd::CutShort) {
        ShowMessageBox(m_dialog.get(), path + ": " + m_file->outcome.reason, "Error", MessageIcon::Stop,
                       MessageButtons::Ok);
    }
    return true;
}

void MainWindow::OnCopyLines()
{
    if (Busy()) return;
    std::vector<size_t> rows = m_dialog->SelectedListLines(IDC_PACKET_LIST);
    if (rows.empty()) return;
    StartOperation(std::make_unique<LinesCopy>(m_dialog->ListLines(IDC_PACKET_LIST), std::move(rows)),
                   "Copying the packet lines...", [](LongOperation& done) {
                       // The text goes once the clipboard has its own copy.
                       Windows().SetClipboardText(static_cast<LinesCopy&>(done).TakeText());
                   });
}

void MainWindow::OnCopyDetail()
{
    const NodeId node = m_dialog->SelectedTreeNode(IDC_DETAIL_TREE);
    if (node != NO_NODE) Windows().SetClipboardText(CopiedSubtree(m_dialog->ShownTree(IDC_DETAIL_TREE), node));
}

namespace {

// Where a search starts: the current line, the last selected one going forward.
size_t SearchStart(const std::vector<size_t>& selected, bool forward)
{
    return selected.empty() ? 0 : forward ? selected.back() : selected.front();
}

}  // namespace

void MainWindow::SelectMatch(size_t row, const std::string& text, bool details)
{
    m_dialog->SelectListLine(IDC_PACKET_LIST, row);
    const FoldedText needle(text);
    LineBuffer buffer;
    if (!details || needle.In(m_dialog->ListLines(IDC_PACKET_LIST).Line(row, buffer))) return;
    // The lower tree now shows the packet: its first line that holds the text is selected too.
    const DetailTree& tree = m_dialog->ShownTree(IDC_DETAIL_TREE);
    for (NodeId node = 0; node < static_cast<NodeId>(tree.Size()); ++node) {
        if (needle.In(tree.Text(node))) {
            m_dialog->SelectTreeNode(IDC_DETAIL_TREE, node);
            return;
        }
    }
}

bool MainWindow::Find(const std::string& text, bool details, bool forward)
{
    const PacketRecord* records = ListedRecords();
    const size_t count = ListedRecordCount();
    PacketSearch search(m_dialog->ListLines(IDC_PACKET_LIST), records, count, text, details, forward,
                        SearchStart(m_dialog->SelectedListLines(IDC_PACKET_LIST), forward));
    while (!search.Step(std::numeric_limits<double>::infinity())) {
    }
    if (search.Match()) SelectMatch(*search.Match(), text, details);
    return search.Match().has_value();
}

FindOutcome MainWindow::StartFind(const std::string& text, bool details, bool forward)
{
    if (Busy()) return FindOutcome::Busy;
    const PacketRecord* records = ListedRecords();
    const size_t count = ListedRecordCount();
    auto search = std::make_unique<PacketSearch>(m_dialog->ListLines(IDC_PACKET_LIST), records, count, text, details,
                                                 forward, SearchStart(m_dialog->SelectedListLines(IDC_PACKET_LIST), forward));
    // Set by the finish: in the first slice (the outcome says it) or later (the dialog hears it).
    const auto outcome = std::make_shared<FindOutcome>(FindOutcome::Searching);
    StartOperation(std::move(search), nullptr, [this, outcome, text, details](LongOperation& done) {
        const std::optional<size_t> match = static_cast<PacketSearch&>(done).Match();
        if (match) SelectMatch(*match, text, details);
        *outcome = match ? FindOutcome::Found : FindOutcome::NotFound;
        if (m_find->Searching()) m_find->ShowResult(match.has_value());
    });
    return *outcome;
}

void MainWindow::StartOperation(std::unique_ptr<LongOperation> operation, const char* progressText,
                                std::function<void(LongOperation&)> finish)
{
    m_operation = std::move(operation);
    m_finishOperation = std::move(finish);
    m_progressText = progressText;
    m_cancelRequested = false;
    m_operationStart = std::chrono::steady_clock::now();
    if (m_operation->Step(m_sliceSeconds)) {
        EndOperation();
        return;
    }
    m_dialog->SetTimer(WORK_TIMER_ID, 0);
}

void MainWindow::OnWork()
{
    if (!m_operation) return;
    if (m_cancelRequested) {
        CancelOperation();
        return;
    }
    if (m_operation->Step(m_sliceSeconds)) {
        EndOperation();
        return;
    }
    const int percent = m_operation->Percent();
    if (!m_progressText) {
        m_find->ShowProgress(percent);
        return;
    }
    const std::chrono::duration<double> running = std::chrono::steady_clock::now() - m_operationStart;
    if (!m_progress && running.count() >= m_progressDelay) {
        m_progress = std::make_unique<ProgressWindow>(m_dialog.get(), m_progressText, [this] {
            // Not destroyed inside its own notification: the next slice ends the work.
            m_cancelRequested = true;
            m_progress->Window()->Hide();
        });
        m_progress->SetPercent(percent);
        m_progress->Show();
    } else if (m_progress) {
        m_progress->SetPercent(percent);
    }
}

void MainWindow::EndOperation()
{
    // The operation lets go of its timer and window before its finish runs, which may open
    // a message box (whose loop goes on delivering timers) or start the next operation.
    if (m_dialog) m_dialog->KillTimer(WORK_TIMER_ID);
    m_progress.reset();
    std::unique_ptr<LongOperation> done = std::move(m_operation);
    std::function<void(LongOperation&)> finish = std::move(m_finishOperation);
    if (finish) finish(*done);
}

void MainWindow::CancelOperation()
{
    if (!m_operation) return;
    if (m_dialog) m_dialog->KillTimer(WORK_TIMER_ID);
    m_progress.reset();
    m_operation.reset();
    m_finishOperation = nullptr;
    if (m_find && m_find->Searching()) m_find->OnCancel();
}

int RunProgram(const char* file)
{
    MainWindow window;
    window.OnInitDialog();
    if (file) window.OpenPacketFile(file);
    window.Window()->RunModal();
    return 0;
}

}  // namespace kestrine
