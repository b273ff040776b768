// kestrine.exe: the packet-capture program on Win32. Its one optional argument names a
// capture file to show.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "ui/main_window.h"
#include "ui/win32/win32_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_INTERNET_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    kestrine::Win32WindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::string file = arguments && count > 1 ? kestrine::Utf8FromWide(arguments[1]) : std::string();
    LocalFree(arguments);
    return kestrine::RunProgram(file.empty() ? nullptr : file.c_str());
}
