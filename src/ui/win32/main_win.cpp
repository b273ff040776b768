// kestrine.exe: the packet-capture program on Win32. Started without arguments.
#include <windows.h>

#include <commctrl.h>

#include "ui/main_window.h"
#include "ui/win32/win32_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_INTERNET_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    kestrine::Win32WindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    return kestrine::RunProgram();
}
