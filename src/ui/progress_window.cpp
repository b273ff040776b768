// The progress window.
#include "ui/progress_window.h"

#include <array>

namespace kestrine {

namespace {

constexpr std::array PROGRESS_CONTROLS = {
    ControlTemplate{IDC_PROGRESS_TEXT, ControlKind::Label, "", 7, 7, 186, 8},
    ControlTemplate{IDC_PROGRESS_BAR, ControlKind::ProgressBar, nullptr, 7, 20, 186, 10, 0, "Progress"},
    ControlTemplate{ID_CANCEL, ControlKind::DefaultButton, "Cancel", 143, 37, 50, 14},
};

}  // namespace

const DialogTemplate PROGRESS_TEMPLATE{
    PROGRESS_DIALOG_ID, "Kestrine", "MS Sans Serif", 8, 200, 58, DialogFrame::Fixed, PROGRESS_CONTROLS,
};

ProgressWindow::ProgressWindow(Dialog* owner, const std::string& text, std::function<void()> onCancel)
    : m_dialog(Windows().NewDialog(PROGRESS_TEMPLATE, *this, owner)), m_onCancel(std::move(onCancel))
{
    m_dialog->SetText(IDC_PROGRESS_TEXT, text);
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::Show()
{
    m_dialog->Show();
    m_dialog->Focus(ID_CANCEL, false);
}

void ProgressWindow::SetPercent(int percent) { m_dialog->SetProgress(IDC_PROGRESS_BAR, percent); }

void ProgressWindow::OnCancel()
{
    // The handler may destroy this window: nothing of it is used afterwards.
    if (m_onCancel) m_onCancel();
}

}  // namespace kestrine
