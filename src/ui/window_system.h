// The window-system facilities the windows are written against: a dialog built from its
// template with its controls addressed by number, the events a dialog hands to its logic,
// message boxes, the save-file chooser and the program's resources. The windows' logic
// (main window, detail window, configuration dialog, About box) uses only this; the
// realisations live in ui/qt (Qt 6) and ui/win32 (Win32 dialogs and common controls).
//
// Texts of controls are 8-bit and shown as Latin-1, the code page the decoders write in;
// file names, message boxes and the application title are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "decode/detail_tree.h"
#include "ui/dialog_template.h"
#include "ui/packet_lines.h"

namespace kestrine {

enum class MessageIcon { None, Stop };
enum class MessageButtons { Ok, OkCancel };
// What a message box returns, and the command numbers of the OK and Cancel commands.
inline constexpr int MESSAGE_OK = 1;
inline constexpr int MESSAGE_CANCEL = 2;
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;

// The kinds of size notification.
inline constexpr uint32_t SIZE_KIND_RESTORED = 0;
inline constexpr uint32_t SIZE_KIND_MINIMIZED = 1;
inline constexpr uint32_t SIZE_KIND_MAXIMIZED = 2;

// A key with its modifiers: an upper-case letter or one of the KEY_ values.
inline constexpr int KEY_F3 = 0x72;
struct Shortcut {
    int key = 0;  // 0: none
    bool ctrl = false;
    bool shift = false;
};
inline constexpr Shortcut Ctrl(char letter) { return Shortcut{letter, true, false}; }

// A command of a control: an entry of its context menu (none when text is null) and a key
// that runs it while the control has the focus (anywhere in the window for NO_ID; a key
// the window already has for the same command is only shown beside the menu entry).
// Choosing it sends the command number to OnCommand.
struct ContextCommand {
    int command;
    const char* text;  // '&' marks the access key
    Shortcut key;
};

// What a dialog's logic hears from its window. Every notification comes on the
// user-interface thread. Changes the logic makes itself (filling a tree, setting a
// position) are not reported back.
class DialogHandler {
public:
    // A button or check box was clicked, or a context command chosen (its number).
    virtual void OnCommand(int /*id*/) {}
    // An edit lost the keyboard focus.
    virtual void OnKillFocus(int /*id*/) {}
    // The user changed the text of a one-line edit.
    virtual void OnTextChanged(int /*id*/) {}
    // The selected item of a tree or of the packet list changed.
    virtual void OnSelectionChanged(int /*id*/) {}
    virtual void OnDoubleClick(int /*id*/) {}
    // The user expanded (action 2) or collapsed (1) an item; itemData is its 32-bit data.
    virtual void OnItemExpanded(int /*id*/, uint32_t /*itemData*/, int /*action*/) {}
    virtual void OnTrackbarMoved(int /*id*/) {}
    virtual void OnTimer(int /*timerId*/) {}
    // Client width and height in pixels.
    virtual void OnSize(uint32_t /*type*/, int /*width*/, int /*height*/) {}
    // A system-menu command; false leaves it to the default processing.
    virtual bool OnSysCommand(int /*command*/) { return false; }
    // Whether a context command can run now (its menu entry is greyed otherwise).
    virtual bool IsCommandEnabled(int /*command*/) { return true; }
    // Enter (when no default button takes it) and button 1.
    virtual void OnOK() {}
    // Esc, the close box, the system menu's Close, Alt+F4, and button 2.
    virtual void OnCancel() {}
    // Files were dropped on the window (after AcceptFileDrops); UTF-8 paths.
    virtual void OnFilesDropped(const std::vector<std::string>& /*paths*/) {}
    // The window was destroyed with its owner or by Destroy; the last notification.
    virtual void OnDestroyed() {}

protected:
    ~DialogHandler() = default;
};

// One dialog window. Deleting the object destroys its window (and the windows it owns)
// without telling its own handler.
class Dialog {
public:
    virtual ~Dialog() = default;

    // Shows the window and runs it modally (its owner disabled) until EndDialog; returns
    // the result given there. Timers and modeless windows go on meanwhile.
    virtual int RunModal() = 0;
    virtual void EndDialog(int result) = 0;
    // Shows a modeless window in its normal state, activated.
    virtual void Show() = 0;
    // Hides a modeless window; Show brings it back as it was.
    virtual void Hide() = 0;
    // Destroys a modeless window once the current notification has returned.
    virtual void Destroy() = 0;
    // Files dropped on the window reach OnFilesDropped.
    virtual void AcceptFileDrops() = 0;
    // Moves the window to a point in screen coordinates, keeping its size, to the top.
    virtual void MoveTo(int x, int y) = 0;
    // The window's place on the screen, frame included.
    virtual PixelRect FrameRect() const = 0;
    // The program's icon as the window's large and small icon.
    virtual void SetProgramIcon() = 0;
    // The smallest size the user can drag the window to, frame included.
    virtual void SetMinimumFrameSize(int width, int height) = 0;
    // Appends an entry to the system menu; a null text appends a separator.
    virtual void AppendSystemMenu(int command, const char* text) = 0;
    // A period of 0 ticks whenever the window has nothing else to do (input and painting
    // come first): long work runs in slices that way.
    virtual void SetTimer(int timerId, int periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;
    virtual void AddContextCommand(int controlId, const ContextCommand& command) = 0;

    // Controls by number.
    virtual void SetText(int id, std::string_view text) = 0;
    virtual std::string Text(int id) const = 0;
    // Selects an edit's whole text and replaces it, outside the undo history.
    virtual void ReplaceAllText(int id, std::string_view text) = 0;
    virtual void Focus(int id, bool selectAll) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) const = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
    // IP address controls, host order; a blank control reads 0.
    virtual void SetAddress(int id, uint32_t hostOrder) = 0;
    virtual uint32_t Address(int id) const = 0;
    // Drop-down lists.
    virtual void SetSelectedIndex(int id, int index) = 0;
    virtual int SelectedIndex(int id) const = 0;
    virtual void SetTrackbarRange(int id, int low, int high) = 0;
    virtual void SetTrackbarPosition(int id, int position) = 0;
    virtual int TrackbarPosition(int id) const = 0;
    // Progress bars, 0 to 100.
    virtual void SetProgress(int id, int percent) = 0;
    virtual int Progress(int id) const = 0;
    // A rich edit's whole content, replaced by a document that begins with an RTF header
    // (shown formatted) or by plain text.
    virtual void SetRichText(int id, std::string_view document) = 0;
    // Places a control at a pixel rectangle of the client area, at the top of the z-order.
    virtual void MoveControl(int id, const PixelRect& place) = 0;

    // Tree views. BeginTree empties the tree and returns it to be filled; EndTree shows
    // it with the nodes whose expanded flag is set expanded. Item data is the node's tag.
    virtual DetailTree& BeginTree(int id) = 0;
    virtual void EndTree(int id) = 0;
    // The tree a control shows (as EndTree left it) and its selected node (NO_NODE: none).
    virtual const DetailTree& ShownTree(int id) const = 0;
    virtual NodeId SelectedTreeNode(int id) const = 0;
    // Makes a node of the shown tree the selected one, its sections opened and the node
    // scrolled into view, without telling the handler or the remembered section states.
    virtual void SelectTreeNode(int id, NodeId node) = 0;
    // The current item's text of a tree or of the packet list; empty when none.
    virtual std::string SelectedItemText(int id) const = 0;

    // The packet list: lines are appended to ListLines and shown by CommitList, all in one
    // insertion, with the last line scrolled into view when asked (false when none was new).
    // The current line (the one a click or the keys moved to) is the one OnSelectionChanged
    // reports; Shift and Ctrl extend the selection.
    virtual void ClearList(int id) = 0;
    virtual PacketLines& ListLines(int id) = 0;
    virtual bool CommitList(int id, bool scrollToLast = true) = 0;
    // Makes a shown line the current and only selected one and scrolls it into view, as a
    // click on it would.
    virtual void SelectListLine(int id, size_t row) = 0;
    // The selected lines, in ascending order.
    virtual std::vector<size_t> SelectedListLines(int id) const = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Creates the window of a template, hidden, owned by owner (none: a top-level window).
    virtual std::unique_ptr<Dialog> NewDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler,
                                                 Dialog* owner) = 0;
    // A modal message box; returns MESSAGE_OK or MESSAGE_CANCEL. "\r\n" breaks the line.
    // Over a window not yet shown, it is centred on the screen.
    virtual int RunMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                           MessageButtons buttons) = 0;
    // Asks for the file "Save Packets As..." writes to; empty when cancelled.
    virtual std::string AskSaveFileName(Dialog* owner) = 0;
    // Asks for a capture file to open; empty when cancelled.
    virtual std::string AskOpenFileName(Dialog* owner) = 0;
    // Puts plain text on the clipboard; its "\n" line ends become the platform's.
    virtual void SetClipboardText(std::string_view text) = 0;
    // The part of the screen windows may cover (without the task bar).
    virtual PixelRect WorkArea() const = 0;
    // The executable's file name without its extension.
    virtual std::string ApplicationTitle() const = 0;
    // Makes the rich edit control available to dialogs created afterwards.
    virtual void InitialiseRichEdit() = 0;
    // The licence document (RTF); empty when the resource is missing.
    virtual std::string LicenceDocument() const = 0;
};

// The realisation in use; the program and the tests install one before any window opens.
void SetWindowSystem(WindowSystem* windowSystem);
WindowSystem& Windows();

// Every message box goes through here, so tests can answer them.
struct MessageBoxRequest {
    std::string text;
    std::string caption;  // the application title when the caller names none
    MessageIcon icon;
    MessageButtons buttons;
};
int ShowMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageButtons buttons);
// Answers every box instead of showing it (tests); an empty function restores the boxes.
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxResponder(MessageBoxResponder responder);

// The save-file and open-file questions go through here too; tests put their own answers
// in place.
using FileChooser = std::function<std::string()>;
std::string ChooseSaveFile(Dialog* owner);
void SetSaveFileChooser(FileChooser chooser);
std::string ChooseOpenFile(Dialog* owner);
void SetOpenFileChooser(FileChooser chooser);

}  // namespace kestrine
