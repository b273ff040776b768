// The Win32 realisation of the window-system facilities: dialogs built in memory from their
// templates (DLGTEMPLATEEX, so dialog units, tab order and keyboard handling are the dialog
// manager's own), the common controls, a modal loop shared by every dialog, message boxes
// and the save-file dialog.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <map>
#include <memory>
#include <vector>

#include "common/utf16_win.h"
#include "ui/packet_lines.h"
#include "ui/window_system.h"

namespace kestrine {

class Win32Dialog final : public Dialog {
public:
    Win32Dialog(const DialogTemplate& dialogTemplate, DialogHandler& handler, Win32Dialog* owner);
    ~Win32Dialog() override;

    // The window and its controls, for the realisation and the tests; null once destroyed.
    HWND Handle() const { return m_hwnd; }
    HWND Control(int id) const;

    int RunModal() override;
    void EndDialog(int result) override;
    void Show() override;
    void Hide() override;
    void Destroy() override;
    void AcceptFileDrops() override;
    void MoveTo(int x, int y) override;
    PixelRect FrameRect() const override;
    void SetProgramIcon() override;
    void SetMinimumFrameSize(int width, int height) override;
    void AppendSystemMenu(int command, const char* text) override;
    void SetTimer(int timerId, int periodMs) override;
    void KillTimer(int timerId) override;
    void AddContextCommand(int controlId, const ContextCommand& command) override;

    void SetText(int id, std::string_view text) override;
    std::string Text(int id) const override;
    void ReplaceAllText(int id, std::string_view text) override;
    void Focus(int id, bool selectAll) override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void SetAddress(int id, uint32_t hostOrder) override;
    uint32_t Address(int id) const override;
    void SetSelectedIndex(int id, int index) override;
    int SelectedIndex(int id) const override;
    void SetTrackbarRange(int id, int low, int high) override;
    void SetTrackbarPosition(int id, int position) override;
    int TrackbarPosition(int id) const override;
    void SetProgress(int id, int percent) override;
    int Progress(int id) const override;
    void SetRichText(int id, std::string_view document) override;
    void MoveControl(int id, const PixelRect& place) override;

    DetailTree& BeginTree(int id) override;
    void EndTree(int id) override;
    const DetailTree& ShownTree(int id) const override;
    NodeId SelectedTreeNode(int id) const override;
    void SelectTreeNode(int id, NodeId node) override;
    std::string SelectedItemText(int id) const override;

    void ClearList(int id) override;
    PacketLines& ListLines(int id) override;
    bool CommitList(int id, bool scrollToLast) override;
    void SelectListLine(int id, size_t row) override;
    std::vector<size_t> SelectedListLines(int id) const override;

    // Gives a message of the modal loop to the dialog it belongs to (keyboard navigation and
    // the context commands' keys); true when that dialog took it.
    static bool PreTranslate(MSG& message);

private:
    struct PacketList {
        PacketLines lines;
        size_t shown = 0;
    };

    static INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
    LRESULT OnNotify(const NMHDR& header);
    void ShowContextMenu(HWND control, int x, int y);
    // Runs the command a key press stands for in this window; false when none does.
    bool RunShortcut(const MSG& message);
    // Ctrl+A in a packet list; false for any other key.
    bool SelectAllLines(const MSG& message);
    void OnDropFiles(HDROP drop);
    void FinishCreation(const DialogTemplate& dialogTemplate);
    void EnsureFixedPitchFont();
    void SizeListColumn(int id);
    void WidenForWidestLine(const DialogTemplate& dialogTemplate);
    bool Live() const { return m_live && !m_quiet; }

    HWND m_hwnd = nullptr;
    DialogHandler& m_handler;
    std::map<int, DetailTree> m_trees;
    std::map<int, std::vector<HTREEITEM>> m_treeItems;  // each tree's items, by node
    std::map<int, PacketList> m_lists;
    std::vector<std::pair<int, ContextCommand>> m_commands;  // (control or NO_ID, command), in order
    HFONT m_fixedFont = nullptr;  // set when the template's fixed-pitch face was missing
    SIZE m_minimumFrame{};
    int m_result = 0;
    bool m_ended = false;
    bool m_live = false;    // created: notifications reach the handler
    bool m_quiet = false;   // the program's own changes: no notifications
    bool m_tellHandler = true;  // false once the object lets go of its window
    std::wstring m_textBuffer;  // the list's item texts, handed to the control by pointer
};

class Win32WindowSystem final : public WindowSystem {
public:
    std::unique_ptr<Dialog> NewDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler,
                                         Dialog* owner) override;
    int RunMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageButtons buttons) override;
    std::string AskSaveFileName(Dialog* owner) override;
    std::string AskOpenFileName(Dialog* owner) override;
    void SetClipboardText(std::string_view text) override;
    std::string ApplicationTitle() const override;
    PixelRect WorkArea() const override;
    void InitialiseRichEdit() override;
    std::string LicenceDocument() const override;
};

// The folder a file dialog opens in: the last file's chosen there, else the user's documents.
std::wstring InitialFileFolder();

// The realisation of a dialog (for the tests).
Win32Dialog* AsWin32(Dialog* dialog);

// The in-memory DLGTEMPLATEEX of a template, DWORD aligned (exposed for the tests).
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialogTemplate);

// Text conversions: control texts are Latin-1, message boxes UTF-8 (file names too: see
// common/utf16_win.h).
std::wstring WideFromLatin1(std::string_view text);
std::string Latin1FromWide(std::wstring_view text);
// A message box's text or caption.
std::wstring WideFromMessage(std::string_view text);

}  // namespace kestrine
