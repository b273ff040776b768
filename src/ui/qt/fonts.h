// The dialog templates' font names mapped to this system's fonts.
#pragma once

#include <QFont>

namespace kestrine {

// "Fixedsys" and "Courier New" give the system's fixed-pitch font, "MS Sans Serif",
// "System" and any other name its user-interface font, at the given point size.
QFont TemplateFont(const char* face, int pointSize);

}  // namespace kestrine
