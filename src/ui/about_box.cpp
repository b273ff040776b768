// The About box and the first-run check.
#include "ui/about_box.h"

#include <QPushButton>
#include <QTextEdit>

#include <array>

#include "ui/dialog_template.h"
#include "ui/first_run_store.h"
#include "ui/resources.h"
#include "ui/rich_edit.h"

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

constexpr DialogTemplate ABOUT_TEMPLATE{
    ABOUT_BOX_ID, "About Kestrine - Harvoll", "MS Sans Serif", 8, 345, 217, ABOUT_CONTROLS,
};

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    BuildDialog(this, ABOUT_TEMPLATE);
    setFixedSize(size());
    setWindowIcon(ProgramIcon());
    // OK, Enter, Esc and the close box all end the box the same way, with the cancel result.
    connect(ControlAs<QPushButton>(this, ABOUT_OK_ID), &QPushButton::clicked, this, &QDialog::reject);
    OnInitDialog();
}

void AboutBox::OnInitDialog()
{
    m_text = LicenceDocument();
    if (m_text.isEmpty()) return;  // no licence: the text area stays empty
    if (auto* text = ControlAs<QTextEdit>(this, ABOUT_TEXT_ID)) SetRichEditText(text, m_text);
    ControlAs<QPushButton>(this, ABOUT_OK_ID)->setFocus();
}

void CheckFirstRun()
{
    FirstRunStore store;
    if (!TakeFirstRun(store)) return;
    AboutBox box;
    box.exec();
}

}  // namespace kestrine
