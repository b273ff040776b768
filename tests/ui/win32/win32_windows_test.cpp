// The windows on their Win32 realisation, under Wine: dialogs from the in-memory templates,
// the main window's start-up and its buttons following a capture on the scripted socket
// through the real timer, lines per tick in the virtual list, the lower tree, a detail
// window, the configuration dialog's exchange, the first run and the quit confirmation.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "capture/capture_session.h"
#include "capture_file/capture_file.h"
#include "capture_file/save_packets.h"
#include "decode/section_states.h"
#include "decode/summary.h"
#include "tests/capture/scripted_socket.h"
#include "ui/about_box.h"
#include "ui/detail_window.h"
#include "ui/filter_window.h"
#include "ui/find_dialog.h"
#include "ui/first_run_store.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/session_globals.h"
#include "ui/win32/win32_dialog.h"

namespace kestrine {
namespace {

constexpr uint32_t ADDRESS_A = 0xC0000201;  // 192.0.2.1
constexpr uint32_t ADDRESS_B = 0xC6336407;  // 198.51.100.7

// Dispatches messages as the program's modal loop does until done() holds or time runs out.
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 3000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!Win32Dialog::PreTranslate(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void Pump(int milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::string WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return Latin1FromWide(text);
}

std::string ListLine(HWND list, int row)
{
    wchar_t text[256] = {};
    ListView_GetItemText(list, row, 0, text, 256);
    return Latin1FromWide(text);
}

std::string TreeText(HWND tree, HTREEITEM item)
{
    wchar_t text[256] = {};
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = 256;
    TreeView_GetItem(tree, &query);
    return Latin1FromWide(text);
}

// Whether a control's font has one advance for every character (the bit means variable pitch).
bool FixedPitch(HWND control)
{
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return !(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH);
}

bool Expanded(HWND tree, HTREEITEM item) { return (TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0; }

// Records every message box and answers it.
class Boxes {
public:
    explicit Boxes(int answer = MESSAGE_OK)
    {
        SetMessageBoxResponder([this, answer](const MessageBoxRequest& request) {
            m_seen.push_back(request);
            return answer;
        });
    }
    ~Boxes() { SetMessageBoxResponder(nullptr); }
    std::vector<MessageBoxRequest> m_seen;
};

class Win32Windows : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES |
                                                           ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        static Win32WindowSystem windows;
        SetWindowSystem(&windows);
        windows.InitialiseRichEdit();
    }
    void SetUp() override
    {
        script::Reset();
        ResetSectionStates();
        // The first run is over, so that no About box comes up at start.
        FirstRunStore store;
        ASSERT_TRUE(store.Open());
        ASSERT_TRUE(store.WriteDword(FIRST_RUN_VALUE, 1));
    }
    void StartMainWindow()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->OnInitDialog();
        m_main = AsWin32(m_window->Window());
        m_main->Show();
    }
    void TearDown() override
    {
        m_window.reset();
        script::Reset();
    }
    bool Enabled(int id) const { return IsWindowEnabled(m_main->Control(id)) != FALSE; }
    HWND List() const { return m_main->Control(IDC_PACKET_LIST); }
    HWND Lower() const { return m_main->Control(IDC_DETAIL_TREE); }
    void Click(int id) const { SendMessageW(m_main->Control(id), BM_CLICK, 0, 0); }

    std::unique_ptr<MainWindow> m_window;
    Win32Dialog* m_main = nullptr;
};

TEST_F(Win32Windows, DialogsAreBuiltFromTheirTemplatesWithNumberedCommonControls)
{
    Boxes boxes;
    StartMainWindow();
    EXPECT_EQ(WindowText(m_main->Handle()), "Kestrine - www.harvoll.example");
    EXPECT_EQ(ClassOf(m_main->Control(IDC_LISTEN_ADDRESS)), L"SysIPAddress32");
    EXPECT_EQ(ClassOf(m_main->Control(IDC_PACKET_LIST)), L"SysListView32");
    EXPECT_EQ(ClassOf(m_main->Control(IDC_DETAIL_TREE)), L"SysTreeView32");
    EXPECT_EQ(ClassOf(m_main->Control(IDC_SPLIT)), L"msctls_trackbar32");
    EXPECT_EQ(WindowText(m_main->Control(IDC_BEGIN_CAPTURE)), "Begin Capture");
    const LONG_PTR frame = GetWindowLongPtrW(m_main->Handle(), GWL_STYLE);
    EXPECT_TRUE((frame & WS_THICKFRAME) && (frame & WS_MINIMIZEBOX) && (frame & WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongPtrW(m_main->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);

    // Buttons stay where the template puts them, in the dialog manager's own units.
    RECT units{257, 15, 257 + 54, 15 + 14};
    MapDialogRect(m_main->Handle(), &units);
    RECT placed;
    GetWindowRect(m_main->Control(IDC_CONFIGURE), &placed);
    MapWindowPoints(nullptr, m_main->Handle(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, units.left);
    EXPECT_EQ(placed.top, units.top);
    EXPECT_EQ(placed.right, units.right);

    // The system menu ends with a separator and the About entry.
    HMENU menu = GetSystemMenu(m_main->Handle(), FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    wchar_t entry[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(count - 1), entry, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(entry), L"&About kestrine...");
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(ABOUT_COMMAND));
    EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));

    // The window cannot be dragged below its minimum.
    MINMAXINFO limits{};
    SendMessageW(m_main->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, MAIN_MIN_WIDTH);
    EXPECT_EQ(limits.ptMinTrackSize.y, MAIN_MIN_HEIGHT);
}

TEST_F(Win32Windows, AFailedBindShowsTheErrorBoxAndKeepsBeginDisabled)
{
    script::Reset(script::Failures{.bind = true});
    Boxes boxes;
    StartMainWindow();
    ASSERT_EQ(boxes.m_seen.size(), 1u);
    EXPECT_EQ(boxes.m_seen[0].text, "Could not bind to default address!\r\nPlease configure the listening interface");
    EXPECT_EQ(boxes.m_seen[0].caption, "ERROR");
    EXPECT_EQ(boxes.m_seen[0].icon, MessageIcon::Stop);
    // The limits of the configuration dialog are pushed anyway; the timer runs.
    EXPECT_EQ(g_session->m_packetLimit, 1000);
    Pump(400);
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_CONFIGURE));
}

TEST_F(Win32Windows, TheButtonsFollowACaptureThroughTheTimerAndTheListGrowsPerTick)
{
    Boxes boxes;
    StartMainWindow();
    ASSERT_TRUE(g_session->m_ready);
    EXPECT_TRUE(boxes.m_seen.empty());
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));  // before the first tick
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }, 1000));
    EXPECT_EQ(SendMessageW(m_main->Control(IDC_SPLIT), TBM_GETPOS, 0, 0), 50);

    // An empty list's column spans the view: nothing to scroll sideways.
    RECT view;
    GetClientRect(List(), &view);
    EXPECT_LE(ListView_GetColumnWidth(List(), 0), view.right);

    Click(IDC_BEGIN_CAPTURE);
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_CONFIGURE));
    ASSERT_EQ(ListView_GetItemCount(List()), 1);
    // With lines it holds the widest line the summary format gives.
    HDC dc = GetDC(List());
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(List(), WM_GETFONT, 0, 0)));
    SIZE widest{};
    GetTextExtentPoint32W(dc, std::wstring(SUMMARY_LINE_MAX_LENGTH, L'W').c_str(), SUMMARY_LINE_MAX_LENGTH, &widest);
    SelectObject(dc, old);
    ReleaseDC(List(), dc);
    EXPECT_GE(ListView_GetColumnWidth(List(), 0), widest.cx);
    EXPECT_EQ(ListLine(List(), 0), SUMMARY_COLUMN_HEADER);

    constexpr int PACKETS = 500;
    for (int i = 0; i < PACKETS; ++i) script::Push(script::Datagram(17, ADDRESS_A, ADDRESS_B, 40 + i % 7));
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(List()) == PACKETS + 1; }, 5000))
        << ListView_GetItemCount(List());
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));  // the capture goes on: no limit reached
    char expected[256];
    FormatSummaryLine(g_session->m_index[PACKETS - 1], PACKETS - 1, expected, sizeof expected);
    EXPECT_EQ(ListLine(List(), PACKETS), expected);
    // The newest line is scrolled into view.
    const int top = ListView_GetTopIndex(List());
    EXPECT_LE(top, PACKETS);
    EXPECT_GE(top + ListView_GetCountPerPage(List()), PACKETS);

    Click(IDC_ABORT_CAPTURE);
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }, 3000));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_CONFIGURE));
}

TEST_F(Win32Windows, SelectingALineFillsTheLowerTreeAndADoubleClickOpensADetailWindow)
{
    Boxes boxes;
    StartMainWindow();
    Click(IDC_BEGIN_CAPTURE);
    for (int i = 0; i < 3; ++i) script::Push(script::Datagram(17, ADDRESS_A, ADDRESS_B, 60, 0));
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(List()) == 4; }));
    Click(IDC_ABORT_CAPTURE);
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }));

    // The column header line selects nothing.
    ListView_SetItemState(List(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(TreeView_GetCount(Lower()), 0u);

    ListView_SetItemState(List(), 2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    HTREEITEM line = TreeView_GetRoot(Lower());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(TreeText(Lower(), line), ListLine(List(), 2));
    EXPECT_TRUE(Expanded(Lower(), line));
    std::vector<std::string> sections;
    for (HTREEITEM s = TreeView_GetChild(Lower(), line); s; s = TreeView_GetNextSibling(Lower(), s))
        sections.push_back(TreeText(Lower(), s));
    EXPECT_EQ(sections, (std::vector<std::string>{"Ip Header", "UDP Header", "Data: 32 bytes"}));

    // Collapsing the payload by hand is remembered for the next packet shown.
    HTREEITEM payload = TreeView_GetNextSibling(Lower(), TreeView_GetNextSibling(Lower(), TreeView_GetChild(Lower(), line)));
    ASSERT_TRUE(Expanded(Lower(), payload));
    TreeView_SelectItem(Lower(), payload);
    SetFocus(Lower());
    SendMessageW(Lower(), WM_KEYDOWN, VK_LEFT, 0);  // the user collapses it
    EXPECT_FALSE(Expanded(Lower(), payload));
    EXPECT_EQ(SectionStates[PayloadSection - IpHeaderSection], EXPAND_COLLAPSE);

    // A double click on a packet line opens a detail window at the cascade's place.
    g_nextDetailPosition = ScreenPoint{50, 30};
    const int open = DetailWindow::OpenCount();
    RECT item;
    ListView_GetItemRect(List(), 1, &item, LVIR_LABEL);
    const LPARAM at = MAKELPARAM(item.left + 4, (item.top + item.bottom) / 2);
    SendMessageW(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(List(), WM_LBUTTONUP, 0, at);
    SendMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(List(), WM_LBUTTONUP, 0, at);
    ASSERT_EQ(DetailWindow::OpenCount(), open + 1);
    HWND detail = FindWindowW(nullptr,
                              L"Detail:  Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information");
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(GetWindow(detail, GW_OWNER), m_main->Handle());
    EXPECT_TRUE(GetWindowLongPtrW(detail, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT where;
    GetWindowRect(detail, &where);
    EXPECT_EQ(where.left, 50);
    EXPECT_EQ(where.top, 30);
    HWND tree = GetDlgItem(detail, DETAIL_TREE_ID);
    // Columns stand under each other, in "Courier New" or, where it is missing, another
    // fixed-pitch face.
    EXPECT_TRUE(FixedPitch(tree));
    EXPECT_TRUE(FixedPitch(List()));
    HTREEITEM detailLine = TreeView_GetRoot(tree);
    EXPECT_EQ(TreeText(tree, detailLine), ListLine(List(), 1));
    // The payload starts collapsed, as the lower tree taught it.
    HTREEITEM detailPayload = TreeView_GetNextSibling(tree, TreeView_GetNextSibling(tree, TreeView_GetChild(tree, detailLine)));
    EXPECT_FALSE(Expanded(tree, detailPayload));
    RECT client;
    GetClientRect(detail, &client);
    RECT treePlace;
    GetWindowRect(tree, &treePlace);
    EXPECT_EQ(treePlace.right - treePlace.left, client.right - 1);

    // Esc closes it for good.
    PostMessageW(tree, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(PumpUntil([&] { return DetailWindow::OpenCount() == open; }));
    EXPECT_FALSE(IsWindow(detail));

    // Windows still open go with the main window.
    OpenDetailWindow(m_window->Window(), g_session->m_index[0], 0);
    EXPECT_EQ(DetailWindow::OpenCount(), open + 1);
    m_window.reset();
    EXPECT_EQ(DetailWindow::OpenCount(), open);
    EXPECT_EQ(g_session, nullptr);
}

TEST_F(Win32Windows, TheConfigurationDialogExchangesItsFieldsWithTheControls)
{
    Boxes boxes;
    StartMainWindow();
    CConfigureDlg& configure = m_window->m_configDialog;
    configure.m_interfaceAddress = 0x0A000001;
    Win32Dialog& dialog = *AsWin32(configure.Open(m_window->Window()));
    dialog.Show();
    EXPECT_EQ(WindowText(dialog.Handle()), "Configure Capture");
    EXPECT_FALSE(GetWindowLongPtrW(dialog.Handle(), GWL_STYLE) & WS_SYSMENU);
    EXPECT_EQ(WindowText(dialog.Control(IDC_PACKETS)), "1000");
    EXPECT_EQ(WindowText(dialog.Control(IDC_SECONDS)), "3600");
    EXPECT_EQ(WindowText(dialog.Control(IDC_KILOBYTES)), "100");
    EXPECT_EQ(WindowText(dialog.Control(IDC_RULE_TEXT)),
              "<ipfilter action=\"capture\" dir=\"both\" ip=\"0.0.0.0\" netmask=\"0.0.0.0\" />");
    EXPECT_EQ(SendMessageW(dialog.Control(IDC_RULE_ACTION), CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(dialog.Control(IDC_RULE_DIRECTION), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageW(dialog.Control(IDC_OTHER), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(GetFocus(), dialog.Control(IDC_UDP));
    EXPECT_GT(TreeView_GetCount(dialog.Control(IDC_INTERFACES)), 0u);  // Wine's adapters
    DWORD address = 0;
    SendMessageW(dialog.Control(IDC_RULE_ADDRESS), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    EXPECT_EQ(address, 0x0A000001u);

    // Leaving a limit field clamps, stores and shows the value as "%3d".
    const auto typeAndLeave = [&](int id, const wchar_t* text) {
        SetFocus(dialog.Control(id));
        SetWindowTextW(dialog.Control(id), text);
        SetFocus(dialog.Control(IDC_UDP));
    };
    typeAndLeave(IDC_PACKETS, L"0");
    EXPECT_EQ(WindowText(dialog.Control(IDC_PACKETS)), "  1");
    EXPECT_EQ(g_session->m_packetLimit, 1);
    typeAndLeave(IDC_KILOBYTES, L"5000");
    EXPECT_EQ(WindowText(dialog.Control(IDC_KILOBYTES)), "1024");
    EXPECT_TRUE(boxes.m_seen.empty());
    typeAndLeave(IDC_SECONDS, L"abc");
    ASSERT_EQ(boxes.m_seen.size(), 1u);
    EXPECT_EQ(boxes.m_seen[0].text, "Please enter a positive integer.");
    EXPECT_EQ(boxes.m_seen[0].caption, "windows_ui_tests");  // the executable's name
    EXPECT_EQ(WindowText(dialog.Control(IDC_SECONDS)), "3600");

    // Apply shows the rule it installs; a box writes its switch when clicked.
    SendMessageW(dialog.Control(IDC_RULE_ADDRESS), IPM_SETADDRESS, 0, 0x0A010203);
    SendMessageW(dialog.Control(IDC_APPLY), BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(dialog.Control(IDC_RULE_TEXT)),
              "<ipfilter act=\"capture\" dir=\"both\" ip=\"10.1.2.3\" mask=\"255.255.255.255\" />");
    EXPECT_EQ(FormatFilterRule(g_session->m_filter), configure.m_filterText);
    SendMessageW(dialog.Control(IDC_TCP), BM_CLICK, 0, 0);
    EXPECT_FALSE(g_session->m_keepTcp);

    // It cannot be shrunk until Done falls out of it: its template is its least size.
    RECT opened;
    GetWindowRect(dialog.Handle(), &opened);
    MINMAXINFO limits{};
    SendMessageW(dialog.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, opened.right - opened.left);
    EXPECT_EQ(limits.ptMinTrackSize.y, opened.bottom - opened.top);

    // Enter and Esc leave it open; Done closes it.
    PostMessageW(dialog.Control(IDC_UDP), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(dialog.Control(IDC_UDP), WM_KEYDOWN, VK_ESCAPE, 0);
    Pump(100);
    EXPECT_TRUE(IsWindowVisible(dialog.Handle()));
    PostMessageW(dialog.Control(IDC_DONE), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.RunModal(), ID_OK);
    configure.Close();
}

// A key as the user presses it on a control, with Ctrl and Shift as asked.
void Press(HWND target, int key, bool ctrl = false, bool shift = false)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    BYTE held[256];
    std::copy(std::begin(keys), std::end(keys), held);
    held[VK_CONTROL] = ctrl ? 0x80 : 0;
    held[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(held);
    PostMessageW(target, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
    Pump(50);
    SetKeyboardState(keys);
}

std::wstring Clipboard()
{
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// A capture file of the datagrams, in the temporary folder.
std::string WriteCaptureFile(const std::vector<std::vector<uint8_t>>& datagrams)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::string path = Utf8FromUtf16(folder) + "kestrine-windows-test.pcap";
    std::vector<PacketRecord> records;
    for (const auto& d : datagrams)
        records.push_back(PacketRecord{d.data(), static_cast<int32_t>(d.size()), 0.0f, 1700000000000000000});
    std::string error;
    EXPECT_TRUE(SavePackets(records.data(), static_cast<int>(records.size()), path, &error)) << error;
    return path;
}

// A capture file of n UDP datagrams whose payloads say "payload N".
std::string WriteCaptureFile(int n)
{
    std::vector<std::vector<uint8_t>> datagrams;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> d = script::Datagram(17, ADDRESS_A, ADDRESS_B, 28, 0);
        const std::string payload = "payload " + std::to_string(i);
        d.insert(d.end(), payload.begin(), payload.end());
        d[3] = static_cast<uint8_t>(d.size());
        datagrams.push_back(std::move(d));
    }
    return WriteCaptureFile(datagrams);
}

// The width of text in a control's font.
int TextExtent(HWND control, const std::string& text)
{
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    const std::wstring wide = WideFromLatin1(text);
    SIZE extent{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent.cx;
}

// A dotted address typed over a filled IP address control, wholly selected as tabbing in
// leaves it, gives exactly that address: the field a full field moves on to is replaced, and
// the '.' typed after such a move does not move on again.
TEST_F(Win32Windows, ADottedAddressTypedOverAFilledAddressControlIsTakenAsTyped)
{
    Boxes boxes;
    StartMainWindow();
    CConfigureDlg& configure = m_window->m_configDialog;
    Win32Dialog& dialog = *AsWin32(configure.Open(m_window->Window()));
    dialog.Show();
    HWND control = dialog.Control(IDC_RULE_ADDRESS);
    const auto typeOver = [&](uint32_t filled, const wchar_t* typed) {
        SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(filled));
        SendMessageW(control, IPM_SETFOCUS, 0, 0);
        for (const wchar_t* c = typed; *c; ++c) {
            // Each key goes where the focus is once the one before it has been handled.
            PostMessageW(GetFocus(), WM_CHAR, *c, 1);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!Win32Dialog::PreTranslate(message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
        }
        DWORD address = 0;
        SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        return address;
    };
    EXPECT_EQ(typeOver(0x7F000001, L"192.168.1.77"), 0xC0A8014Du);  // over 127.0.0.1
    EXPECT_EQ(typeOver(0xC6120001, L"127.0.0.2"), 0x7F000002u);     // over 198.18.0.1
    EXPECT_EQ(typeOver(0x7F000001, L"10.1.2.3"), 0x0A010203u);      // no field full
    EXPECT_TRUE(boxes.m_seen.empty());
    PostMessageW(dialog.Control(IDC_DONE), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.RunModal(), ID_OK);
    configure.Close();
}

TEST_F(Win32Windows, AtItsDefaultSizeTheWindowShowsTheWidestCommonLineAndAWholeDumpLine)
{
    Boxes boxes;
    StartMainWindow();
    // Enough TCP segments of five-digit size with all six flags for a vertical scroll bar,
    // their payload in the widest letter.
    std::vector<std::vector<uint8_t>> datagrams;
    for (int i = 0; i < 40; ++i) {
        std::vector<uint8_t> d = script::Datagram(6, 0xFFFFFFFF, 0xFFFFFFFE, 12000, 'W');
        d[2] = static_cast<uint8_t>(d.size() >> 8);
        d[3] = static_cast<uint8_t>(d.size());
        d[6] = d[7] = 0;  // not a fragment
        d[32] = 0x50;     // a 20-byte TCP header
        d[33] = 0x3F;     // URG ACK PSH RST SYN FIN
        datagrams.push_back(std::move(d));
    }
    const std::string path = WriteCaptureFile(datagrams);
    SetOpenFileChooser([&] { return path; });
    SetFocus(List());
    Press(List(), 'O', true);
    SetOpenFileChooser(nullptr);
    ASSERT_EQ(ListView_GetItemCount(List()), 41);
    EXPECT_TRUE(boxes.m_seen.empty());
    m_main->Show();  // laid out as a user first sees it

    RECT frame;
    GetWindowRect(m_main->Handle(), &frame);
    EXPECT_GE(frame.right - frame.left, MAIN_MIN_WIDTH);
    EXPECT_GE(frame.bottom - frame.top, MAIN_MIN_HEIGHT);
    // The line is the widest common one, and the list's client area (inside its border and
    // vertical scroll bar) holds it with the label's margins.
    const std::string widest = ListLine(List(), 40);
    EXPECT_EQ(widest.size(), std::string_view(SUMMARY_LINE_WIDEST_COMMON).size()) << widest;
    ASSERT_NE(GetWindowLongW(List(), GWL_STYLE) & WS_VSCROLL, 0);
    RECT client;
    GetClientRect(List(), &client);
    EXPECT_GE(client.right, TextExtent(List(), widest) + 12) << widest;

    // The lower tree shows a whole payload dump line without scrolling sideways.
    ListView_SetItemState(List(), 40, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    HTREEITEM line = TreeView_GetRoot(Lower());
    ASSERT_NE(line, nullptr);
    HTREEITEM data = TreeView_GetChild(Lower(), line);
    while (data && TreeText(Lower(), data).rfind("Data: ", 0) != 0) data = TreeView_GetNextSibling(Lower(), data);
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(Expanded(Lower(), data));
    const HTREEITEM dump = TreeView_GetChild(Lower(), data);
    ASSERT_NE(dump, nullptr);
    const std::string dumpLine = TreeText(Lower(), dump);
    EXPECT_EQ(dumpLine.substr(dumpLine.size() - 16), std::string(16, 'W'));
    TreeView_EnsureVisible(Lower(), dump);
    EXPECT_EQ(GetWindowLongW(Lower(), GWL_STYLE) & WS_HSCROLL, 0);
    RECT text;
    ASSERT_TRUE(TreeView_GetItemRect(Lower(), dump, &text, TRUE));
    GetClientRect(Lower(), &client);
    EXPECT_GE(text.left, 0);
    EXPECT_LE(text.left + TextExtent(Lower(), dumpLine), client.right) << dumpLine;
}

TEST_F(Win32Windows, OpensFilesCopiesAndFindsByKeyboardAndDrop)
{
    Boxes boxes;
    StartMainWindow();
    const std::string path = WriteCaptureFile(4);
    SetOpenFileChooser([&] { return path; });
    SetFocus(List());
    Press(List(), 'O', true);
    SetOpenFileChooser(nullptr);
    ASSERT_EQ(ListView_GetItemCount(List()), 5);
    EXPECT_EQ(ListLine(List(), 0), SUMMARY_COLUMN_HEADER);
    EXPECT_EQ(ListLine(List(), 4).substr(0, 25), "    3      0.000000    37");

    // Two lines selected: the column header line, then theirs, with the platform's line ends.
    ListView_SetItemState(List(), 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(List(), 3, LVIS_SELECTED, LVIS_SELECTED);
    Press(List(), 'C', true);
    EXPECT_EQ(Clipboard(), WideFromLatin1(ListLine(List(), 0) + "\r\n" + ListLine(List(), 1) + "\r\n" + ListLine(List(), 3) + "\r\n"));

    // Ctrl+A takes every line.
    Press(List(), 'A', true);
    EXPECT_EQ(ListView_GetSelectedCount(List()), 5u);
    Press(List(), 'C', true);
    std::string all;
    for (int row = 0; row < 5; ++row) all += ListLine(List(), row) + "\r\n";
    EXPECT_EQ(Clipboard(), WideFromLatin1(all));

    // Ctrl+F opens the Find dialog; Enter and F3 go forward, Shift+F3 back.
    Press(List(), 'F', true);
    HWND find = FindWindowW(nullptr, L"Find");
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(IsWindowVisible(find));
    EXPECT_EQ(GetWindow(find, GW_OWNER), m_main->Handle());
    // It opens beside or below the main window, where it covers no line it will select.
    RECT findPlace, listPlace, overlap;
    GetWindowRect(find, &findPlace);
    GetWindowRect(List(), &listPlace);
    EXPECT_FALSE(IntersectRect(&overlap, &findPlace, &listPlace));
    SetWindowTextW(GetDlgItem(find, IDC_FIND_TEXT), L"payload 2");
    SendMessageW(GetDlgItem(find, IDC_FIND_DETAILS), BM_CLICK, 0, 0);
    Press(GetDlgItem(find, IDC_FIND_TEXT), VK_RETURN);
    EXPECT_EQ(ListView_GetNextItem(List(), -1, LVNI_FOCUSED), 3);
    // The lower tree's matching line is the selected one, its section open.
    const HTREEITEM match = TreeView_GetSelection(Lower());
    ASSERT_NE(match, nullptr);
    EXPECT_NE(TreeText(Lower(), match).find("payload 2"), std::string::npos) << TreeText(Lower(), match);
    EXPECT_TRUE(Expanded(Lower(), TreeView_GetParent(Lower(), match)));
    SetWindowTextW(GetDlgItem(find, IDC_FIND_TEXT), L"UDP");
    Press(GetDlgItem(find, IDC_FIND_TEXT), VK_F3);
    EXPECT_EQ(ListView_GetNextItem(List(), -1, LVNI_FOCUSED), 4);
    Press(List(), VK_F3, false, true);
    EXPECT_EQ(ListView_GetNextItem(List(), -1, LVNI_FOCUSED), 3);
    SetWindowTextW(GetDlgItem(find, IDC_FIND_TEXT), L"nowhere");
    SendMessageW(GetDlgItem(find, IDC_FIND_NEXT), BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(GetDlgItem(find, IDC_FIND_STATUS)), "Not found");
    EXPECT_TRUE(boxes.m_seen.empty());
    // A change of the text or of an option is a new search: the old result goes.
    SetWindowTextW(GetDlgItem(find, IDC_FIND_TEXT), L"nowhere at all");
    EXPECT_EQ(WindowText(GetDlgItem(find, IDC_FIND_STATUS)), "");
    SendMessageW(GetDlgItem(find, IDC_FIND_NEXT), BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(GetDlgItem(find, IDC_FIND_STATUS)), "Not found");
    SendMessageW(GetDlgItem(find, IDC_FIND_DETAILS), BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(GetDlgItem(find, IDC_FIND_STATUS)), "");

    // A file dropped on the window opens too.
    Click(IDC_BEGIN_CAPTURE);
    Click(IDC_ABORT_CAPTURE);
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }));
    ASSERT_EQ(ListView_GetItemCount(List()), 1);
    std::wstring wide;
    ASSERT_TRUE(Utf16FromUtf8(path, &wide));
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::copy(wide.begin(), wide.end(), reinterpret_cast<wchar_t*>(files + 1));
    GlobalUnlock(memory);
    SendMessageW(m_main->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);  // the window frees it
    EXPECT_EQ(ListView_GetItemCount(List()), 5);
}

// Record to File on the scripted socket: offered only while no capture runs, the list
// follows the file through the real timer, Abort opens the file; a file that cannot be
// made is said in a box.
TEST_F(Win32Windows, RecordToFileFollowsTheFileAndAbortOpensIt)
{
    Boxes boxes;
    StartMainWindow();
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }, 1000));
    EXPECT_TRUE(m_window->IsCommandEnabled(RECORD_TO_FILE_COMMAND));
    Click(IDC_BEGIN_CAPTURE);
    EXPECT_FALSE(m_window->IsCommandEnabled(RECORD_TO_FILE_COMMAND));
    Click(IDC_ABORT_CAPTURE);
    ASSERT_TRUE(PumpUntil([&] { return Enabled(IDC_BEGIN_CAPTURE); }));

    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::string path = Utf8FromUtf16(folder) + "kestrine-windows-recorded.pcap";
    const auto fileLines = [&] {
        std::vector<std::string> lines{SUMMARY_COLUMN_HEADER};
        ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t i) {
            char line[256];
            FormatSummaryLine(r, i, line, sizeof line);
            lines.emplace_back(line);
            return true;
        });
        return lines;
    };
    const auto listLines = [&] {
        std::vector<std::string> lines;
        for (int row = 0; row < ListView_GetItemCount(List()); ++row) lines.push_back(ListLine(List(), row));
        return lines;
    };
    SetSaveFileChooser([&] { return path; });
    SendMessageW(m_main->Handle(), WM_COMMAND, RECORD_TO_FILE_COMMAND, 0);
    ASSERT_TRUE(m_window->Recording());
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_CONFIGURE));
    for (int i = 0; i < 300; ++i) script::Push(script::Datagram(17, ADDRESS_A, ADDRESS_B, 40 + i % 7));
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(List()) == 301; }, 5000)) << ListView_GetItemCount(List());
    EXPECT_EQ(listLines(), fileLines());
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));
    for (int i = 0; i < 2000; ++i) script::Push(script::Datagram(6, ADDRESS_B, ADDRESS_A, 60));
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(List()) == 2301; }, 5000)) << ListView_GetItemCount(List());
    ListView_SetItemState(List(), 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Pump(50);
    EXPECT_EQ(TreeText(Lower(), TreeView_GetRoot(Lower())), ListLine(List(), 1));

    Click(IDC_ABORT_CAPTURE);
    ASSERT_TRUE(PumpUntil([&] { return !m_window->Recording(); }, 3000));
    EXPECT_EQ(listLines(), fileLines());
    EXPECT_EQ(ListView_GetItemCount(List()), 2301);
    EXPECT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_TRUE(m_window->CanSavePackets());
    EXPECT_TRUE(boxes.m_seen.empty());

    const std::string missing = Utf8FromUtf16(folder) + "kestrine-no-such-folder\\recorded.pcap";
    SetSaveFileChooser([&] { return missing; });
    SendMessageW(m_main->Handle(), WM_COMMAND, RECORD_TO_FILE_COMMAND, 0);
    SetSaveFileChooser(nullptr);
    EXPECT_FALSE(m_window->Recording());
    ASSERT_EQ(boxes.m_seen.size(), 1u);
    EXPECT_EQ(boxes.m_seen[0].text.rfind("Could not record to " + missing + ":\r\n", 0), 0u) << boxes.m_seen[0].text;
    EXPECT_EQ(ListView_GetItemCount(List()), 2301);  // the list stays the file's
    m_window.reset();
    DeleteFileW((std::wstring(folder) + L"kestrine-windows-recorded.pcap").c_str());
}

// A copy over many lines shows its progress window, which keeps answering; Cancel drops it.
TEST_F(Win32Windows, ALongCopyShowsAProgressWindowWhoseCancelDropsIt)
{
    Boxes boxes;
    StartMainWindow();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile(100000)));
    m_window->m_sliceSeconds = 0;
    m_window->m_progressDelay = 0;
    ListView_SetItemState(List(), -1, LVIS_SELECTED, LVIS_SELECTED);
    SetFocus(List());
    Press(List(), 'C', true);
    ASSERT_TRUE(m_window->Busy());
    ASSERT_TRUE(PumpUntil([&] { return m_window->Progress() != nullptr || !m_window->Busy(); }));
    ASSERT_NE(m_window->Progress(), nullptr);
    Win32Dialog& progress = *AsWin32(m_window->Progress()->Window());
    EXPECT_TRUE(IsWindowVisible(progress.Handle()));
    EXPECT_EQ(GetWindow(progress.Handle(), GW_OWNER), m_main->Handle());
    EXPECT_EQ(ClassOf(progress.Control(IDC_PROGRESS_BAR)), L"msctls_progress32");
    EXPECT_EQ(WindowText(progress.Control(IDC_PROGRESS_TEXT)), "Copying the packet lines...");
    EXPECT_EQ(WindowText(progress.Control(ID_CANCEL)), "Cancel");
    const std::wstring before = Clipboard();
    SendMessageW(progress.Control(ID_CANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !m_window->Busy(); }));
    EXPECT_EQ(m_window->Progress(), nullptr);
    EXPECT_EQ(Clipboard(), before);
    EXPECT_TRUE(boxes.m_seen.empty());
}

// The selection of a long list is read from the list's own selected count and a walk of
// the selected lines only; it agrees with the list view's walk over every line.
TEST_F(Win32Windows, TheSelectionOfAMillionLinesIsReadWithoutAskingEveryLine)
{
    Boxes boxes;
    StartMainWindow();
    constexpr size_t LINES = 1000000;
    const std::vector<uint8_t> datagram = script::Datagram(17, ADDRESS_A, ADDRESS_B, 28, 0);
    const std::vector<PacketRecord> records(LINES, PacketRecord{datagram.data(), static_cast<int32_t>(datagram.size()), 0.0f, 0});
    m_main->ListLines(IDC_PACKET_LIST).AddRecordLines(records.data(), records.size());
    m_main->CommitList(IDC_PACKET_LIST, false);
    m_main->SelectListLine(IDC_PACKET_LIST, 10);

    std::vector<size_t> walked;
    for (int row = ListView_GetNextItem(List(), -1, LVNI_SELECTED); row >= 0; row = ListView_GetNextItem(List(), row, LVNI_SELECTED))
        walked.push_back(static_cast<size_t>(row));
    EXPECT_EQ(m_main->SelectedListLines(IDC_PACKET_LIST), (std::vector<size_t>{10}));
    EXPECT_EQ(m_main->SelectedListLines(IDC_PACKET_LIST), walked);

    // A range around the current line, and a selection that is not one range.
    ListView_SetItemState(List(), 11, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(List(), 9, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(m_main->SelectedListLines(IDC_PACKET_LIST), (std::vector<size_t>{9, 10, 11}));
    ListView_SetItemState(List(), LINES - 1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(m_main->SelectedListLines(IDC_PACKET_LIST), (std::vector<size_t>{9, 10, 11, LINES - 1}));
    m_main->ClearList(IDC_PACKET_LIST);  // before the records go
}

TEST_F(Win32Windows, TheFirstRunShowsTheAboutBoxWithTheLicenceAfterWritingTheValue)
{
    {
        FirstRunStore store;
        ASSERT_TRUE(store.Open());
        ASSERT_TRUE(store.WriteDword(FIRST_RUN_VALUE, 0));
    }
    // Runs inside the box's modal loop: the value is stored, the licence shown.
    static uint32_t storedWhileOpen;
    static std::string licence;
    static int opened;
    storedWhileOpen = 0;
    licence.clear();
    opened = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND box = FindWindowW(nullptr, L"About Kestrine - Harvoll");
        if (!box || !IsWindowVisible(box)) return;
        ++opened;
        FirstRunStore store;
        if (store.Open()) store.ReadDword(FIRST_RUN_VALUE, &storedWhileOpen);
        licence = WindowText(GetDlgItem(box, ABOUT_TEXT_ID));
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    });
    CheckFirstRun();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(storedWhileOpen, 1u);
    EXPECT_NE(licence.find("Kestrine End-User Licence Agreement"), std::string::npos) << licence;
    EXPECT_EQ(licence.find("\\rtf"), std::string::npos);  // shown formatted, not as source
    CheckFirstRun();  // the second start shows nothing (a box would stay open here)
    KillTimer(nullptr, timer);
    EXPECT_EQ(opened, 1);
}

TEST_F(Win32Windows, QuittingAsksAndOnlyOkEndsTheWindow)
{
    {
        Boxes refuse(MESSAGE_CANCEL);
        StartMainWindow();
        PostMessageW(m_main->Control(IDC_CONFIGURE), WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(m_main->Handle(), WM_CLOSE, 0, 0);
        Pump(200);
        ASSERT_EQ(refuse.m_seen.size(), 2u);
        EXPECT_EQ(refuse.m_seen[0].text, "Really Quit?");
        EXPECT_EQ(refuse.m_seen[0].caption, "Kestrine");
        EXPECT_EQ(refuse.m_seen[0].buttons, MessageButtons::OkCancel);
        EXPECT_EQ(refuse.m_seen[0].icon, MessageIcon::None);
        EXPECT_TRUE(IsWindowVisible(m_main->Handle()));
        EXPECT_FALSE(g_session->m_stopRequested.load());
    }
    Boxes agree(MESSAGE_OK);
    PostMessageW(m_main->Control(IDC_CONFIGURE), WM_KEYDOWN, VK_ESCAPE, 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(m_main->RunModal(), ID_CANCEL);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1000));  // the wait after OK
    EXPECT_TRUE(g_session->m_stopRequested.load());
    EXPECT_FALSE(IsWindowVisible(m_main->Handle()));
}

}  // namespace
// The Filter window: Ctrl+L opens it; a display filter lists the matching packets by their
// own numbers, the lower tree, Copy and Save take what is shown; a mistake is said in the
// window; Clear lists every packet again.
TEST_F(Win32Windows, TheFilterWindowListsTheMatchingPacketsByTheirOwnNumbers)
{
    Boxes boxes;
    StartMainWindow();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile(6)));
    std::vector<std::string> all;
    for (int row = 0; row < 7; ++row) all.push_back(ListLine(List(), row));
    SetFocus(List());
    Press(List(), 'L', true);
    HWND filter = FindWindowW(nullptr, L"Filter");
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(IsWindowVisible(filter));
    EXPECT_EQ(GetWindow(filter, GW_OWNER), m_main->Handle());
    const auto shown = [&] {
        std::vector<std::string> lines;
        for (int row = 0; row < ListView_GetItemCount(List()); ++row) lines.push_back(ListLine(List(), row));
        return lines;
    };
    const auto status = [&] { return WindowText(GetDlgItem(filter, IDC_FILTER_STATUS)); };

    // The odd payload digits ("payload N" from the UDP header's ninth byte on): 1, 3 and 5.
    SetWindowTextW(GetDlgItem(filter, IDC_FILTER_TEXT), L"udp[16] & 1 = 1");
    Press(GetDlgItem(filter, IDC_FILTER_TEXT), VK_RETURN);
    const std::vector<std::string> odd{all[0], all[2], all[4], all[6]};
    EXPECT_EQ(shown(), odd);
    EXPECT_EQ(status(), "Showing 3 of 6 packets");

    // The second shown line is packet 3: the lower tree and Copy say so; Save writes what is shown.
    ListView_SetItemState(List(), 2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(TreeText(Lower(), TreeView_GetRoot(Lower())), all[4]);
    Press(List(), 'C', true);
    EXPECT_EQ(Clipboard(), WideFromLatin1(all[4] + "\r\n"));
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::string saved = Utf8FromUtf16(folder) + "kestrine-filtered.pcap";
    SetSaveFileChooser([&] { return saved; });
    m_window->OnSavePackets();
    SetSaveFileChooser(nullptr);
    {
        const CaptureFileContents again = LoadCaptureFile(saved);
        ASSERT_EQ(again.records.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(again.records[i].data[36], '1' + 2 * i);
    }
    std::wstring wideSaved;
    ASSERT_TRUE(Utf16FromUtf8(saved, &wideSaved));
    DeleteFileW(wideSaved.c_str());

    // A mistake is said in the window with its column; the list stays as it was.
    SetWindowTextW(GetDlgItem(filter, IDC_FILTER_TEXT), L"udp[16] &");
    SendMessageW(GetDlgItem(filter, IDC_FILTER_APPLY), BM_CLICK, 0, 0);
    EXPECT_EQ(status().rfind("column ", 0), 0u) << status();
    EXPECT_EQ(shown(), odd);
    EXPECT_TRUE(boxes.m_seen.empty());

    SendMessageW(GetDlgItem(filter, IDC_FILTER_CLEAR), BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(GetDlgItem(filter, IDC_FILTER_TEXT)), "");
    EXPECT_EQ(shown(), all);
    EXPECT_EQ(status(), "Showing 6 of 6 packets");
    EXPECT_TRUE(boxes.m_seen.empty());
}

}  // namespace kestrine
