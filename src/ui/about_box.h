// The About box with the licence text, and the first-run check that shows it once.
#pragma once

#include <QByteArray>
#include <QDialog>

namespace kestrine {

inline constexpr int ABOUT_BOX_ID = 100;
inline constexpr int ABOUT_TEXT_ID = 1039;
inline constexpr int ABOUT_OK_ID = 2;  // carries the cancel identifier
// The system-menu entry that opens the box.
inline constexpr const char* ABOUT_MENU_TEXT = "&About kestrine...";

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);

    QByteArray m_text;  // the licence document shown in the text area

private:
    void OnInitDialog();
};

// Shows the About box modally when the per-user store says this is the first run (the
// value is written first); does nothing when the store cannot be opened.
void CheckFirstRun();

}  // namespace kestrine
