// kestrine: the packet-capture program, on Qt 6. Its one optional argument names a
// capture file to show; --help and --version need no display.
#include <QApplication>

#include <cstdio>

#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/resources.h"

int main(int argc, char** argv)
{
    if (argc > 1) {
        if (const char* information = kestrine::ProgramInformation(argv[1])) {
            const bool written = std::fputs(information, stdout) >= 0 && std::fflush(stdout) == 0;
            return written ? 0 : 1;
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "kestrine: no display to open its window on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);  // an About box before the window must not end it
    application.setWindowIcon(kestrine::ProgramIcon());
    kestrine::QtWindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    return kestrine::RunProgram(argc > 1 ? argv[1] : nullptr);
}
