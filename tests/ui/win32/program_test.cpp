// kestrine.exe run as a user runs it, under Wine: Wine refuses the receive-all socket, so
// the "ERROR" box comes first; on the first run the About box with the licence follows,
// with FirstRun already stored; then the main window, whose Esc asks "Really Quit?", and OK
// ends the program with status 0. The second run shows no About box; it is given a capture
// file to show.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr const wchar_t* DIALOG_CLASS = L"#32770";
constexpr const wchar_t* MAIN_CAPTION = L"Kestrine - www.harvoll.example";
constexpr const wchar_t* ABOUT_CAPTION = L"About Kestrine - Harvoll";
constexpr const wchar_t* KEY = L"Software\\Harvoll\\Kestrine";
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr int ABOUT_TEXT_ID = 1039;
constexpr int PACKET_LIST_ID = 1014;

// The program, as Wine names a Unix path.
std::wstring ProgramPath()
{
    std::wstring path = L"Z:";
    for (const char* c = KESTRINE_EXE; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// A visible top-level window of the class and caption, waiting up to the limit.
HWND WaitForWindow(const wchar_t* className, const wchar_t* caption, int seconds = 30)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        HWND window = FindWindowW(className, caption);
        if (window && IsWindowVisible(window)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

// A control's text, asked of the other process (WM_GETTEXT crosses processes).
std::wstring TextOf(HWND control)
{
    wchar_t text[16384] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 16384, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

bool FirstRunValue(DWORD* value)
{
    DWORD type = 0;
    DWORD size = sizeof *value;
    return RegGetValueW(HKEY_CURRENT_USER, KEY, L"FirstRun", RRF_RT_ANY, &type, value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof *value;
}

// A classic pcap file (microsecond stamps, raw IPv4) of n minimal UDP datagrams.
std::wstring WriteCaptureFile(int n)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"kestrine-program-test.pcap";
    std::string bytes("\xd4\xc3\xb2\xa1\x02\x00\x04\x00", 8);
    bytes.append(8, '\0');                            // zone, accuracy
    bytes.append("\xff\xff\x00\x00\x65\x00\x00\x00", 8);  // snapshot length, link type 101
    const std::string datagram("\x45\x00\x00\x1c\x00\x01\x00\x00\x40\x11\x00\x00\xc0\x00\x02\x01"
                               "\xc6\x33\x64\x07\x04\x01\x17\x70\x00\x08\x00\x00", 28);
    for (int i = 0; i < n; ++i) {
        const char record[16] = {0, 0, 0, 0, static_cast<char>(i), 0, 0, 0, 28, 0, 0, 0, 28, 0, 0, 0};
        bytes.append(record, sizeof record);
        bytes.append(datagram);
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

class Program {
public:
    explicit Program(const std::wstring& argument = L"")
    {
        std::wstring command = L"\"" + ProgramPath() + L"\"";
        if (!argument.empty()) command += L" \"" + argument + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &m_process) != FALSE;
    }
    ~Program()
    {
        if (!m_started) return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_process.hProcess, 9);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    bool Started() const { return m_started; }
    // The exit status, or -1 while it still runs after the wait.
    long ExitStatus(int seconds)
    {
        if (WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0) return -1;
        DWORD status = 0;
        GetExitCodeProcess(m_process.hProcess, &status);
        return static_cast<long>(status);
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};

// Answers the "ERROR" box the refused socket brings, checking its text.
void DismissBindError()
{
    HWND error = WaitForWindow(DIALOG_CLASS, L"ERROR");
    ASSERT_NE(error, nullptr) << "no ERROR box";
    EXPECT_EQ(TextOf(GetDlgItem(error, MESSAGE_BOX_TEXT_ID)),
              L"Could not bind to default address!\r\nPlease configure the listening interface");
    EXPECT_EQ(FindWindowW(nullptr, ABOUT_CAPTION), nullptr);  // the About box comes after it
    PostMessageW(error, WM_COMMAND, IDOK, 0);
}

// Esc in the main window, then OK in "Really Quit?": the program ends with status 0.
void QuitWithEscape(HWND main, Program& program)
{
    PostMessageW(main, WM_KEYDOWN, VK_ESCAPE, 0);
    HWND really = WaitForWindow(DIALOG_CLASS, L"Kestrine");
    ASSERT_NE(really, nullptr) << "no quit confirmation";
    EXPECT_EQ(TextOf(GetDlgItem(really, MESSAGE_BOX_TEXT_ID)), L"Really Quit?");
    PostMessageW(really, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.ExitStatus(30), 0);
}

TEST(Program, FirstRunThenSecondRunAsAUserSeesThem)
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, KEY, L"FirstRun");
    {
        Program program;
        ASSERT_TRUE(program.Started()) << GetLastError();
        DismissBindError();
        HWND about = WaitForWindow(DIALOG_CLASS, ABOUT_CAPTION);
        ASSERT_NE(about, nullptr) << "no About box on the first run";
        DWORD value = 0;
        EXPECT_TRUE(FirstRunValue(&value));
        EXPECT_EQ(value, 1u);
        HWND main = FindWindowW(DIALOG_CLASS, MAIN_CAPTION);
        EXPECT_TRUE(main == nullptr || !IsWindowVisible(main));  // shown after the About box
        const std::wstring licence = TextOf(GetDlgItem(about, ABOUT_TEXT_ID));
        EXPECT_NE(licence.find(L"Kestrine End-User Licence Agreement"), std::wstring::npos);
        EXPECT_EQ(licence.find(L"\\rtf"), std::wstring::npos);
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        main = WaitForWindow(DIALOG_CLASS, MAIN_CAPTION);
        ASSERT_NE(main, nullptr);
        QuitWithEscape(main, program);
    }
    {
        // The one argument names a capture file: its packets are listed under the header line.
        const std::wstring file = WriteCaptureFile(3);
        Program program(file);
        ASSERT_TRUE(program.Started());
        DismissBindError();
        HWND main = WaitForWindow(DIALOG_CLASS, MAIN_CAPTION);
        ASSERT_NE(main, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(FindWindowW(DIALOG_CLASS, ABOUT_CAPTION), nullptr);
        DWORD_PTR lines = 0;
        SendMessageTimeoutW(GetDlgItem(main, PACKET_LIST_ID), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &lines);
        EXPECT_EQ(lines, 4u);
        QuitWithEscape(main, program);
        DeleteFileW(file.c_str());
    }
}

}  // namespace
