// Dialogs described by one table of their controls: identifier, kind, text and geometry in
// dialog units, plus the frame of the window. Each realisation of the window system builds
// its windows from these tables. Dialog units follow the dialog font's average character
// width and height (x · baseX / 4, y · baseY / 8), so a template keeps its proportions with
// any font.
#pragma once

#include <cstdint>
#include <span>

namespace kestrine {

inline constexpr int NO_ID = -1;  // a control nobody addresses (labels, frames, icons)

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
    PacketList,    // the flat list of summary lines: thousands of lines, shown from a model
    IpAddress,
    Trackbar,      // vertical, 0 to 100, minimum at the top, no ticks
    RichEdit,
    Icon,          // the program's icon
    ProgressBar,   // horizontal, 0 to 100 %
};

// Control styles.
inline constexpr uint32_t STYLE_DISABLED = 0x1;
inline constexpr uint32_t STYLE_FULL_ROW_SELECT = 0x2;  // tree views

// Window frames.
enum class DialogFrame {
    Main,    // resizable, minimise and maximise boxes, task-bar button, sunken client edge
    Tool,    // pop-up tool window: small caption, system menu, sizing border, static edge
    Fixed,   // caption and system menu, fixed size
    Sizing,  // caption and sizing border, no system menu (so no close box); never smaller than its template
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // nullptr: none; '&' marks an access key
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
    DialogFrame frame;
    std::span<const ControlTemplate> controls;
};

// Average character width and character height of a font, in pixels.
struct DialogBaseUnits {
    int x;
    int y;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Whether a template's font face is a fixed-pitch one ("Fixedsys", "Courier New"), which
// the columns of the summary lines need.
bool IsFixedPitchFace(const char* face);

// MulDiv: value · numerator / denominator rounded to the nearest integer, halves away from zero.
int ScaleRounded(int value, int numerator, int denominator);
// Dialog units to pixels, rounded as the dialog manager does.
PixelRect MapDialogRect(const PixelRect& units, DialogBaseUnits base);

}  // namespace kestrine
