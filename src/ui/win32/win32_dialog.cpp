// Dialogs built in memory from their templates with the Win32 dialog manager and common
// controls.
#include "ui/win32/win32_dialog.h"

#include <commctrl.h>
#include <shellapi.h>
#include <richedit.h>

#include <algorithm>
#include <cstring>

#include "common/utf16_win.h"
#include "decode/summary.h"
#include "ui/resource_ids.h"
#include "ui/rtf_reader.h"
#include "ui/win32/ip_address_win32.h"

namespace kestrine {

namespace {

// Posted to a dialog to destroy it once the notification that asked for it has returned.
constexpr UINT WM_DESTROY_LATER = WM_APP + 1;
// Room beside a list line's text: the item's margins on both sides.
constexpr int LIST_TEXT_MARGINS = 12;

// Every dialog object alive, to find the one a message of the modal loop belongs to.
std::vector<Win32Dialog*> g_dialogs;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// Marks the program's own changes to the controls for as long as it lives: the
// notifications they cause do not reach the handler.
class QuietChanges {
public:
    explicit QuietChanges(bool& quiet) : m_quiet(quiet), m_was(quiet) { quiet = true; }
    ~QuietChanges() { m_quiet = m_was; }
    QuietChanges(const QuietChanges&) = delete;
    QuietChanges& operator=(const QuietChanges&) = delete;

private:
    bool& m_quiet;
    const bool m_was;
};

// The node of a tree control's selected item; NO_NODE when none is selected or its node is
// not in the tree shown.
NodeId SelectedNode(HWND control, const DetailTree& tree)
{
    const HTREEITEM selected = TreeView_GetSelection(control);
    if (!selected) return NO_NODE;
    TVITEMW item{};
    item.mask = TVIF_PARAM;
    item.hItem = selected;
    TreeView_GetItem(control, &item);
    const auto node = static_cast<NodeId>(item.lParam);
    return node >= 0 && static_cast<size_t>(node) < tree.Size() ? node : NO_NODE;
}

DWORD CALLBACK ReadDocument(DWORD_PTR cookie, LPBYTE buffer, LONG room, LONG* taken)
{
    auto* rest = reinterpret_cast<std::string_view*>(cookie);
    const size_t n = std::min(rest->size(), static_cast<size_t>(room));
    std::memcpy(buffer, rest->data(), n);
    rest->remove_prefix(n);
    *taken = static_cast<LONG>(n);
    return 0;
}

HICON ProgramIcon(bool small)
{
    return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(KESTRINE_ICON_ID), IMAGE_ICON,
                                         GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON),
                                         GetSystemMetrics(small ? SM_CYSMICON : SM_CYICON), LR_SHARED));
}

}  // namespace

Win32Dialog::Win32Dialog(const DialogTemplate& t, DialogHandler& handler, Win32Dialog* owner) : m_handler(handler)
{
    const std::vector<WORD> words = BuildDialogTemplate(t);
    CreateDialogIndirectParamW(Instance(), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                               owner ? owner->Handle() : nullptr, &Win32Dialog::DialogProcedure,
                               reinterpret_cast<LPARAM>(this));
    g_dialogs.push_back(this);
    if (m_hwnd) FinishCreation(t);
    m_live = true;
}

Win32Dialog::~Win32Dialog()
{
    g_dialogs.erase(std::remove(g_dialogs.begin(), g_dialogs.end(), this), g_dialogs.end());
    if (m_hwnd) {
        m_tellHandler = false;  // its handler is going: nothing more to tell
        DestroyWindow(m_hwnd);
    }
    if (m_fixedFont) DeleteObject(m_fixedFont);
}

void Win32Dialog::FinishCreation(const DialogTemplate& t)
{
    if (t.frame == DialogFrame::Sizing) {
        // Never smaller than its template: every control, Done among them, stays reachable.
        RECT frame;
        GetWindowRect(m_hwnd, &frame);
        m_minimumFrame = SIZE{frame.right - frame.left, frame.bottom - frame.top};
    }
    if (IsFixedPitchFace(t.fontFace)) EnsureFixedPitchFont();
    for (const ControlTemplate& c : t.controls) {
        HWND control = Control(c.id);
        if (!control) continue;
        switch (c.kind) {
        case ControlKind::DropDown: {
            std::string_view items = c.text ? c.text : "";
            while (!items.empty()) {
                const size_t end = std::min(items.find('\n'), items.size());
                SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromLatin1(items.substr(0, end)).c_str()));
                items.remove_prefix(std::min(end + 1, items.size()));
            }
            break;
        }
        case ControlKind::TreeView: m_trees[c.id]; break;
        case ControlKind::IpAddress: FollowDottedTyping(control); break;
        case ControlKind::PacketList: {
            m_lists[c.id];
            ListView_SetExtendedListViewStyle(control, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
            LVCOLUMNW column{};
            column.mask = LVCF_WIDTH;
            ListView_InsertColumn(control, 0, &column);
            SizeListColumn(c.id);
            break;
        }
        default: break;
        }
    }
    WidenForWidestLine(t);
}

void Win32Dialog::WidenForWidestLine(const DialogTemplate& t)
{
    // The template's width in dialog units holds too few characters of the list's font: a
    // window with a packet list opens wider by what its list or trees lack for the widest
    // common line (a tree shows it as its root line, one indent in), with the label's
    // margins and a vertical scroll bar. The logic lays the controls out from the window's
    // width, so they follow; the minimum size is unchanged.
    if (std::none_of(t.controls.begin(), t.controls.end(),
                     [](const ControlTemplate& c) { return c.kind == ControlKind::PacketList; }))
        return;
    const std::wstring line = WideFromLatin1(SUMMARY_LINE_WIDEST_COMMON);
    int lacking = 0;
    for (const ControlTemplate& c : t.controls) {
        if (c.kind != ControlKind::PacketList && c.kind != ControlKind::TreeView) continue;
        HWND control = Control(c.id);
        if (!control) continue;
        HDC dc = GetDC(control);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        SIZE extent{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        RECT outer, client;
        GetWindowRect(control, &outer);
        GetClientRect(control, &client);
        const int border = (outer.right - outer.left) - client.right;
        const int lead = c.kind == ControlKind::TreeView ? static_cast<int>(TreeView_GetIndent(control)) : 0;
        const int needed = lead + extent.cx + LIST_TEXT_MARGINS + GetSystemMetrics(SM_CXVSCROLL) + border;
        lacking = std::max<int>(lacking, needed - (outer.right - outer.left));
    }
    if (lacking <= 0) return;
    RECT frame;
    GetWindowRect(m_hwnd, &frame);
    // Centred as before, and no wider than the work area of its monitor.
    MONITORINFO monitor{sizeof monitor, {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const int width = std::min<int>(frame.right - frame.left + lacking, monitor.rcWork.right - monitor.rcWork.left);
    const int left = std::max<int>(monitor.rcWork.left, frame.left - (width - (frame.right - frame.left)) / 2);
    SetWindowPos(m_hwnd, nullptr, left, frame.top, width, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Dialog::EnsureFixedPitchFont()
{
    // The columns of the summary lines need a fixed-pitch font. Where the template's face is
    // missing, the dialog manager falls back to any face; ask again for fixed pitch.
    const auto font = reinterpret_cast<HFONT>(SendMessageW(m_hwnd, WM_GETFONT, 0, 0));
    LOGFONTW wanted{};
    if (!font || !GetObjectW(font, sizeof wanted, &wanted)) return;
    HDC dc = GetDC(m_hwnd);
    const HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(m_hwnd, dc);
    if (!(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH)) return;  // the bit set means variable pitch
    wanted.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    wanted.lfOutPrecision = OUT_TT_PRECIS;
    m_fixedFont = CreateFontIndirectW(&wanted);
    if (!m_fixedFont) return;
    for (HWND child = GetWindow(m_hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_fixedFont), FALSE);
}

INT_PTR CALLBACK Win32Dialog::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        return TRUE;  // the dialog manager focuses the first control; the logic may move it
    }
    auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hwnd = nullptr;
        if (self->m_tellHandler) self->m_handler.OnDestroyed();  // may delete the object: nothing after
        return FALSE;
    }
    bool handled = false;
    const INT_PTR result = self->OnMessage(message, wParam, lParam, &handled);
    // A handler may have destroyed the window (and the object with it) meanwhile.
    if (handled && IsWindow(hwnd)) SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return handled ? TRUE : FALSE;
}

INT_PTR Win32Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled)
{
    *handled = true;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        const HWND from = reinterpret_cast<HWND>(lParam);
        if (!Live()) return 0;
        if (from && code == EN_KILLFOCUS) {
            m_handler.OnKillFocus(id);
        } else if (from && code == EN_CHANGE) {
            m_handler.OnTextChanged(id);
        } else if (!from && code == 1) {  // a context command's key
            if (m_handler.IsCommandEnabled(id)) m_handler.OnCommand(id);
        } else if (code == BN_CLICKED) {
            if (id == IDOK) m_handler.OnOK();
            else if (id == IDCANCEL) m_handler.OnCancel();
            else m_handler.OnCommand(id);
        } else {
            *handled = false;
        }
        return 0;
    }
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_VSCROLL:
        if (lParam && Live()) m_handler.OnTrackbarMoved(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        return 0;
    case WM_TIMER:
        if (m_live) m_handler.OnTimer(static_cast<int>(wParam));
        return 0;
    case WM_SIZE:
        if (m_live) m_handler.OnSize(static_cast<uint32_t>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (m_minimumFrame.cx > 0) info->ptMinTrackSize = POINT{m_minimumFrame.cx, m_minimumFrame.cy};
        return 0;
    }
    case WM_SYSCOMMAND:
        *handled = m_live && m_handler.OnSysCommand(static_cast<int>(wParam));
        return 0;
    case WM_CONTEXTMENU: {
        const HWND control = reinterpret_cast<HWND>(wParam);
        const int id = GetDlgCtrlID(control);
        const bool hasMenu = std::any_of(m_commands.begin(), m_commands.end(),
                                         [id](const auto& entry) { return entry.first == id && entry.second.text; });
        if (control == m_hwnd || !hasMenu) {
            *handled = false;
            return 0;
        }
        ShowContextMenu(control, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
    }
    case WM_PAINT: {
        if (!IsIconic(m_hwnd)) break;
        // A minimised window shows the program's icon centred in its client area.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(m_hwnd, &paint);
        SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(m_hwnd, &client);
        const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, ProgramIcon(false));
        EndPaint(m_hwnd, &paint);
        return 0;
    }
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(ProgramIcon(false));
    case WM_DROPFILES: OnDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_DESTROY_LATER: DestroyWindow(m_hwnd); return 0;
    default: break;
    }
    *handled = false;
    return 0;
}

LRESULT Win32Dialog::OnNotify(const NMHDR& header)
{
    const int id = static_cast<int>(header.idFrom);
    switch (header.code) {
    case LVN_GETDISPINFOW: {
        auto& info = *reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header));
        const auto list = m_lists.find(id);
        if (list == m_lists.end() || !(info.item.mask & LVIF_TEXT) || info.item.iItem < 0 ||
            static_cast<size_t>(info.item.iItem) >= list->second.shown || info.item.cchTextMax <= 0)
            return 0;
        LineBuffer buffer;  // a file's lines are formatted here, when shown
        const std::string_view line = list->second.lines.Line(static_cast<size_t>(info.item.iItem), buffer);
        const size_t n = std::min(line.size(), static_cast<size_t>(info.item.cchTextMax - 1));
        for (size_t i = 0; i < n; ++i) info.item.pszText[i] = static_cast<wchar_t>(static_cast<unsigned char>(line[i]));
        info.item.pszText[n] = L'\0';
        return 0;
    }
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        // The current line is the focused one; with Shift or Ctrl more lines are selected.
        if ((change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_FOCUSED) && !(change.uOldState & LVIS_FOCUSED) &&
            Live())
            m_handler.OnSelectionChanged(id);
        return 0;
    }
    case TVN_SELCHANGEDW:
        if (Live()) m_handler.OnSelectionChanged(id);
        return 0;
    case TVN_ITEMEXPANDEDW: {
        const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
        const auto tree = m_trees.find(id);
        if (tree == m_trees.end() || !Live()) return 0;
        const auto node = static_cast<NodeId>(change.itemNew.lParam);
        const uint32_t tag = node >= 0 && static_cast<size_t>(node) < tree->second.Size() ? tree->second.Tag(node) : 0;
        m_handler.OnItemExpanded(id, tag, static_cast<int>(change.action & (TVE_COLLAPSE | TVE_EXPAND)));
        return 0;
    }
    case NM_DBLCLK:
        if (Live()) m_handler.OnDoubleClick(id);
        return 0;  // trees go on to toggle the item
    default: return 0;
    }
}

void Win32Dialog::ShowContextMenu(HWND control, int x, int y)
{
    if (x == -1 && y == -1) {  // from the keyboard: at the control's corner
        RECT place;
        GetWindowRect(control, &place);
        x = place.left;
        y = place.top;
    }
    HMENU menu = CreatePopupMenu();
    const int id = GetDlgCtrlID(control);
    for (const auto& [owner, command] : m_commands) {
        if (owner != id || !command.text) continue;
        std::wstring text = WideFromLatin1(command.text);
        if (command.key.key != 0)
            text += std::wstring(L"\t") + (command.key.ctrl ? L"Ctrl+" : L"") + (command.key.shift ? L"Shift+" : L"") +
                    (command.key.key == KEY_F3 ? std::wstring(L"F3") : std::wstring(1, static_cast<wchar_t>(command.key.key)));
        AppendMenuW(menu, MF_STRING | (m_handler.IsCommandEnabled(command.command) ? 0 : MF_GRAYED),
                    static_cast<UINT_PTR>(command.command), text.c_str());
    }
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, m_hwnd, nullptr);
    DestroyMenu(menu);
    if (chosen != 0 && m_handler.IsCommandEnabled(chosen)) m_handler.OnCommand(chosen);
}

bool Win32Dialog::PreTranslate(MSG& message)
{
    const HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (!root) return false;
    const auto found = std::find_if(g_dialogs.begin(), g_dialogs.end(), [root](Win32Dialog* d) { return d->m_hwnd == root; });
    if (found == g_dialogs.end()) return false;
    if (message.message == WM_KEYDOWN && (*found)->SelectAllLines(message)) return true;
    if ((message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) && (*found)->RunShortcut(message)) return true;
    return IsDialogMessageW(root, &message);
}

HWND Win32Dialog::Control(int id) const { return m_hwnd && id != NO_ID ? GetDlgItem(m_hwnd, id) : nullptr; }

int Win32Dialog::RunModal()
{
    if (!m_hwnd) return -1;
    const HWND owner = GetWindow(m_hwnd, GW_OWNER);
    const bool disableOwner = owner && IsWindowEnabled(owner);
    if (disableOwner) EnableWindow(owner, FALSE);
    m_ended = false;
    Show();
    MSG message;
    while (!m_ended && m_hwnd) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the loop outside
            break;
        }
        if (got < 0) break;
        if (!PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // The owner is enabled before this window hides, so that it becomes the active one.
    if (disableOwner) EnableWindow(owner, TRUE);
    if (m_hwnd) ShowWindow(m_hwnd, SW_HIDE);
    return m_result;
}

void Win32Dialog::EndDialog(int result)
{
    m_result = result;
    m_ended = true;
    if (m_hwnd) PostMessageW(m_hwnd, WM_NULL, 0, 0);  // wakes the modal loop
}

void Win32Dialog::Show()
{
    if (!m_hwnd) return;
    if (!IsWindowVisible(m_hwnd)) {
        // The logic lays the window out for its first size before it is seen.
        RECT client;
        GetClientRect(m_hwnd, &client);
        m_handler.OnSize(SIZE_KIND_RESTORED, client.right, client.bottom);
    }
    ShowWindow(m_hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(m_hwnd);
}

void Win32Dialog::Hide()
{
    if (m_hwnd) ShowWindow(m_hwnd, SW_HIDE);
}

void Win32Dialog::AcceptFileDrops()
{
    if (m_hwnd) DragAcceptFiles(m_hwnd, TRUE);
}

void Win32Dialog::OnDropFiles(HDROP drop)
{
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(static_cast<size_t>(DragQueryFileW(drop, i, nullptr, 0)) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Utf8FromUtf16(path));
    }
    DragFinish(drop);
    if (m_live && !paths.empty()) m_handler.OnFilesDropped(paths);
}

void Win32Dialog::Destroy()
{
    if (!m_hwnd) return;
    ShowWindow(m_hwnd, SW_HIDE);
    PostMessageW(m_hwnd, WM_DESTROY_LATER, 0, 0);
}

void Win32Dialog::MoveTo(int x, int y)
{
    SetWindowPos(m_hwnd, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

PixelRect Win32Dialog::FrameRect() const
{
    RECT frame{};
    if (m_hwnd) GetWindowRect(m_hwnd, &frame);
    return PixelRect{frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
}

void Win32Dialog::SetProgramIcon()
{
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProgramIcon(false)));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProgramIcon(true)));
}

void Win32Dialog::SetMinimumFrameSize(int width, int height) { m_minimumFrame = SIZE{width, height}; }

void Win32Dialog::AppendSystemMenu(int command, const char* text)
{
    HMENU menu = GetSystemMenu(m_hwnd, FALSE);
    if (!menu) return;
    if (text) AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), WideFromLatin1(text).c_str());
    else AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void Win32Dialog::SetTimer(int timerId, int periodMs)
{
    // A period of 0 becomes the shortest the system keeps (USER_TIMER_MINIMUM); WM_TIMER
    // comes after input and painting, so slices of work leave the window answering.
    ::SetTimer(m_hwnd, static_cast<UINT_PTR>(timerId), static_cast<UINT>(periodMs), nullptr);
}

void Win32Dialog::KillTimer(int timerId)
{
    if (m_hwnd) ::KillTimer(m_hwnd, static_cast<UINT_PTR>(timerId));
}

void Win32Dialog::AddContextCommand(int controlId, const ContextCommand& command)
{
    m_commands.emplace_back(controlId, command);
}

bool Win32Dialog::SelectAllLines(const MSG& message)
{
    // Ctrl+A in a packet list selects every line, as lists elsewhere do; the list view
    // itself does not know the key.
    if (message.wParam != 'A' || GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0)
        return false;
    const int id = GetDlgCtrlID(message.hwnd);
    if (message.hwnd != Control(id) || !m_lists.count(id)) return false;
    ListView_SetItemState(message.hwnd, -1, LVIS_SELECTED, LVIS_SELECTED);
    return true;
}

bool Win32Dialog::RunShortcut(const MSG& message)
{
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const int key = static_cast<int>(message.wParam);  // letters' virtual keys are their upper-case codes
    const int focused = message.hwnd == m_hwnd ? NO_ID : GetDlgCtrlID(message.hwnd);
    // The focused control's own command first, then the window's.
    for (const int scope : {focused, NO_ID}) {
        for (const auto& [owner, command] : m_commands) {
            if (owner != scope || command.key.key != key || command.key.ctrl != ctrl || command.key.shift != shift) continue;
            if (m_live && m_handler.IsCommandEnabled(command.command)) m_handler.OnCommand(command.command);
            return true;
        }
        if (scope == NO_ID) break;
    }
    return false;
}

void Win32Dialog::SetText(int id, std::string_view text)
{
    HWND control = Control(id);
    if (!control) return;
    const QuietChanges quiet(m_quiet);  // the logic's own text: no change to report
    SetWindowTextW(control, WideFromLatin1(text).c_str());
}

std::string Win32Dialog::Text(int id) const
{
    HWND control = Control(id);
    if (!control) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Latin1FromWide(text);
}

void Win32Dialog::ReplaceAllText(int id, std::string_view text)
{
    HWND control = Control(id);
    if (!control) return;
    SendMessageW(control, EM_SETSEL, 0, -1);
    SendMessageW(control, EM_SCROLLCARET, 0, 0);
    SendMessageW(control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(WideFromLatin1(text).c_str()));
}

void Win32Dialog::Focus(int id, bool selectAll)
{
    HWND control = Control(id);
    if (!control) return;
    SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    if (selectAll) SendMessageW(control, EM_SETSEL, 0, -1);
}

void Win32Dialog::Enable(int id, bool enabled)
{
    if (HWND control = Control(id)) EnableWindow(control, enabled ? TRUE : FALSE);
}

bool Win32Dialog::IsEnabled(int id) const
{
    HWND control = Control(id);
    return control && IsWindowEnabled(control);
}

void Win32Dialog::SetCheck(int id, bool checked)
{
    if (HWND control = Control(id)) SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32Dialog::IsChecked(int id) const
{
    HWND control = Control(id);
    return control && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Dialog::SetAddress(int id, uint32_t hostOrder)
{
    if (HWND control = Control(id)) SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(hostOrder));
}

uint32_t Win32Dialog::Address(int id) const
{
    HWND control = Control(id);
    DWORD address = 0;
    if (control) SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

void Win32Dialog::SetSelectedIndex(int id, int index)
{
    if (HWND control = Control(id)) SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Dialog::SelectedIndex(int id) const
{
    HWND control = Control(id);
    return control ? static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32Dialog::SetTrackbarRange(int id, int low, int high)
{
    if (HWND control = Control(id)) SendMessageW(control, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
}

void Win32Dialog::SetTrackbarPosition(int id, int position)
{
    if (HWND control = Control(id)) SendMessageW(control, TBM_SETPOS, TRUE, position);
}

int Win32Dialog::TrackbarPosition(int id) const
{
    HWND control = Control(id);
    return control ? static_cast<int>(SendMessageW(control, TBM_GETPOS, 0, 0)) : 0;
}

void Win32Dialog::SetProgress(int id, int percent)
{
    if (HWND control = Control(id)) SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
}

int Win32Dialog::Progress(int id) const
{
    HWND control = Control(id);
    return control ? static_cast<int>(SendMessageW(control, PBM_GETPOS, 0, 0)) : 0;
}

void Win32Dialog::SetRichText(int id, std::string_view document)
{
    HWND control = Control(id);
    if (!control) return;
    // Select everything and stream the document in over the selection.
    SendMessageW(control, EM_SETSEL, 0, -1);
    std::string_view rest = document;
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&rest), 0, &ReadDocument};
    const WPARAM format = (IsRtf(document) ? SF_RTF : SF_TEXT) | SFF_SELECTION;
    SendMessageW(control, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
    SendMessageW(control, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageW(control, EM_SETSEL, 0, 0);
    SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

void Win32Dialog::MoveControl(int id, const PixelRect& place)
{
    HWND control = Control(id);
    if (!control) return;
    SetWindowPos(control, HWND_TOP, place.x, place.y, std::max(place.width, 0), std::max(place.height, 0), SWP_NOACTIVATE);
    if (m_lists.count(id)) SizeListColumn(id);
}

DetailTree& Win32Dialog::BeginTree(int id)
{
    DetailTree& tree = m_trees[id];
    if (HWND control = Control(id)) {
        const QuietChanges quiet(m_quiet);
        TreeView_DeleteAllItems(control);
    }
    tree.Clear();
    return tree;
}

void Win32Dialog::EndTree(int id)
{
    HWND control = Control(id);
    if (!control) return;
    const DetailTree& tree = m_trees[id];
    const QuietChanges quiet(m_quiet);
    SendMessageW(control, WM_SETREDRAW, FALSE, 0);
    std::vector<HTREEITEM>& items = m_treeItems[id];
    items.assign(tree.Size(), nullptr);
    std::wstring text;
    for (NodeId node = 0; node < static_cast<NodeId>(tree.Size()); ++node) {
        const std::string_view line = tree.Text(node);
        text.assign(line.begin(), line.end());
        for (wchar_t& c : text) c = static_cast<wchar_t>(static_cast<unsigned char>(c));
        TVINSERTSTRUCTW insert{};
        const NodeId parent = tree.Parent(node);
        insert.hParent = parent == NO_NODE ? TVI_ROOT : items[static_cast<size_t>(parent)];
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = text.data();
        insert.item.lParam = node;
        items[static_cast<size_t>(node)] = TreeView_InsertItem(control, &insert);
    }
    for (NodeId node = 0; node < static_cast<NodeId>(tree.Size()); ++node)
        if (tree.Expanded(node)) TreeView_Expand(control, items[static_cast<size_t>(node)], TVE_EXPAND);
    SendMessageW(control, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(control, nullptr, TRUE);
}

const DetailTree& Win32Dialog::ShownTree(int id) const
{
    static const DetailTree none;
    const auto tree = m_trees.find(id);
    return tree == m_trees.end() ? none : tree->second;
}

NodeId Win32Dialog::SelectedTreeNode(int id) const
{
    HWND control = Control(id);
    const auto tree = m_trees.find(id);
    if (!control || tree == m_trees.end()) return NO_NODE;
    return SelectedNode(control, tree->second);
}

void Win32Dialog::SelectTreeNode(int id, NodeId node)
{
    HWND control = Control(id);
    const std::vector<HTREEITEM>& items = m_treeItems[id];
    if (!control || node < 0 || static_cast<size_t>(node) >= items.size()) return;
    const QuietChanges quiet(m_quiet);
    TreeView_EnsureVisible(control, items[static_cast<size_t>(node)]);  // opens the sections above it
    TreeView_SelectItem(control, items[static_cast<size_t>(node)]);
}

std::string Win32Dialog::SelectedItemText(int id) const
{
    HWND control = Control(id);
    if (!control) return {};
    if (const auto list = m_lists.find(id); list != m_lists.end()) {
        const int row = ListView_GetNextItem(control, -1, LVNI_FOCUSED);
        if (row < 0 || static_cast<size_t>(row) >= list->second.shown) return {};
        LineBuffer buffer;
        return std::string(list->second.lines.Line(static_cast<size_t>(row), buffer));
    }
    const auto tree = m_trees.find(id);
    if (tree == m_trees.end()) return {};
    const NodeId node = SelectedNode(control, tree->second);
    return node == NO_NODE ? std::string() : std::string(tree->second.Text(node));
}

void Win32Dialog::ClearList(int id)
{
    PacketList& list = m_lists[id];
    list.lines.Clear();
    list.shown = 0;
    if (HWND control = Control(id)) {
        {
            const QuietChanges quiet(m_quiet);
            ListView_SetItemCountEx(control, 0, 0);
        }
        SizeListColumn(id);
    }
}

void Win32Dialog::SizeListColumn(int id)
{
    // The one column spans the view, or the widest line the summary format gives once there
    // are lines (the font is fixed-pitch: every character has the average width).
    HWND control = Control(id);
    if (!control) return;
    RECT client;
    GetClientRect(control, &client);
    int width = client.right;
    if (m_lists[id].shown > 0) {
        HDC dc = GetDC(control);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        width = std::max<int>(width, SUMMARY_LINE_MAX_LENGTH * metrics.tmAveCharWidth + LIST_TEXT_MARGINS);
    }
    ListView_SetColumnWidth(control, 0, width);
}

PacketLines& Win32Dialog::ListLines(int id) { return m_lists[id].lines; }

bool Win32Dialog::CommitList(int id, bool scrollToLast)
{
    PacketList& list = m_lists[id];
    const size_t size = list.lines.Size();
    if (size == list.shown) return false;
    const bool wasEmpty = list.shown == 0;
    list.shown = size;
    if (wasEmpty) SizeListColumn(id);
    if (HWND control = Control(id)) {
        ListView_SetItemCountEx(control, static_cast<int>(size), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        if (scrollToLast) ListView_EnsureVisible(control, static_cast<int>(size) - 1, FALSE);
    }
    return true;
}

void Win32Dialog::SelectListLine(int id, size_t row)
{
    HWND control = Control(id);
    if (!control || row >= m_lists[id].shown) return;
    const int item = static_cast<int>(row);
    ListView_SetItemState(control, -1, 0, LVIS_SELECTED);  // the only one selected
    ListView_SetItemState(control, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(control, item, FALSE);
}

std::vector<size_t> Win32Dialog::SelectedListLines(int id) const
{
    // The list view finds the next selected line by asking every line after the last one
    // found: a million lines take most of a second. The selected count, kept by the control,
    // lets the walk stop at the last selected line; the usual selections (one line, a range
    // around the current line, all lines) are read without any search.
    std::vector<size_t> rows;
    HWND control = Control(id);
    if (!control) return rows;
    const int count = ListView_GetSelectedCount(control);
    const int size = ListView_GetItemCount(control);
    if (count <= 0) return rows;
    rows.reserve(static_cast<size_t>(count));
    if (count == size) {
        for (int row = 0; row < size; ++row) rows.push_back(static_cast<size_t>(row));
        return rows;
    }
    const auto selected = [control](int row) { return (ListView_GetItemState(control, row, LVIS_SELECTED) & LVIS_SELECTED) != 0; };
    const int current = ListView_GetNextItem(control, -1, LVNI_FOCUSED);
    if (current >= 0 && selected(current)) {
        int first = current;
        int last = current;
        while (first > 0 && last - first + 1 < count && selected(first - 1)) --first;
        while (last + 1 < size && last - first + 1 < count && selected(last + 1)) ++last;
        if (last - first + 1 == count) {
            for (int row = first; row <= last; ++row) rows.push_back(static_cast<size_t>(row));
            return rows;
        }
    }
    for (int row = ListView_GetNextItem(control, -1, LVNI_SELECTED); row >= 0; row = ListView_GetNextItem(control, row, LVNI_SELECTED)) {
        rows.push_back(static_cast<size_t>(row));
        if (rows.size() == static_cast<size_t>(count)) break;
    }
    return rows;
}

}  // namespace kestrine
