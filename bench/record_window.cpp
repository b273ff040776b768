// The window recording to a file under a loopback flood (root, offscreen, in a private
// network namespace): Record to File for SECONDS (default 60) while one sender floods UDP
// datagrams of 64-byte payload, the window ticking every 300 ms. Reports the datagrams
// recorded and listed, each tick's time (mean, largest), and the window's own memory
// (anonymous resident memory: the index; the mapped file's pages are the system's cache)
// grown per million listed datagrams, during the recording and once the file is opened.
// Usage: record_window [SECONDS]
#include <QApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_process.h"
#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "tests/support/netns.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"
#include "ui/session_globals.h"

using namespace kestrine;
using kestrine::bench::Now;

namespace {

// One field of /proc/self/status, in KiB.
long StatusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    if (!testnet::EnterPrivateNamespace()) {
        std::printf("record_window: skipped: %s\n", testnet::WhyNot());
        return 0;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char pattern[] = "/tmp/kestrine-record-window-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::filesystem::create_directories(folder + "/Harvoll");
    std::ofstream(folder + "/Harvoll/Kestrine") << "\"FirstRun\"=dword:00000001\n";
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    QApplication app(argc, argv);
    QtWindowSystem windows;
    SetWindowSystem(&windows);

    const std::string path = folder + "/recorded.pcap";
    {
        MainWindow window;
        window.OnInitDialog();
        window.Window()->KillTimer(CAPTURE_TIMER_ID);  // the ticks below are timed one by one
        if (!g_session->m_ready) {
            std::printf("record_window: the session is not ready\n");
            return 1;
        }
        SetSaveFileChooser([&] { return path; });
        int port = 0;
        const int sink = testnet::BindLoopbackUdp(&port);
        window.OnCommand(RECORD_TO_FILE_COMMAND);
        window.OnTimer(CAPTURE_TIMER_ID);
        const long anonStart = StatusKilobytes("RssAnon:");
        const int32_t listedStart = window.m_listedCount;
        double tickTotal = 0;
        double tickMost = 0;
        int ticks = 0;
        {
            testnet::Flood flood(port, 64, 50000000, seconds);
            const double end = Now() + seconds;
            double next = Now() + TIMER_PERIOD_MS / 1000.0;
            while (Now() < end) {
                app.processEvents();
                if (Now() < next) {
                    usleep(2000);
                    continue;
                }
                next += TIMER_PERIOD_MS / 1000.0;
                const double begin = Now();
                window.OnTimer(CAPTURE_TIMER_ID);
                const double took = Now() - begin;
                tickTotal += took;
                tickMost = std::max(tickMost, took);
                ++ticks;
            }
            std::printf("datagrams sent: %u in %.0f s\n", flood.Sent(), seconds);
        }
        const long anonRecording = StatusKilobytes("RssAnon:");
        const int32_t listed = window.m_listedCount - listedStart;
        window.OnAbortCapture();
        const double stop = Now();
        while (window.Recording() && Now() < stop + 10) {
            window.OnTimer(CAPTURE_TIMER_ID);
            usleep(10000);
        }
        close(sink);
        const long anonOpened = StatusKilobytes("RssAnon:");
        const double opened = static_cast<double>(window.Window()->ListLines(IDC_PACKET_LIST).Size() - 1);
        std::printf("file: %.1f MB; datagrams listed while recording: %d (%d ticks, at most 8096 each)\n",
                    static_cast<double>(std::filesystem::file_size(path)) / 1e6, listed, ticks);
        std::printf("tick: mean %.2f ms, largest %.2f ms\n", 1e3 * tickTotal / ticks, 1e3 * tickMost);
        std::printf("window memory (RssAnon): %ld KiB at the start, %ld KiB after %.0f s: %.1f MB per million listed\n",
                    anonStart, anonRecording, seconds,
                    listed > 0 ? (anonRecording - anonStart) * 1024.0 / listed : 0.0);
        std::printf("the file opened at the end: %.0f datagrams, %ld KiB: %.1f MB per million\n", opened, anonOpened,
                    opened > 0 ? (anonOpened - anonStart) * 1024.0 / opened : 0.0);
        std::printf("resident file pages (RssFile): %ld KiB\n", StatusKilobytes("RssFile:"));
        SetSaveFileChooser(nullptr);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
