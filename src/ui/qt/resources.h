// The program's own resources: its icon and its licence document.
#pragma once

#include <QByteArray>
#include <QIcon>

namespace kestrine {

// The icon at 16, 32, 48 and 64 pixels: the window icon, shown twice in the About box.
QIcon ProgramIcon();
// The licence document (RTF); empty when the resource is missing.
QByteArray LicenceResource();

}  // namespace kestrine
