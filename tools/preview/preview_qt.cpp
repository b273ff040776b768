// kestrine-preview about|configure|main|filter on Qt: one window by itself, for looking at it.
#include <QApplication>

#include "preview/preview.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/resources.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setWindowIcon(kestrine::ProgramIcon());
    kestrine::QtWindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    return kestrine::RunPreview(argc > 1 ? argv[1] : "");
}
