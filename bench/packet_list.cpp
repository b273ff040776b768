// The main window's packet list under a full capture (offscreen): one timer tick that lists
// 8096 packets, against a peer list that adds one widget item and scrolls per line; and
// selecting a packet with a 1400-byte payload into the lower tree.
#include <QApplication>
#include <QListWidget>
#include <QTreeView>
#include <benchmark/benchmark.h>

#include <cstring>

#include "capture/capture_session.h"
#include "decode/summary.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"
#include "ui/session_globals.h"

using namespace kestrine;

namespace {

constexpr int PACKETS = 8096;

// Fills the current session with n UDP datagrams of the given payload size.
void StorePackets(int n, int payload)
{
    CaptureSession& s = *g_session;
    uint8_t* w = s.m_buffer;
    const int length = 28 + payload;
    for (int i = 0; i < n && w + length <= s.m_buffer + s.m_bufferSize; ++i) {
        std::memset(w, 0x61, static_cast<size_t>(length));
        const uint8_t header[28] = {0x45, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0, 1, 0, 0,
                                    64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7, 0x04, 0x01, 0x00, 0x35,
                                    static_cast<uint8_t>((length - 20) >> 8), static_cast<uint8_t>(length - 20), 0, 0};
        std::memcpy(w, header, sizeof header);
        s.m_index[i] = PacketRecord{w, length, 0.001f * static_cast<float>(i)};
        w += length;
        s.m_packetCount.store(i + 1, std::memory_order_release);
    }
}

struct Window {
    Window()
    {
        g_session = new CaptureSession(HostAddress{}, 1024, PACKETS);
        Widget()->resize(800, 600);
        Widget()->show();
        QApplication::processEvents();
    }
    QDialog* Widget() const { return AsQt(window.Window())->Widget(); }
    QTreeView* List() const { return AsQt(window.Window())->ControlAs<QTreeView>(IDC_PACKET_LIST); }
    MainWindow window;  // deletes g_session
};

void TimerTickFlatModel(benchmark::State& state)
{
    Window w;
    StorePackets(PACKETS, 12);
    for (auto _ : state) {
        state.PauseTiming();
        w.window.Window()->ClearList(IDC_PACKET_LIST);
        w.window.m_listedCount = 0;
        QApplication::processEvents();
        state.ResumeTiming();
        w.window.OnTimer(CAPTURE_TIMER_ID);
        QApplication::processEvents();  // the view lays out and paints what the tick added
    }
    state.counters["lines"] = w.List()->model()->rowCount();
}
BENCHMARK(TimerTickFlatModel)->Unit(benchmark::kMillisecond);

// The peer: one widget item per line and a scroll to each new line.
void TimerTickItemPerLine(benchmark::State& state)
{
    Window w;
    StorePackets(PACKETS, 12);
    QListWidget list;
    list.setUniformItemSizes(true);
    list.resize(800, 300);
    list.show();
    for (auto _ : state) {
        state.PauseTiming();
        list.clear();
        QApplication::processEvents();
        state.ResumeTiming();
        char line[256];
        for (int i = 0; i < PACKETS; ++i) {
            FormatSummaryLine(g_session->m_index[i], i, line, sizeof line);
            list.addItem(QString::fromLatin1(line));
            list.scrollToItem(list.item(list.count() - 1));
        }
        QApplication::processEvents();
    }
}
BENCHMARK(TimerTickItemPerLine)->Unit(benchmark::kMillisecond)->Iterations(2);

void SelectLargePacket(benchmark::State& state)
{
    Window w;
    StorePackets(2, 1400);
    w.window.OnTimer(CAPTURE_TIMER_ID);
    int row = 1;
    for (auto _ : state) {
        // Alternate between the two packets so every selection rebuilds the lower tree.
        w.List()->setCurrentIndex(w.List()->model()->index(row, 0));
        QApplication::processEvents();
        row = 3 - row;
    }
}
BENCHMARK(SelectLargePacket)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QtWindowSystem windows;
    SetWindowSystem(&windows);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
