// The Find dialog.
#include "ui/find_dialog.h"

#include <algorithm>
#include <array>
#include <string>

namespace kestrine {

namespace {

constexpr std::array FIND_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "Fi&nd what:", 7, 9, 42, 8},
    ControlTemplate{IDC_FIND_TEXT, ControlKind::LineEdit, nullptr, 50, 7, 128, 12, 0, "Find what"},
    ControlTemplate{IDC_FIND_DETAILS, ControlKind::CheckBox, "Search decoded &details", 7, 26, 130, 10},
    ControlTemplate{IDC_FIND_STATUS, ControlKind::Label, "", 7, 44, 128, 8, 0, "Search result"},
    ControlTemplate{IDC_FIND_NEXT, ControlKind::DefaultButton, "Find &Next", 186, 6, 60, 14},
    ControlTemplate{IDC_FIND_PREVIOUS, ControlKind::Button, "Find &Previous", 186, 23, 60, 14},
    ControlTemplate{ID_CANCEL, ControlKind::Button, "Close", 186, 40, 60, 14},
};

}  // namespace

const DialogTemplate FIND_TEMPLATE{
    FIND_DIALOG_ID, "Find", "MS Sans Serif", 8, 253, 60, DialogFrame::Fixed, FIND_CONTROLS,
};

PixelRect PlaceFindWindow(const PixelRect& owner, int width, int height, const PixelRect& workArea)
{
    constexpr int GAP = 4;
    const int right = workArea.x + workArea.width;
    const int bottom = workArea.y + workArea.height;
    // Beside the owner at its top, or below and above it at its left, kept on the screen.
    const int top = std::clamp(owner.y, workArea.y, std::max(workArea.y, bottom - height));
    const int left = std::clamp(owner.x, workArea.x, std::max(workArea.x, right - width));
    if (owner.x + owner.width + GAP + width <= right) return PixelRect{owner.x + owner.width + GAP, top, width, height};
    if (owner.x - GAP - width >= workArea.x) return PixelRect{owner.x - GAP - width, top, width, height};
    if (owner.y + owner.height + GAP + height <= bottom) return PixelRect{left, owner.y + owner.height + GAP, width, height};
    if (owner.y - GAP - height >= workArea.y) return PixelRect{left, owner.y - GAP - height, width, height};
    return PixelRect{right - width, bottom - height, width, height};
}

FindDialog::FindDialog(Dialog* owner, Finder finder, std::function<void()> cancel)
    : m_owner(owner), m_dialog(Windows().NewDialog(FIND_TEMPLATE, *this, owner)), m_finder(std::move(finder)),
      m_cancel(std::move(cancel))
{
    m_dialog->AddContextCommand(NO_ID, ContextCommand{FIND_NEXT_COMMAND, nullptr, Shortcut{KEY_F3}});
    m_dialog->AddContextCommand(NO_ID, ContextCommand{FIND_PREVIOUS_COMMAND, nullptr, Shortcut{KEY_F3, false, true}});
}

FindDialog::~FindDialog() = default;

void FindDialog::Open()
{
    if (!m_placed && m_owner) {
        const PixelRect size = m_dialog->FrameRect();
        const PixelRect place = PlaceFindWindow(m_owner->FrameRect(), size.width, size.height, Windows().WorkArea());
        m_dialog->MoveTo(place.x, place.y);
        m_placed = true;
    }
    m_dialog->Show();
    m_dialog->Focus(IDC_FIND_TEXT, true);
}

void FindDialog::FindAgain(bool forward)
{
    const std::string text = m_dialog->Text(IDC_FIND_TEXT);
    if (text.empty()) {
        Open();
        return;
    }
    if (m_searching) return;  // one search at a time
    switch (m_finder(text, m_dialog->IsChecked(IDC_FIND_DETAILS), forward)) {
    case FindOutcome::Found: ShowResult(true); break;
    case FindOutcome::NotFound: ShowResult(false); break;
    case FindOutcome::Searching:
        m_searching = true;
        ShowProgress(0);
        break;
    case FindOutcome::Busy: break;
    }
}

void FindDialog::ShowProgress(int percent)
{
    m_dialog->SetText(IDC_FIND_STATUS, "Searching... " + std::to_string(percent) + " %");
}

void FindDialog::ShowResult(bool found)
{
    m_searching = false;
    m_dialog->SetText(IDC_FIND_STATUS, found ? "" : "Not found");
}

void FindDialog::OnCommand(int id)
{
    if (id == IDC_FIND_NEXT || id == FIND_NEXT_COMMAND) FindAgain(true);
    else if (id == IDC_FIND_PREVIOUS || id == FIND_PREVIOUS_COMMAND) FindAgain(false);
    else if (id == IDC_FIND_DETAILS && !m_searching) m_dialog->SetText(IDC_FIND_STATUS, "");  // no result yet
}

void FindDialog::OnTextChanged(int id)
{
    if (id == IDC_FIND_TEXT && !m_searching) m_dialog->SetText(IDC_FIND_STATUS, "");
}

void FindDialog::OnCancel()
{
    if (!m_searching) {
        m_dialog->Hide();
        return;
    }
    m_searching = false;
    m_dialog->SetText(IDC_FIND_STATUS, "Search cancelled");
    if (m_cancel) m_cancel();
}

}  // namespace kestrine
