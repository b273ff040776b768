// The small modeless Find dialog of the main window: it searches the packet lines (and,
// with "Search decoded details", every packet's decoded tree) from the current line, and
// shows "Not found" in itself rather than in a message box. A long search shows its
// progress there too, and Esc or Close cancels it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/window_system.h"

namespace kestrine {

inline constexpr int FIND_DIALOG_ID = 105;
inline constexpr int IDC_FIND_TEXT = 1101;
inline constexpr int IDC_FIND_DETAILS = 1102;
inline constexpr int IDC_FIND_NEXT = 1103;
inline constexpr int IDC_FIND_PREVIOUS = 1104;
inline constexpr int IDC_FIND_STATUS = 1105;
// The keyboard's find commands, in the Find dialog and in the main window.
inline constexpr int FIND_NEXT_COMMAND = 0x8006;
inline constexpr int FIND_PREVIOUS_COMMAND = 0x8007;

extern const DialogTemplate FIND_TEMPLATE;

// What starting a search gave: a match selected, none, a search that goes on in slices
// (its end comes to ShowResult), or no search (another long operation runs).
enum class FindOutcome { Found, NotFound, Searching, Busy };

// Where the Find window of a size goes, in screen coordinates: beside its owner's frame
// (right, then left), else below or above it, so that it covers no line the search may
// select; where the work area has no such room, in its lower right corner.
PixelRect PlaceFindWindow(const PixelRect& owner, int width, int height, const PixelRect& workArea);

class FindDialog final : public DialogHandler {
public:
    // Searches for text from the current line, forward or back, wrapping; in the decoded
    // details too when asked.
    using Finder = std::function<FindOutcome(const std::string& text, bool details, bool forward)>;

    // cancel stops a search that goes on.
    FindDialog(Dialog* owner, Finder finder, std::function<void()> cancel);
    ~FindDialog();
    FindDialog(const FindDialog&) = delete;
    FindDialog& operator=(const FindDialog&) = delete;

    // Shows the dialog with its text selected, ready for typing.
    void Open();
    // Searches again for the dialog's text (F3, Shift+F3); opens the dialog while it has none.
    void FindAgain(bool forward);
    Dialog* Window() const { return m_dialog.get(); }
    // A search that goes on: how far it is, then how it ended.
    void ShowProgress(int percent);
    void ShowResult(bool found);
    bool Searching() const { return m_searching; }

    void OnCommand(int id) override;
    void OnTextChanged(int id) override;  // "Not found" goes with the text it was about
    // Esc and Close cancel a search that goes on; otherwise they hide the dialog, the text
    // staying for F3.
    void OnCancel() override;

private:
    Dialog* m_owner;
    std::unique_ptr<Dialog> m_dialog;
    Finder m_finder;
    std::function<void()> m_cancel;
    bool m_searching = false;
    bool m_placed = false;  // placed at its first opening; then where the user left it
};

}  // namespace kestrine
