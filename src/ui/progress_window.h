// The small window a long copy or save shows while it runs: what it does, a progress bar
// and a Cancel button. Cancel, Esc and its close box all cancel the work.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/window_system.h"

namespace kestrine {

inline constexpr int PROGRESS_DIALOG_ID = 106;
inline constexpr int IDC_PROGRESS_TEXT = 1201;
inline constexpr int IDC_PROGRESS_BAR = 1202;

extern const DialogTemplate PROGRESS_TEMPLATE;

class ProgressWindow final : public DialogHandler {
public:
    // Created hidden; Show puts it up.
    ProgressWindow(Dialog* owner, const std::string& text, std::function<void()> onCancel);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void Show();
    void SetPercent(int percent);
    Dialog* Window() const { return m_dialog.get(); }

    void OnOK() override {}  // Enter: Cancel is the only button, and pressing it is a choice
    void OnCancel() override;

private:
    std::unique_ptr<Dialog> m_dialog;
    std::function<void()> m_onCancel;
};

}  // namespace kestrine
