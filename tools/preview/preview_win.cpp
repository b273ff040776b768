// kestrine-preview.exe about|configure|main|filter on Win32: one window by itself, for looking at it.
#include <windows.h>

#include <commctrl.h>
#include <cstdlib>

#include "preview/preview.h"
#include "ui/win32/win32_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_INTERNET_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    kestrine::Win32WindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    windows.InitialiseRichEdit();
    return kestrine::RunPreview(__argc > 1 ? __argv[1] : "");
}
