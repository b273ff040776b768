// The program's own resources: its icon and its licence document.
#pragma once

#include <QByteArray>
#include <QIcon>

namespace kestrine {

// The icon at 32 × 32 and 16 × 16: the window icon, shown twice in the About box.
QIcon ProgramIcon();
// The licence document (RTF); empty when the resource is missing.
QByteArray LicenceResource();

}  // namespace kestrine
