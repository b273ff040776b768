// Opening a large capture file in the window (offscreen), against tcpdump printing the same
// file: a file of 1,000,000 UDP datagrams is written, then
//   - the window opens it and lists it completely (every line in the list's model, the view
//     laid out and painted once), and its memory grows by about the file plus the index;
//   - `tcpdump -nn -r FILE > /dev/null` reads and prints it (its own wall and CPU time);
//   - a summary-line search for text no line holds runs through every line.
// Usage: open_file [PACKETS] (default 1000000). Reports both sides and the ratios.
#include <QApplication>
#include <QTreeView>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture_file/save_packets.h"
#include "bench/bench_process.h"
#include "bench/sample_capture.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"

using namespace kestrine;
using kestrine::bench::Now;
using kestrine::bench::ResidentKilobytes;

namespace {

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double wall = 0;
    double cpu = 0;
};

// tcpdump reading and printing the file into /dev/null; its own times.
Run Tcpdump(const std::string& path)
{
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const double begin = Now();
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(126);
        execlp("tcpdump", "tcpdump", "-nn", "-r", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Run run{Now() - begin, CpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "open_file: tcpdump failed (is it installed?)\n");
        std::exit(1);
    }
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QtWindowSystem windows;
    SetWindowSystem(&windows);
    const int packets = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string path = (std::filesystem::temp_directory_path() / "kestrine-open-file-bench.pcap").string();
    kestrine::bench::WriteSampleCapture(path, packets, "open_file");
    const auto fileBytes = static_cast<double>(std::filesystem::file_size(path));

    // The peer first, so that both read the file from the page cache.
    Tcpdump(path);
    Run peer;
    Run ours;
    Run search;
    double grownKilobytes = 0;
    constexpr int ROUNDS = 3;
    for (int round = 0; round < ROUNDS; ++round) {
        const Run p = Tcpdump(path);
        MainWindow window;
        QDialog* widget = AsQt(window.Window())->Widget();
        widget->resize(800, 600);
        widget->show();
        QApplication::processEvents();
        const long residentBefore = ResidentKilobytes();
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        const double begin = Now();
        window.OpenPacketFile(path);
        QApplication::processEvents();  // the view lays the list out and paints it
        const Run o{Now() - begin, CpuSeconds(RUSAGE_SELF) - cpuBefore};
        const auto* list = AsQt(window.Window())->ControlAs<QTreeView>(IDC_PACKET_LIST);
        if (list->model()->rowCount() != packets + 1) {
            std::fprintf(stderr, "open_file: %d lines listed, not %d\n", list->model()->rowCount(), packets + 1);
            return 1;
        }
        grownKilobytes = static_cast<double>(ResidentKilobytes() - residentBefore);
        const double searchCpu = CpuSeconds(RUSAGE_SELF);
        const double searchBegin = Now();
        window.Find("no line holds this", false, true);
        const Run s{Now() - searchBegin, CpuSeconds(RUSAGE_SELF) - searchCpu};
        if (round == 0 || o.wall < ours.wall) ours = o;
        if (round == 0 || p.wall < peer.wall) peer = p;
        if (round == 0 || s.wall < search.wall) search = s;
    }
    std::filesystem::remove(path);

    std::printf("file: %d datagrams, %.1f MB\n", packets, fileBytes / 1e6);
    std::printf("%-34s %10s %10s\n", "best of 3", "wall s", "CPU s");
    std::printf("%-34s %10.3f %10.3f\n", "window: open and list", ours.wall, ours.cpu);
    std::printf("%-34s %10.3f %10.3f\n", "tcpdump -nn -r FILE > /dev/null", peer.wall, peer.cpu);
    std::printf("%-34s %10.3f %10.3f\n", "window: search every line", search.wall, search.cpu);
    std::printf("ratio tcpdump / window: %.1f (wall), %.1f (CPU)\n", peer.wall / ours.wall, peer.cpu / ours.cpu);
    std::printf("memory grown by the open file: %.1f MB (file %.1f MB + index %.1f MB at 24 bytes a packet)\n",
                grownKilobytes / 1024.0, fileBytes / 1e6, packets * 24.0 / 1e6);
    return 0;
}
