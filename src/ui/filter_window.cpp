// The Filter window.
#include "ui/filter_window.h"

#include <array>
#include <string>
#include <utility>

#include "filter/filter_expression.h"
#include "ui/find_dialog.h"

namespace kestrine {

namespace {

constexpr std::array FILTER_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "&Display filter:", 7, 9, 50, 8},
    ControlTemplate{IDC_FILTER_TEXT, ControlKind::LineEdit, nullptr, 58, 7, 122, 12, 0, "Display filter"},
    ControlTemplate{IDC_FILTER_STATUS, ControlKind::Label, "", 7, 24, 173, 8, 0, "Packets shown"},
    ControlTemplate{NO_ID, ControlKind::Label, "Ca&pture filter:", 7, 42, 50, 8},
    ControlTemplate{IDC_CAPTURE_FILTER_TEXT, ControlKind::LineEdit, nullptr, 58, 40, 122, 12, 0, "Capture filter"},
    ControlTemplate{IDC_CAPTURE_FILTER_STATUS, ControlKind::Label, "Next capture: every datagram", 7, 57, 173, 8, 0,
                    "Capture filter state"},
    ControlTemplate{IDC_FILTER_APPLY, ControlKind::DefaultButton, "&Apply", 186, 6, 60, 14},
    ControlTemplate{IDC_FILTER_CLEAR, ControlKind::Button, "C&lear", 186, 23, 60, 14},
    ControlTemplate{IDC_CAPTURE_FILTER_SET, ControlKind::Button, "&Set for Capture", 186, 40, 60, 14},
    ControlTemplate{ID_CANCEL, ControlKind::Button, "Close", 186, 57, 60, 14},
};

}  // namespace

const DialogTemplate FILTER_TEMPLATE{
    FILTER_DIALOG_ID, "Filter", "MS Sans Serif", 8, 253, 76, DialogFrame::Fixed, FILTER_CONTROLS,
};

FilterWindow::FilterWindow(Dialog* owner, Apply apply)
    : m_owner(owner), m_dialog(Windows().NewDialog(FILTER_TEMPLATE, *this, owner)), m_apply(std::move(apply))
{
}

FilterWindow::~FilterWindow() = default;

void FilterWindow::Open()
{
    if (!m_placed && m_owner) {  // where the Find window goes: covering none of the list
        const PixelRect size = m_dialog->FrameRect();
        const PixelRect place = PlaceFindWindow(m_owner->FrameRect(), size.width, size.height, Windows().WorkArea());
        m_dialog->MoveTo(place.x, place.y);
        m_placed = true;
    }
    m_dialog->Show();
    m_dialog->Focus(IDC_FILTER_TEXT, true);
}

void FilterWindow::ShowCounts(size_t shown, size_t total)
{
    m_shown = shown;
    m_total = total;
    if (!m_mistakeShown) ShowCountText();
}

void FilterWindow::ShowCountText()
{
    m_dialog->SetText(IDC_FILTER_STATUS, "Showing " + std::to_string(m_shown) + " of " + std::to_string(m_total) +
                                             (m_total == 1 ? " packet" : " packets"));
}

void FilterWindow::ApplyDisplayFilter(const std::string& expression)
{
    std::vector<BpfInstruction> program;
    FilterError error;
    if (!CompileFilter(expression, program, error)) {
        m_mistakeShown = true;
        m_dialog->SetText(IDC_FILTER_STATUS, FilterErrorText(error));
        return;
    }
    m_mistakeShown = false;
    m_apply(std::move(program));  // the list tells the counts back
    ShowCountText();
}

void FilterWindow::SetCaptureFilter()
{
    std::vector<BpfInstruction> program;
    FilterError error;
    if (!CompileFilter(m_dialog->Text(IDC_CAPTURE_FILTER_TEXT), program, error)) {
        m_dialog->SetText(IDC_CAPTURE_FILTER_STATUS, FilterErrorText(error));
        return;
    }
    m_captureProgram = std::move(program);
    m_dialog->SetText(IDC_CAPTURE_FILTER_STATUS, m_captureProgram.empty() ? "Next capture: every datagram"
                                                                          : "Next capture: what the filter matches");
}

void FilterWindow::OnCommand(int id)
{
    switch (id) {
    case IDC_FILTER_APPLY: ApplyDisplayFilter(m_dialog->Text(IDC_FILTER_TEXT)); break;
    case IDC_FILTER_CLEAR:
        m_dialog->SetText(IDC_FILTER_TEXT, "");
        ApplyDisplayFilter("");
        break;
    case IDC_CAPTURE_FILTER_SET: SetCaptureFilter(); break;
    default: break;
    }
}

void FilterWindow::OnTextChanged(int id)
{
    // A mistake goes with the text it was about.
    if (id == IDC_FILTER_TEXT && m_mistakeShown) {
        m_mistakeShown = false;
        ShowCountText();
    }
}

void FilterWindow::OnCancel() { m_dialog->Hide(); }

}  // namespace kestrine
