// kestrine.exe: the packet-capture program on Win32. Its one optional argument names a
// capture file to show; --help and --version print to standard output and open no window.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <string>

#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/win32/win32_dialog.h"

namespace {

// Writes to standard output: the handle the program was given (a pipe or file), or else
// the console of the command prompt that started it. False when there is neither.
bool WriteStandardOutput(const char* text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
    const DWORD size = static_cast<DWORD>(std::strlen(text));
    DWORD written = 0;
    return WriteFile(out, text, size, &written, nullptr) && written == size;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool named = arguments && count > 1;  // an empty name too: it is refused with a box
    const std::string file = named ? kestrine::Utf8FromUtf16(arguments[1]) : std::string();
    LocalFree(arguments);
    if (const char* information = named ? kestrine::ProgramInformation(file) : nullptr)
        return WriteStandardOutput(information) ? 0 : 1;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_INTERNET_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    kestrine::Win32WindowSystem windows;
    kestrine::SetWindowSystem(&windows);
    return kestrine::RunProgram(named ? file.c_str() : nullptr);
}
