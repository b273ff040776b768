// Dialog-unit arithmetic shared by the realisations.
#include "ui/dialog_template.h"

#include <cstring>

namespace kestrine {

bool IsFixedPitchFace(const char* face)
{
    return std::strcmp(face, "Fixedsys") == 0 || std::strcmp(face, "Courier New") == 0;
}

int ScaleRounded(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

PixelRect MapDialogRect(const PixelRect& units, DialogBaseUnits base)
{
    return PixelRect{ScaleRounded(units.x, base.x, 4), ScaleRounded(units.y, base.y, 8),
                     ScaleRounded(units.width, base.x, 4), ScaleRounded(units.height, base.y, 8)};
}

}  // namespace kestrine
