// The small modeless Find dialog of the main window: it searches the packet lines (and,
// with "Search decoded details", every packet's decoded tree) from the current line, and
// shows "Not found" in itself rather than in a message box.
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

// Where the Find window of a size goes, in screen coordinates: beside its owner's frame
// (right, then left), else below or above it, so that it covers no line the search may
// select; where the work area has no such room, in its lower right corner.
PixelRect PlaceFindWindow(const PixelRect& owner, int width, int height, const PixelRect& workArea);

class FindDialog final : public DialogHandler {
public:
    // Searches for text from the current line, forward or back, wrapping; in the decoded
    // details too when asked. True when it selected a match.
    using Finder = std::function<bool(const std::string& text, bool details, bool forward)>;

    FindDialog(Dialog* owner, Finder finder);
    ~FindDialog();
    FindDialog(const FindDialog&) = delete;
    FindDialog& operator=(const FindDialog&) = delete;

    // Shows the dialog with its text selected, ready for typing.
    void Open();
    // Searches again for the dialog's text (F3, Shift+F3); opens the dialog while it has none.
    void FindAgain(bool forward);
    Dialog* Window() const { return m_dialog.get(); }

    void OnCommand(int id) override;
    void OnTextChanged(int id) override;  // "Not found" goes with the text it was about
    void OnCancel() override;  // Esc and Close hide it; the text stays for F3

private:
    Dialog* m_owner;
    std::unique_ptr<Dialog> m_dialog;
    Finder m_finder;
    bool m_placed = false;  // placed at its first opening; then where the user left it
};

}  // namespace kestrine
