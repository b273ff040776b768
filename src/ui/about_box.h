// The About box with the licence text, and the first-run check that shows it once.
#pragma once

#include <memory>
#include <string>

#include "ui/window_system.h"

namespace kestrine {

inline constexpr int ABOUT_BOX_ID = 100;
inline constexpr int ABOUT_TEXT_ID = 1039;
inline constexpr int ABOUT_OK_ID = 2;  // carries the cancel identifier

extern const DialogTemplate ABOUT_TEMPLATE;

class AboutBox final : public DialogHandler {
public:
    // Creates the box's window, hidden, with the licence in its text area.
    AboutBox();
    ~AboutBox();
    AboutBox(const AboutBox&) = delete;
    AboutBox& operator=(const AboutBox&) = delete;

    // Runs the box modally; OK, Enter, Esc and the close box end it with the cancel result.
    int DoModal();
    Dialog* Window() const { return m_dialog.get(); }

    void OnOK() override;
    void OnCancel() override;

    std::string m_text;  // the licence document shown in the text area

private:
    void OnInitDialog();
    std::unique_ptr<Dialog> m_dialog;
};

// Shows the About box modally when the per-user store says this is the first run (the
// value is written first); does nothing when the store cannot be opened.
void CheckFirstRun();

}  // namespace kestrine
