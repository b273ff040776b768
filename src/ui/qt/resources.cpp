// Access to the compiled-in resources. The resource file lives in a static library, whose
// initialiser the linker would drop unless something refers to it: it is called here.
#include "ui/qt/resources.h"

#include <QFile>

static void InitialiseResources() { Q_INIT_RESOURCE(kestrine); }

namespace kestrine {

namespace {

void EnsureResources()
{
    static const bool done = (InitialiseResources(), true);
    (void)done;
}

}  // namespace

QIcon ProgramIcon()
{
    // One icon for every window: each new icon would cache its own pixmaps again.
    static const QIcon icon = [] {
        EnsureResources();
        QIcon loaded;
        loaded.addFile(QStringLiteral(":/kestrine/icon-32.png"), QSize(32, 32));
        loaded.addFile(QStringLiteral(":/kestrine/icon-16.png"), QSize(16, 16));
        return loaded;
    }();
    return icon;
}

QByteArray LicenceResource()
{
    EnsureResources();
    QFile file(QStringLiteral(":/kestrine/licence.rtf"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

}  // namespace kestrine
