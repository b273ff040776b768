// Dialogs built from one table of their controls: identifier, kind, text and geometry in
// dialog units. Dialog units follow the dialog font's average character width and height
// (x · baseX / 4, y · baseY / 8), so a template keeps its proportions with any font. Every
// control carries its numeric identifier (property and object name) and an accessible name.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <span>

class QFont;

namespace kestrine {

inline constexpr int NO_ID = -1;  // a control nobody addresses (labels, frames, icons)
inline constexpr const char* CONTROL_ID_PROPERTY = "controlId";

enum class ControlKind {
    Label,
    LabelCentred,
    LabelRight,
    GroupBox,
    Button,
    DefaultButton,
    CheckBox,
    LineEdit,
    ReadOnlyText,  // multi-line, read-only, scrolls itself to new text
    DropDown,      // text: the items, separated by '\n', in order
    TreeView,
    IpAddress,
    Trackbar,      // vertical, 0 to 100, minimum at the top, no ticks
    RichEdit,
    Icon,          // the program's icon
};

inline constexpr uint32_t STYLE_DISABLED = 0x1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // nullptr: none
    int x, y, width, height;  // dialog units
    uint32_t style = 0;
    const char* role = nullptr;  // accessible name of a control without text
};

struct DialogTemplate {
    int id;
    const char* caption;
    const char* fontFace;
    int pointSize;
    int width, height;  // dialog units of the client area
    std::span<const ControlTemplate> controls;
};

// Average character width and character height of a font, in pixels.
struct DialogBaseUnits {
    int x;
    int y;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);
// Dialog units to pixels, rounded to the nearest pixel as the original platform does.
QRect MapDialogRect(const QRect& units, DialogBaseUnits base);
QSize MapDialogSize(int width, int height, DialogBaseUnits base);

// Sets the dialog's font and caption, creates every control of the template as a child at
// its pixel position and sizes the dialog's client area. Returns the base units used.
DialogBaseUnits BuildDialog(QWidget* dialog, const DialogTemplate& dialogTemplate);

// The control with that identifier, or nullptr.
QWidget* Control(const QWidget* dialog, int id);
template <typename T>
T* ControlAs(const QWidget* dialog, int id)
{
    return qobject_cast<T*>(Control(dialog, id));
}
// The identifier a control was built with; NO_ID for anything else.
int ControlId(const QWidget* control);

}  // namespace kestrine
