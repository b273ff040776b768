// The Win32 realisation's services: new dialogs, message boxes, the file dialogs, the
// clipboard, the work area, the licence resource; and the text conversions between the
// logic's bytes and the system's UTF-16.
#include "ui/win32/win32_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/utf16_win.h"
#include "ui/resource_ids.h"

namespace kestrine {

namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

}  // namespace

std::wstring WideFromLatin1(std::string_view text)
{
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(), [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
    return wide;
}

std::string Latin1FromWide(std::wstring_view text)
{
    std::string narrow(text.size(), '\0');
    std::transform(text.begin(), text.end(), narrow.begin(), [](wchar_t c) { return c < 256 ? static_cast<char>(c) : '?'; });
    return narrow;
}

std::wstring WideFromMessage(std::string_view text)
{
    // Bytes that are not UTF-8 become U+FFFD: the rest of the message still shows.
    if (text.empty() || text.size() > INT_MAX) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(units, 0)), L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), units);
    return wide;
}

Win32Dialog* AsWin32(Dialog* dialog) { return static_cast<Win32Dialog*>(dialog); }

std::unique_ptr<Dialog> Win32WindowSystem::NewDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler,
                                                        Dialog* owner)
{
    return std::make_unique<Win32Dialog>(dialogTemplate, handler, AsWin32(owner));
}

int Win32WindowSystem::RunMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                                  MessageButtons buttons)
{
    // A box over a window not yet shown (start-up) has no window to stand over: it is
    // centred on the screen, modal to the whole program.
    HWND over = owner ? AsWin32(owner)->Handle() : nullptr;
    if (over && !IsWindowVisible(over)) over = nullptr;
    const UINT style = (buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK) |
                       (icon == MessageIcon::Stop ? MB_ICONSTOP : 0) | (over ? 0 : MB_TASKMODAL);
    const int chosen = MessageBoxW(over, WideFromMessage(text).c_str(), WideFromMessage(caption).c_str(), style);
    return chosen == IDOK ? MESSAGE_OK : MESSAGE_CANCEL;
}

namespace {

// The folder of the last file chosen in a file dialog of this process.
std::wstring g_lastFileFolder;

// The system's file dialog for saving or opening; the chosen file as UTF-8, empty when cancelled.
std::string AskFileName(Dialog* owner, bool save)
{
    std::wstring path(32768, L'\0');
    OPENFILENAMEW ask{};
    ask.lStructSize = sizeof ask;
    ask.hwndOwner = owner ? AsWin32(owner)->Handle() : nullptr;
    ask.lpstrFilter = save ? L"Capture files (*.pcap)\0*.pcap\0All files (*.*)\0*.*\0"
                           : L"Capture files (*.pcap;*.pcapng;*.cap)\0*.pcap;*.pcapng;*.cap\0All files (*.*)\0*.*\0";
    ask.lpstrFile = path.data();
    ask.nMaxFile = static_cast<DWORD>(path.size());
    ask.lpstrTitle = save ? L"Save Packets As" : L"Open Packets";
    ask.lpstrDefExt = save ? L"pcap" : nullptr;
    // Started from its shortcut the program's folder is the current one: begin in the folder
    // of the last file chosen here, or in the user's documents.
    const std::wstring folder = InitialFileFolder();
    ask.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ask.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER | OFN_HIDEREADONLY |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&ask) : GetOpenFileNameW(&ask))) return {};
    path.resize(wcslen(path.c_str()));
    g_lastFileFolder = path.substr(0, ask.nFileOffset > 0 ? ask.nFileOffset - 1u : 0u);
    return Utf8FromUtf16(path);
}

}  // namespace

std::wstring InitialFileFolder()
{
    if (!g_lastFileFolder.empty()) return g_lastFileFolder;
    wchar_t documents[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents) != S_OK) return {};
    return documents;
}

std::string Win32WindowSystem::AskSaveFileName(Dialog* owner) { return AskFileName(owner, true); }

std::string Win32WindowSystem::AskOpenFileName(Dialog* owner) { return AskFileName(owner, false); }

void Win32WindowSystem::SetClipboardText(std::string_view text)
{
    // Unicode text with the platform's line ends.
    std::wstring wide;
    wide.reserve(text.size() + text.size() / 32 + 1);
    for (const char c : text) {
        if (c == '\n') wide.push_back(L'\r');
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return;
    std::memcpy(GlobalLock(memory), wide.c_str(), bytes);
    GlobalUnlock(memory);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);  // the clipboard owns it once set
    CloseClipboard();
}

PixelRect Win32WindowSystem::WorkArea() const
{
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return PixelRect{area.left, area.top, area.right - area.left, area.bottom - area.top};
}

std::string Win32WindowSystem::ApplicationTitle() const
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring_view name(path, n);
    name.remove_prefix(std::min(name.find_last_of(L"\\/") + 1, name.size()));
    if (const size_t dot = name.rfind(L'.'); dot != std::wstring_view::npos) name = name.substr(0, dot);
    return name.empty() ? std::string("kestrine") : Utf8FromUtf16(name);
}

void Win32WindowSystem::InitialiseRichEdit()
{
    static const HMODULE library = LoadLibraryW(L"Msftedit.dll");
    (void)library;
}

std::string Win32WindowSystem::LicenceDocument() const
{
    HRSRC found = FindResourceW(Instance(), MAKEINTRESOURCEW(KESTRINE_LICENCE_ID), L"" KESTRINE_LICENCE_TYPE);
    HGLOBAL loaded = found ? LoadResource(Instance(), found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(Instance(), found) : 0;
    if (!bytes || size == 0) return {};
    return std::string(static_cast<const char*>(bytes), size);
}

}  // namespace kestrine
