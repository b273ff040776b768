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
        // The drawn 16 and 32 px images, and larger ones for screens at twice the density.
        for (const int size : {16, 32, 48, 64})
            loaded.addFile(QStringLiteral(":/kestrine/icon-%1.png").arg(size), QSize(size, size));
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
