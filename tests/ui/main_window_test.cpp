// The main window: start-up, buttons through a capture, the packet list and the lower tree,
// detail windows, the split, saving, quitting; and one capture end to end on loopback.
#include "ui/main_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's runtime
#else
#include <malloc.h>
#endif
#include <fstream>

#include "capture/stopwatch.h"
#include "capture_file.h"
#include "decode/section_states.h"
#include "decode/summary.h"
#include "tests/support/netns.h"
#include "tests/ui/ui_test_util.h"
#include "ui/detail_window.h"
#include "ui/qt/qt_dialog.h"

namespace kestrine {
namespace {

using testing::MessageBoxRecorder;

PixelRect Rect(const QRect& r) { return PixelRect{r.x(), r.y(), r.width(), r.height()}; }

TEST(MainLayout, SplitsTheHeightAsTheWindowDoes)
{
    const MainLayout half = ComputeMainLayout(50, 648, 480);
    EXPECT_EQ(half.lowerTree, (PixelRect{18, 272, 616, 199}));
    EXPECT_EQ(half.packetList, (PixelRect{18, 66, 616, 201}));
    EXPECT_EQ(half.trackbar, (PixelRect{0, 61, 18, 416}));
    const MainLayout most = ComputeMainLayout(80, 800, 600);
    EXPECT_EQ(most.lowerTree.height, 415);  // 80 % of 520, one less: the factor lies below 0.01
    EXPECT_EQ(most.packetList.height + most.lowerTree.height + 80, 600);
    EXPECT_EQ(most.lowerTree.y + most.lowerTree.height + 9, 600);
}

// A window with a user whose first run is over, so no About box appears at start.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrine-main-XXXXXX";
        m_config = mkdtemp(pattern);
        std::filesystem::create_directories(m_config + "/Harvoll");
        std::ofstream(m_config + "/Harvoll/Kestrine") << "\"FirstRun\"=dword:00000001\n";
        setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
        ResetSectionStates();
        m_window = std::make_unique<MainWindow>();
        m_qt = AsQt(m_window->Window());
    }
    void TearDown() override
    {
        m_window.reset();
        m_qt = nullptr;
        SetSaveFileChooser(nullptr);
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_config);
    }
    void Start()
    {
        m_window->OnInitDialog();
        m_qt->Widget()->show();
    }
    bool Enabled(int id) const { return m_qt->Control(id)->isEnabled(); }
    QDialog* Widget() const { return m_qt->Widget(); }
    QTreeView* PacketList() const { return m_qt->ControlAs<QTreeView>(IDC_PACKET_LIST); }
    QTreeView* LowerTree() const { return m_qt->ControlAs<QTreeView>(IDC_DETAIL_TREE); }
    QSlider* Split() const { return m_qt->ControlAs<QSlider>(IDC_SPLIT); }
    void Tick() { m_window->OnTimer(CAPTURE_TIMER_ID); }
    QStringList ListLines() const
    {
        QStringList lines;
        QAbstractItemModel* model = PacketList()->model();
        for (int r = 0; r < model->rowCount(); ++r) lines << model->index(r, 0).data().toString();
        return lines;
    }
    void Select(int row) { PacketList()->setCurrentIndex(PacketList()->model()->index(row, 0)); }

    // Stores n UDP datagrams in the current session as its capture thread would.
    static void StorePackets(int n)
    {
        CaptureSession& s = *g_session;
        uint8_t* w = s.m_buffer;
        for (int i = 0; i < n; ++i) {
            const uint8_t datagram[40] = {0x45, 0, 0, 40, 0, 1, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7,
                                          0x04, 0x01, 0x17, 0x70, 0, 20, 0, 0, static_cast<uint8_t>(i)};
            std::copy(std::begin(datagram), std::end(datagram), w);
            s.m_index[i] = PacketRecord{w, 40, 0.001f * static_cast<float>(i)};
            w += 40;
        }
        s.m_bytesCaptured = 40 * n;
        s.m_packetCount.store(n, std::memory_order_release);
    }

    std::string m_config;
    std::unique_ptr<MainWindow> m_window;
    QtDialog* m_qt = nullptr;
};

TEST_F(MainWindowTest, StartsWithTheControlsOfItsTemplate)
{
    MessageBoxRecorder boxes;
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_CONFIGURE));
    Start();
    ASSERT_NE(g_session, nullptr);
    // The session follows the dialog's defaults: limits, and the unchecked OTHER box.
    EXPECT_EQ(g_session->m_packetLimit, 1000);
    EXPECT_EQ(g_session->m_secondsLimit, 3600);
    EXPECT_EQ(g_session->m_kilobyteLimit, 100);
    EXPECT_FALSE(g_session->m_keepOther);
    EXPECT_EQ(Split()->value(), 50);
    EXPECT_EQ(m_qt->Address(IDC_LISTEN_ADDRESS), ntohl(g_session->m_socket.m_address.m_sockaddr.sin_addr.s_addr));
    if (!g_session->m_ready) {
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, "Could not bind to default address!\r\nPlease configure the listening interface");
        EXPECT_EQ(boxes.Boxes()[0].caption, "ERROR");
    }
    Tick();
    EXPECT_EQ(Enabled(IDC_BEGIN_CAPTURE), g_session->m_ready);
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));

    // The window cannot be made smaller than its minimum.
    Widget()->resize(100, 100);
    EXPECT_GE(Widget()->frameGeometry().width(), MAIN_MIN_WIDTH);
    EXPECT_GE(Widget()->frameGeometry().height(), MAIN_MIN_HEIGHT);
}

TEST_F(MainWindowTest, ATickListsEveryPendingPacketAndTheTreesFollowTheSelection)
{
    MessageBoxRecorder boxes;
    Start();
    m_window->OnBeginCapture();  // a session that is not bound still lists what it holds
    g_session->m_stopRequested = true;
    const double until = g_stopwatch.Elapsed() + 5;
    while (!g_session->m_finished.load() && g_stopwatch.Elapsed() < until) QTest::qWait(5);
    EXPECT_EQ(ListLines(), QStringList{SUMMARY_COLUMN_HEADER});

    StorePackets(500);
    Tick();
    const QStringList lines = ListLines();
    ASSERT_EQ(lines.size(), 501);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(lines[i + 1].left(5).trimmed().toInt(), i);
    EXPECT_TRUE(lines[1].contains("192.0.2.1") && lines[1].contains("Dst Port 6000"));
    const QRect last = PacketList()->visualRect(PacketList()->model()->index(500, 0));
    EXPECT_TRUE(PacketList()->viewport()->rect().intersects(last));  // the newest line is in view

    // The header line selects nothing; a packet line fills the lower tree.
    Select(0);
    EXPECT_EQ(LowerTree()->model()->rowCount(), 0);
    Select(8);
    QAbstractItemModel* lower = LowerTree()->model();
    ASSERT_EQ(lower->rowCount(), 1);
    const QModelIndex top = lower->index(0, 0);
    EXPECT_EQ(top.data().toString(), lines[8]);
    EXPECT_TRUE(LowerTree()->isExpanded(top));
    EXPECT_EQ(lower->rowCount(top), 3);  // Ip Header, UDP Header, Data
    Select(0);
    EXPECT_EQ(lower->rowCount(), 1);  // unchanged

    // Collapsing the payload in the lower tree is remembered; in a detail window it is not.
    const QModelIndex data = lower->index(2, 0, top);
    ASSERT_TRUE(LowerTree()->isExpanded(data));
    LowerTree()->collapse(data);
    EXPECT_EQ(SectionStates[PayloadSection - IpHeaderSection], EXPAND_COLLAPSE);
    Select(9);
    EXPECT_FALSE(LowerTree()->isExpanded(lower->index(2, 0, lower->index(0, 0))));
    LowerTree()->expand(lower->index(0, 0, lower->index(0, 0)));
    EXPECT_EQ(SectionStates[0], EXPAND_EXPAND);  // "Ip Header" starts expanded from now on

    const int open = DetailWindow::OpenCount();
    m_window->OnPacketDoubleClick();
    const QList<QDialog*> windows = Widget()->findChildren<QDialog*>();
    ASSERT_EQ(DetailWindow::OpenCount(), open + 1);
    ASSERT_EQ(windows.size(), 1);
    QTreeView* detail = windows[0]->findChild<QTreeView*>();
    const QModelIndex detailTop = detail->model()->index(0, 0);
    EXPECT_TRUE(detailTop.data().toString().startsWith("    8 "));
    detail->expand(detail->model()->index(2, 0, detailTop));
    EXPECT_EQ(SectionStates[PayloadSection - IpHeaderSection], EXPAND_COLLAPSE);
}

TEST_F(MainWindowTest, ADoubleClickTogglesTreeItemsAndTheListColumnFitsItsWidestLine)
{
    MessageBoxRecorder boxes;
    Start();
    Widget()->resize(800, 600);
    QApplication::processEvents();
    EXPECT_EQ(PacketList()->horizontalScrollBar()->maximum(), 0);  // an empty list does not scroll sideways

    m_window->OnBeginCapture();
    g_session->m_stopRequested = true;
    const double until = g_stopwatch.Elapsed() + 5;
    while (!g_session->m_finished.load() && g_stopwatch.Elapsed() < until) QTest::qWait(5);
    StorePackets(3);
    Tick();
    const int column = PacketList()->header()->sectionSize(0);
    EXPECT_GE(column, PacketList()->viewport()->width());  // the highlight spans the row
    const QFontMetrics metrics = PacketList()->fontMetrics();
    EXPECT_GE(column, PacketList()->indentation() + metrics.horizontalAdvance(QString(SUMMARY_LINE_MAX_LENGTH, 'W')));

    // A double click on a section toggles it, remembered like any expansion.
    Select(2);
    QAbstractItemModel* lower = LowerTree()->model();
    const QModelIndex ip = lower->index(0, 0, lower->index(0, 0));
    ASSERT_FALSE(LowerTree()->isExpanded(ip));
    const QPoint at = LowerTree()->visualRect(ip).center();
    QTest::mouseClick(LowerTree()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(LowerTree()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(LowerTree()->isExpanded(ip));
    EXPECT_EQ(SectionStates[0], EXPAND_EXPAND);

    // The packet list's double click opens a detail window and toggles nothing.
    const int open = DetailWindow::OpenCount();
    const QModelIndex line = PacketList()->model()->index(2, 0);
    const QPoint lineAt = PacketList()->visualRect(line).center();
    QTest::mouseClick(PacketList()->viewport(), Qt::LeftButton, {}, lineAt);
    QTest::mouseDClick(PacketList()->viewport(), Qt::LeftButton, {}, lineAt);
    EXPECT_EQ(DetailWindow::OpenCount(), open + 1);
    EXPECT_FALSE(PacketList()->isExpanded(line));
}

TEST_F(MainWindowTest, ALostInterfaceIsReportedOnceAtTheNextTick)
{
    MessageBoxRecorder boxes;
    Start();
    const size_t before = boxes.Boxes().size();  // the start-up box when nothing was bound
    // As the capture thread leaves it when the bound interface went away.
    g_session->m_errors.fetch_or(CAPTURE_ERR_INTERFACE_GONE);
    g_session->m_ready = false;
    g_session->m_finished.store(true, std::memory_order_release);
    Tick();
    ASSERT_EQ(boxes.Boxes().size(), before + 1);
    EXPECT_EQ(boxes.Boxes().back().text, "The listening interface went away!\r\nPlease configure the listening interface");
    EXPECT_EQ(boxes.Boxes().back().caption, "ERROR");
    EXPECT_EQ(boxes.Boxes().back().icon, MessageIcon::Stop);
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_CONFIGURE));
    Tick();
    EXPECT_EQ(boxes.Boxes().size(), before + 1);  // once per session
}

TEST_F(MainWindowTest, TheTrackbarSplitsBetweenTwentyAndEightyPercent)
{
    MessageBoxRecorder boxes;
    Start();
    Widget()->resize(800, 600);
    Split()->setValue(10);
    EXPECT_EQ(Split()->value(), 20);
    EXPECT_EQ(m_window->m_lowerPercent, 80);
    EXPECT_EQ(Rect(LowerTree()->geometry()), ComputeMainLayout(80, Widget()->width(), Widget()->height()).lowerTree);
    Split()->setValue(95);
    EXPECT_EQ(Split()->value(), 80);
    EXPECT_EQ(m_window->m_lowerPercent, 20);
    EXPECT_EQ(Rect(PacketList()->geometry()), ComputeMainLayout(20, Widget()->width(), Widget()->height()).packetList);
}

TEST_F(MainWindowTest, SavePacketsWritesTheSessionsPacketsOrSaysWhyNot)
{
    MessageBoxRecorder boxes;
    Start();
    EXPECT_FALSE(m_window->CanSavePackets());
    StorePackets(20);
    ASSERT_TRUE(m_window->CanSavePackets());
    const std::string path = m_config + "/saved.pcap";
    SetSaveFileChooser([&] { return path; });
    m_window->OnSavePackets();
    int64_t read = 0;
    const ReadOutcome outcome = ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t i) {
        EXPECT_EQ(r.length, 40);
        EXPECT_EQ(r.data[28], static_cast<uint8_t>(i));
        ++read;
        return true;
    });
    EXPECT_EQ(outcome.end, ReadEnd::Complete);
    EXPECT_EQ(read, 20);
    const size_t before = boxes.Boxes().size();

    SetSaveFileChooser([&] { return m_config + "/missing/saved.pcap"; });
    m_window->OnSavePackets();
    ASSERT_EQ(boxes.Boxes().size(), before + 1);
    EXPECT_NE(boxes.Boxes().back().text.find(m_config + "/missing/saved.pcap"), std::string::npos);
    EXPECT_EQ(boxes.Boxes().back().caption, "Error");
}

TEST_F(MainWindowTest, QuitAsksAndCancelKeepsTheCaptureRunning)
{
    MessageBoxRecorder refuse(MESSAGE_CANCEL);
    Start();
    QTest::keyClick(Widget(), Qt::Key_Escape);
    Widget()->close();
    EXPECT_TRUE(Widget()->isVisible());
    ASSERT_EQ(refuse.Boxes().size() - (g_session->m_ready ? 0 : 1), 2u);
    EXPECT_EQ(refuse.Boxes().back().text, "Really Quit?");
    EXPECT_EQ(refuse.Boxes().back().caption, "Kestrine");
    EXPECT_EQ(refuse.Boxes().back().buttons, MessageButtons::OkCancel);
    EXPECT_FALSE(g_session->m_stopRequested.load());
    QTest::keyClick(Widget(), Qt::Key_Return);  // Enter does nothing
    EXPECT_TRUE(Widget()->isVisible());
}

TEST_F(MainWindowTest, QuitConfirmedStopsWaitsAndEnds)
{
    MessageBoxRecorder agree(MESSAGE_OK);
    Start();
    const double begin = g_stopwatch.Elapsed();
    Widget()->close();
    EXPECT_GE(g_stopwatch.Elapsed() - begin, 1.0);
    EXPECT_FALSE(Widget()->isVisible());
    EXPECT_EQ(Widget()->result(), ID_CANCEL);
    m_window.reset();
    EXPECT_EQ(g_session, nullptr);
    EXPECT_EQ(g_adapterInfo, nullptr);
}

TEST_F(MainWindowTest, ClosedDetailWindowsGiveTheirMemoryBack)
{
    MessageBoxRecorder boxes;
    Start();
    StorePackets(1);
    // Heap in use, not the resident size: the sanitizer's quarantine keeps freed blocks
    // resident on purpose, and the allocator may keep freed pages.
    const auto inUse = [] {
#if defined(__SANITIZE_ADDRESS__)
        return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
        return static_cast<long>(mallinfo2().uordblks);
#endif
    };
    const auto openAndClose = [&](int n) {
        for (int i = 0; i < n; ++i) {
            DetailWindow* w = OpenDetailWindow(m_window->Window(), g_session->m_index[0], 0);
            AsQt(w->Window())->Widget()->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();  // as the window's event loop does
        }
    };
    openAndClose(100);  // fonts, styles and allocator pools settle first
    const long before = inUse();
    openAndClose(1000);
    EXPECT_LT(inUse() - before, 1L << 20);
    EXPECT_TRUE(Widget()->findChildren<QDialog*>().isEmpty());
}

// One capture as a user makes it: loopback in a private namespace, UDP, TCP and ICMP traffic.
TEST_F(MainWindowTest, CapturesListsDecodesAndSavesLoopbackTraffic)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(g_session->m_ready) << "bound to " << m_qt->Address(IDC_LISTEN_ADDRESS);
    Tick();
    ASSERT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_BEGIN_CAPTURE), Qt::LeftButton);
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_CONFIGURE));

    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", port, 3, 24), 3);
    int listener = -1;
    const int client = testnet::ConnectLoopbackTcp(&listener);
    ASSERT_GE(client, 0);
    const int icmp = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);  // an echo request; the kernel replies
    icmphdr echo{};
    echo.type = ICMP_ECHO;
    echo.checksum = htons(static_cast<uint16_t>(~(ICMP_ECHO << 8)));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(icmp, &echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);

    // Ticks until the list holds the traffic (at most 5 s), then abort.
    const double until = g_stopwatch.Elapsed() + 5;
    while (g_stopwatch.Elapsed() < until && m_window->m_listedCount < 8) QTest::qWait(TIMER_PERIOD_MS);
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_ABORT_CAPTURE), Qt::LeftButton);
    while (!g_session->m_finished.load() && g_stopwatch.Elapsed() < until + 2) QTest::qWait(20);
    QTest::qWait(TIMER_PERIOD_MS + 50);
    close(client);
    close(listener);
    close(icmp);
    close(sink);
    EXPECT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));

    const QStringList lines = ListLines();
    ASSERT_EQ(lines.size(), g_session->PacketCount() + 1);
    const auto has = [&](const QString& text) { return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(text); }); };
    EXPECT_TRUE(has(QStringLiteral("UDP")));
    EXPECT_TRUE(has(QStringLiteral("< SYN >")));
    EXPECT_TRUE(has(QStringLiteral("< ACK SYN >")));
    EXPECT_TRUE(has(QStringLiteral("Echo request")));
    EXPECT_TRUE(has(QStringLiteral("Echo Reply")));

    Select(1);
    ASSERT_EQ(LowerTree()->model()->rowCount(), 1);
    EXPECT_EQ(LowerTree()->model()->index(0, 0).data().toString(), lines[1]);

    const std::string path = m_config + "/capture.pcap";
    SetSaveFileChooser([&] { return path; });
    m_window->OnSavePackets();
    QStringList reread{SUMMARY_COLUMN_HEADER};
    ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t i) {
        char line[256];
        FormatSummaryLine(r, i, line, sizeof line);
        reread << QString::fromLatin1(line);
        return true;
    });
    ASSERT_EQ(reread.size(), lines.size());
    for (int i = 1; i < lines.size(); ++i) {
        // Time stamps count from the first packet in the file, from the capture's start here.
        EXPECT_EQ(reread[i].left(5), lines[i].left(5));
        EXPECT_EQ(reread[i].mid(19), lines[i].mid(19));
    }

    MessageBoxRecorder agree(MESSAGE_OK);
    Widget()->close();
    EXPECT_FALSE(Widget()->isVisible());
}

}  // namespace
}  // namespace kestrine
