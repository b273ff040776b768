// Font mapping for the dialog templates.
#include "ui/qt/fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#include "ui/dialog_template.h"

namespace kestrine {

QFont TemplateFont(const char* face, int pointSize)
{
    QFont font;
    if (IsFixedPitchFace(face)) {
        // Columns of the summary lines must stand under each other: insist on fixed pitch,
        // falling back to the font the installer provides when the system font is not.
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
        if (!QFontInfo(font).fixedPitch()) font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    } else {
        font = QApplication::font();
    }
    font.setPointSize(pointSize);
    return font;
}

}  // namespace kestrine
