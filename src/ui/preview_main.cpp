// kestrine-preview about|configure|detail: opens one dialog by itself, so it can be looked
// at (for example under Xvfb for a screenshot) without a capture.
#include <QApplication>

#include <cstring>
#include <vector>

#include "ui/about_box.h"
#include "ui/configure_dialog.h"
#include "ui/detail_window.h"
#include "ui/resources.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setWindowIcon(kestrine::ProgramIcon());
    const char* which = argc > 1 ? argv[1] : "";
    if (std::strcmp(which, "about") == 0) {
        kestrine::AboutBox box;
        return box.exec() == QDialog::Accepted ? 0 : 0;
    }
    if (std::strcmp(which, "configure") == 0) {
        kestrine::CConfigureDlg dialog;
        dialog.m_interfaceAddress = 0x7F000001;  // 127.0.0.1
        dialog.DoModal();
        return 0;
    }
    if (std::strcmp(which, "detail") == 0) {
        // A TCP segment with options and a little data, as a capture would hold it.
        static const std::vector<uint8_t> packet = {
            0x45, 0x00, 0x00, 0x40, 0x1c, 0x46, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00, 0xc0, 0x00, 0x02, 0x01,
            0xc6, 0x33, 0x64, 0x07, 0x04, 0x01, 0x00, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
            0x70, 0x12, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02,
            0x47, 0x45, 0x54, 0x20, 0x2f, 0x20, 0x48, 0x54, 0x54, 0x50, 0x2f, 0x31, 0x2e, 0x31, 0x0d, 0x0a};
        const kestrine::PacketRecord record{packet.data(), static_cast<int32_t>(packet.size()), 0.5f};
        QWidget owner;
        owner.setWindowTitle(QStringLiteral("Kestrine"));
        owner.resize(300, 200);
        owner.show();
        kestrine::OpenDetailWindow(&owner, record, 0);
        return app.exec();
    }
    return 2;
}
