// Runs the window tests headless: an offscreen QApplication, the Qt realisation installed,
// and message boxes answered by the tests instead of shown.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/qt/qt_dialog.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kestrine::QtWindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
