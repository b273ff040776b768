// kestrine-preview about|configure|detail: opens one dialog by itself, so it can be looked
// at (for example under Xvfb for a screenshot) without a capture.
#include <QApplication>

#include <cstring>

#include "ui/about_box.h"
#include "ui/configure_dialog.h"
#include "ui/detail_window.h"
#include "ui/preview_packet.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/resources.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setWindowIcon(kestrine::ProgramIcon());
    kestrine::QtWindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    const char* which = argc > 1 ? argv[1] : "";
    if (std::strcmp(which, "about") == 0) {
        kestrine::AboutBox box;
        box.DoModal();
        return 0;
    }
    if (std::strcmp(which, "configure") == 0) {
        kestrine::CConfigureDlg dialog;
        dialog.m_interfaceAddress = 0x7F000001;  // 127.0.0.1
        dialog.DoModal();
        return 0;
    }
    if (std::strcmp(which, "detail") == 0) {
        kestrine::OpenDetailWindow(nullptr, kestrine::PreviewPacket(), 0);
        return app.exec();
    }
    return 2;
}
