// The main window: starts and aborts captures, lists the packets every 300 ms, shows the
// selected packet's decoded tree, opens detail windows and the configuration dialog, splits
// its height between the two trees, and asks before quitting. Searches, copies and saves
// over a whole list run in slices from the event loop, showing their progress, and can be
// cancelled.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"
#include "ui/configure_dialog.h"
#include "ui/display_filter.h"
#include "ui/filter_window.h"
#include "ui/find_dialog.h"
#include "ui/long_operation.h"
#include "ui/progress_window.h"
#include "ui/window_system.h"

namespace kestrine {

inline constexpr int MAIN_WINDOW_ID = 102;
inline constexpr int IDC_BEGIN_CAPTURE = 1012;
inline constexpr int IDC_ABORT_CAPTURE = 1013;
inline constexpr int IDC_PACKET_LIST = 1014;
inline constexpr int IDC_DETAIL_TREE = 1019;
inline constexpr int IDC_SPLIT = 1021;
inline constexpr int IDC_CONFIGURE = 1022;
inline constexpr int ABOUT_COMMAND = 16;
inline constexpr int CAPTURE_TIMER_ID = 1;
inline constexpr int TIMER_PERIOD_MS = 300;
inline constexpr int WORK_TIMER_ID = 2;  // the slices of a long operation
inline constexpr int MAIN_MIN_WIDTH = 648;  // frame included
inline constexpr int MAIN_MIN_HEIGHT = 480;
// The commands of the packet list's and the lower tree's context menus and keys.
inline constexpr int SAVE_PACKETS_COMMAND = 0x8001;
inline constexpr int OPEN_PACKETS_COMMAND = 0x8002;
inline constexpr int COPY_LINES_COMMAND = 0x8003;
inline constexpr int COPY_DETAIL_COMMAND = 0x8004;
inline constexpr int FIND_COMMAND = 0x8005;
inline constexpr int RECORD_TO_FILE_COMMAND = 0x8020;  // clear of the Find and detail windows' commands
inline constexpr int FILTER_COMMAND = 0x8010;

extern const DialogTemplate MAIN_TEMPLATE;

// Where the two trees and the trackbar go for a client size and the lower tree's share.
struct MainLayout {
    PixelRect packetList;
    PixelRect trackbar;
    PixelRect lowerTree;
};
MainLayout ComputeMainLayout(int lowerPercent, int width, int height);

class FileRecording;

class MainWindow final : public DialogHandler {
public:
    // Creates the window, hidden; OnInitDialog fills it.
    MainWindow();
    // Frees every detail window, the current session and the adapter information.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Initialises (which may show the About box first) and runs the window until quit.
    int DoModal();
    void OnInitDialog();
    Dialog* Window() const { return m_dialog.get(); }

    void OnBeginCapture();
    void OnAbortCapture();
    void OnConfigure();
    void OnPacketSelected();
    void OnPacketDoubleClick();
    void OnDetailItemExpanded(uint32_t itemData, int action);
    void OnSplitterMoved();
    void OnSavePackets();
    // When path is the open file (however named) and it holds more than the save would
    // keep, asks whether to save over it; true to go on.
    bool ConfirmSaveOverOpenFile(const std::string& path);
    bool CanSavePackets() const;
    // Shows the IPv4 datagrams of a capture file in the list, as a capture's; says why not
    // (the list staying as it was) or where the file was cut short. True when it shows them.
    bool OpenPacketFile(const std::string& path);
    void OnOpenPackets();
    // Records the session's interface into a file chosen in the save-file chooser until
    // Abort Capture; the list follows the file, and shows it opened when the recording ends.
    void OnRecordToFile();
    bool Recording() const { return m_recording != nullptr; }
    void OnCopyLines();
    void OnCopyDetail();
    // Searches the packet lines (and the decoded details) from the current line; selects
    // the match. Find runs to the end at once; StartFind runs a first slice and goes on
    // from the event loop when more is left, telling the Find dialog its progress and end.
    bool Find(const std::string& text, bool details, bool forward);
    // Selects the matching line and, for a match in the decoded details only, the lower
    // tree's first line that holds the text.
    void SelectMatch(size_t row, const std::string& text, bool details);
    FindOutcome StartFind(const std::string& text, bool details, bool forward);
    FindDialog* Finder() const { return m_find.get(); }
    FilterWindow* Filter() const { return m_filterWindow.get(); }
    // Lists only the packets a compiled display filter keeps (empty: every packet), each
    // with its own index number; it stays for the files and captures listed after.
    void ApplyDisplayFilter(std::vector<BpfInstruction> program);
    // Whether a search, copy or save goes on; ends it without its result (a save leaves
    // its target as it was).
    bool Busy() const { return m_operation != nullptr; }
    void CancelOperation();
    // The progress window of a copy or save that goes on, once shown; null otherwise.
    ProgressWindow* Progress() const { return m_progress.get(); }

    // The window's notifications.
    void OnCommand(int id) override;
    void OnSelectionChanged(int id) override;
    void OnDoubleClick(int id) override;
    void OnItemExpanded(int id, uint32_t itemData, int action) override;
    void OnTrackbarMoved(int id) override;
    void OnTimer(int timerId) override;
    void OnSize(uint32_t type, int width, int height) override;
    bool OnSysCommand(int command) override;
    bool IsCommandEnabled(int command) override;
    void OnFilesDropped(const std::vector<std::string>& paths) override;
    void OnOK() override {}  // Enter never closes the window
    void OnCancel() override;  // Esc, the close box, Alt+F4: the quit confirmation

    int32_t m_listedCount = 0;
    int32_t m_lowerPercent = 50;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    uint32_t m_lastSizeType = 0;
    CConfigureDlg m_configDialog;
    // How long each slice of a long operation runs, and how long the operation runs before
    // its progress window shows (none for work that ends sooner).
    double m_sliceSeconds = 0.04;
    double m_progressDelay = 0.25;

private:
    int32_t SelectedPacketIndex() const;
    // The packets the list shows: an open file's, or the current session's.
    const PacketRecord* ShownRecord(int64_t index) const;
    // The packets the list's lines show, in order (those the display filter keeps), for
    // Find and Save; and how many packets there are in all.
    const PacketRecord* ListedRecords() const;
    size_t ListedRecordCount() const;
    size_t AllRecordCount() const;
    // Fills the list anew from the file's or the session's packets, through the display filter.
    void RelistPackets();
    bool Capturing() const;
    // A tick of a recording: the list takes what the file holds since the last one; at the
    // end, the file is opened as any file is, and a failure said.
    void FollowRecording();
    void EndRecording();
    void SetButtons(bool begin, bool abort, bool configure);
    // Runs the operation's first slice; when work is left, the rest runs from the work
    // timer, with a progress window saying progressText (none: the Find dialog shows it).
    // finish runs once the work is done, after the operation has let go of its windows.
    void StartOperation(std::unique_ptr<LongOperation> operation, const char* progressText,
                        std::function<void(LongOperation&)> finish);
    void OnWork();
    void EndOperation();

    std::unique_ptr<Dialog> m_dialog;
    std::unique_ptr<CaptureFileContents> m_file;  // the file the list shows, if any
    std::unique_ptr<FileRecording> m_recording;   // Record to File, while it runs
    std::string m_followError;                    // why the recorded file could not be followed
    std::unique_ptr<FindDialog> m_find;
    std::unique_ptr<FilterWindow> m_filterWindow;
    DisplayFilter m_displayFilter;
    std::unique_ptr<LongOperation> m_operation;  // the search, copy or save that goes on
    std::function<void(LongOperation&)> m_finishOperation;
    std::unique_ptr<ProgressWindow> m_progress;
    const char* m_progressText = nullptr;
    std::chrono::steady_clock::time_point m_operationStart;
    bool m_cancelRequested = false;  // by the progress window, acted on at the next slice
    bool m_reportedGone = false;  // the current session's lost interface has been reported
};

// The program: the main window run modally, then the end. The realisation is installed.
// A capture file named on the command line is shown once the window is initialised.
int RunProgram(const char* file = nullptr);

}  // namespace kestrine
