// The About box and the first-run check.
#include "ui/about_box.h"

#include <array>

#include "ui/first_run_store.h"

namespace kestrine {

namespace {

constexpr std::array ABOUT_CONTROLS = {
    ControlTemplate{ABOUT_TEXT_ID, ControlKind::RichEdit, nullptr, 7, 7, 331, 141, 0, "Licence"},
    ControlTemplate{NO_ID, ControlKind::LabelCentred, "Kestrine V1.2", 113, 155, 120, 12},
    ControlTemplate{NO_ID, ControlKind::LabelCentred, "Copyright \xA9 Harvoll. All rights reserved.", 68, 168, 209, 11},
    ControlTemplate{ABOUT_OK_ID, ControlKind::DefaultButton, "OK", 116, 184, 113, 26},
    ControlTemplate{NO_ID, ControlKind::Icon, nullptr, 73, 186, 20, 20, 0, "Kestrine icon"},
    ControlTemplate{NO_ID, ControlKind::Icon, nullptr, 248, 187, 20, 20, 0, "Kestrine icon"},
};

}  // namespace

const DialogTemplate ABOUT_TEMPLATE{
    ABOUT_BOX_ID, "About Kestrine - Harvoll", "MS Sans Serif", 8, 345, 217, DialogFrame::Fixed, ABOUT_CONTROLS,
};

AboutBox::AboutBox() : m_dialog(Windows().NewDialog(ABOUT_TEMPLATE, *this, nullptr)) { OnInitDialog(); }

AboutBox::~AboutBox() = default;

void AboutBox::OnInitDialog()
{
    m_dialog->SetProgramIcon();
    m_text = Windows().LicenceDocument();
    if (m_text.empty()) return;  // no licence: the text area stays empty
    m_dialog->SetRichText(ABOUT_TEXT_ID, m_text);
    m_dialog->Focus(ABOUT_OK_ID, false);
}

int AboutBox::DoModal() { return m_dialog->RunModal(); }

void AboutBox::OnOK() { m_dialog->EndDialog(ID_CANCEL); }

void AboutBox::OnCancel() { m_dialog->EndDialog(ID_CANCEL); }

void CheckFirstRun()
{
    FirstRunStore store;
    if (!TakeFirstRun(store)) return;
    AboutBox box;
    box.DoModal();
}

}  // namespace kestrine
