// The window's long operations over a million-packet file (offscreen), each against the way
// the window did it before in the same run:
//   - "Search decoded details" for text no packet holds: every packet's tree searched node
//     by node with std::search (before) against the window's search run to its end;
//   - Copy of every line: the selection's rows gathered as model indexes, the text grown
//     line by line and handed to the clipboard as 16-bit characters (before), against the
//     window's copy; with the memory the process holds after each;
//   - a display filter applied in the Filter window (the list filled anew with the packets
//     it keeps), for expressions keeping none, some and all of them, and Clear.
// Usage: long_operations [PACKETS] (default 1000000). Reports both sides and the ratios.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTreeView>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "capture_file/capture_file.h"
#include "capture_file/save_packets.h"
#include "common/text_format.h"
#include "decode/packet_detail.h"
#include "bench/bench_process.h"
#include "bench/sample_capture.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"

using namespace kestrine;
using kestrine::bench::Now;
using kestrine::bench::ResidentKilobytes;

namespace {

// The search as the window made it before: each packet's tree, node by node.
bool SearchBefore(const std::vector<PacketRecord>& records, std::string needle)
{
    for (char& c : needle) c = FoldAscii(c);
    DetailTree tree;
    for (size_t i = 0; i < records.size(); ++i) {
        tree.Clear();
        AddPacketTree(tree, records[i], static_cast<int64_t>(i));
        for (NodeId node = 0; node < static_cast<NodeId>(tree.Size()); ++node) {
            const std::string_view text = tree.Text(node);
            if (std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                            [](char a, char b) { return FoldAscii(a) == b; }) != text.end())
                return true;
        }
    }
    return false;
}

// The copy as the window made it before.
void CopyBefore(QTreeView* view, const PacketLines& lines)
{
    std::vector<size_t> rows;
    for (const QModelIndex& line : view->selectionModel()->selectedRows()) rows.push_back(static_cast<size_t>(line.row()));
    std::sort(rows.begin(), rows.end());
    std::string text;
    LineBuffer buffer;
    for (const size_t row : rows) {
        text.append(lines.Line(row, buffer));
        text.push_back('\n');
    }
    QGuiApplication::clipboard()->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

// Runs the event loop until the window's operation has ended.
void RunToEnd(MainWindow& window)
{
    while (window.Busy()) QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QtWindowSystem windows;
    SetWindowSystem(&windows);
    const int packets = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string path = (std::filesystem::temp_directory_path() / "kestrine-long-operations-bench.pcap").string();
    kestrine::bench::WriteSampleCapture(path, packets, "long_operations");

    MainWindow window;
    QDialog* widget = AsQt(window.Window())->Widget();
    widget->resize(800, 600);
    widget->show();
    window.OpenPacketFile(path);
    QApplication::processEvents();
    const CaptureFileContents file = LoadCaptureFile(path);
    auto* view = AsQt(window.Window())->ControlAs<QTreeView>(IDC_PACKET_LIST);
    const PacketLines& lines = AsQt(window.Window())->ListLines(IDC_PACKET_LIST);
    const char* needle = "no packet holds this";

    double begin = Now();
    const bool foundBefore = SearchBefore(file.records, needle);
    const double searchBefore = Now() - begin;
    begin = Now();
    window.Finder()->Open();
    AsQt(window.Finder()->Window())->SetText(IDC_FIND_TEXT, needle);
    AsQt(window.Finder()->Window())->SetCheck(IDC_FIND_DETAILS, true);
    window.Finder()->FindAgain(true);
    RunToEnd(window);
    const double searchNow = Now() - begin;
    const bool foundNow = AsQt(window.Finder()->Window())->Text(IDC_FIND_STATUS) != "Not found";
    if (foundBefore || foundNow) {
        std::fprintf(stderr, "long_operations: the search found what no packet holds\n");
        return 1;
    }

    view->selectAll();
    const long residentBase = ResidentKilobytes();
    begin = Now();
    CopyBefore(view, lines);
    const double copyBefore = Now() - begin;
    malloc_trim(0);
    const long residentBefore = ResidentKilobytes() - residentBase;
    QGuiApplication::clipboard()->clear();
    malloc_trim(0);
    const long residentCleared = ResidentKilobytes();
    begin = Now();
    window.OnCommand(COPY_LINES_COMMAND);
    RunToEnd(window);
    const double copyNow = Now() - begin;
    malloc_trim(0);
    const long residentNow = ResidentKilobytes() - residentCleared;
    const qsizetype copied = QGuiApplication::clipboard()->text().size();

    // The display filter: Apply in the Filter window until the list shows what it keeps.
    const char* expressions[] = {"tcp", "udp port 53 and udp[8] = 0x61", "greater 100", "udp", ""};
    std::vector<std::pair<double, QString>> filtered;
    for (const char* expression : expressions) {
        AsQt(window.Filter()->Window())->SetText(IDC_FILTER_TEXT, expression);
        begin = Now();
        window.Filter()->OnCommand(IDC_FILTER_APPLY);
        QApplication::processEvents();
        filtered.emplace_back(Now() - begin, AsQt(window.Filter()->Window())->ControlAs<QLabel>(IDC_FILTER_STATUS)->text());
    }
    std::filesystem::remove(path);

    std::printf("file: %d datagrams; copied %lld characters\n", packets, static_cast<long long>(copied));
    std::printf("%-36s %10s %10s %8s\n", "", "before s", "now s", "ratio");
    std::printf("%-36s %10.3f %10.3f %8.1f\n", "search decoded details, no match", searchBefore, searchNow,
                searchBefore / searchNow);
    std::printf("%-36s %10.3f %10.3f %8.1f\n", "copy every line", copyBefore, copyNow, copyBefore / copyNow);
    std::printf("memory held after the copy: before %.1f MB, now %.1f MB\n", residentBefore / 1024.0,
                residentNow / 1024.0);
    for (size_t i = 0; i < filtered.size(); ++i) {
        std::printf("display filter %-32s %8.3f s  %s\n", (std::string("\"") + expressions[i] + "\"").c_str(),
                    filtered[i].first, filtered[i].second.toStdString().c_str());
    }
    return 0;
}
