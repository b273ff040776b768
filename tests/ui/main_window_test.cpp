// The main window: start-up, buttons through a capture, the packet list and the lower tree,
// detail windows, the split, saving, quitting; and one capture end to end on loopback.
#include "ui/main_window.h"
#include "tests/capture_file/capture_file_builder.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
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
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's runtime
#else
#include <malloc.h>
#endif
#include <fstream>

#include "capture/stopwatch.h"
#include "capture_file/capture_file.h"
#include "capture_file/save_packets.h"
#include "decode/section_states.h"
#include "decode/summary.h"
#include "tests/capture_file/capture_file_builder.h"
#include "tests/support/netns.h"
#include "tests/ui/ui_test_util.h"
#include "ui/detail_window.h"
#include "ui/filter_window.h"
#include "ui/find_dialog.h"
#include "ui/packet_search.h"
#include "ui/progress_window.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/tree_views.h"

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
        SetOpenFileChooser(nullptr);
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_config);
    }
    void Start()
    {
        m_window->OnInitDialog();
        m_qt->Widget()->show();
        m_qt->Widget()->activateWindow();  // keys reach the active window only
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_qt->Widget()));
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

    // A capture file of n UDP datagrams to 198.51.100.7 port 6000, 1.5 ms apart, whose
    // payloads say "payload N"; written as the program saves captures.
    std::string WriteCaptureFile(const std::string& name, int n) const
    {
        std::vector<std::vector<uint8_t>> datagrams;
        std::vector<PacketRecord> records;
        for (int i = 0; i < n; ++i) {
            const std::string payload = "payload " + std::to_string(i);
            const auto length = static_cast<uint8_t>(28 + payload.size());
            std::vector<uint8_t> d = {0x45, 0, 0, length, 0, 1, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7,
                                      0x04, 0x01, 0x17, 0x70, 0, static_cast<uint8_t>(length - 20), 0, 0};
            d.insert(d.end(), payload.begin(), payload.end());
            datagrams.push_back(std::move(d));
        }
        for (int i = 0; i < n; ++i)
            records.push_back(PacketRecord{datagrams[static_cast<size_t>(i)].data(),
                                           static_cast<int32_t>(datagrams[static_cast<size_t>(i)].size()), 0.0f,
                                           1700000000000000000 + 1500000LL * i});
        const std::string path = m_config + "/" + name;
        std::string error;
        EXPECT_TRUE(SavePackets(records.data(), n, path, &error)) << error;
        return path;
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

    // The window cannot be made smaller than its minimum, frame included, and down to it.
    Widget()->resize(100, 100);
    EXPECT_EQ(Widget()->frameGeometry().size(), QSize(MAIN_MIN_WIDTH, MAIN_MIN_HEIGHT));
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
    ASSERT_EQ(DetailWindow::OpenCount(), open + 1);
    QDialog* window = nullptr;
    for (QDialog* child : Widget()->findChildren<QDialog*>())
        if (child->windowTitle().startsWith("Detail:")) window = child;
    ASSERT_NE(window, nullptr);
    QTreeView* detail = window->findChild<QTreeView*>();
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
    // Every line fits in 800 pixels: no sideways scrolling, no blank room beyond the lines.
    EXPECT_EQ(PacketList()->horizontalScrollBar()->maximum(), 0);
    // The column reaches the end of the widest line, or the view's edge, and no further.
    const QFontMetrics metrics = PacketList()->fontMetrics();
    int widest = 0;
    for (const QString& line : ListLines()) widest = std::max(widest, metrics.horizontalAdvance(line));
    const int wanted = PacketList()->indentation() + widest;
    EXPECT_GE(column, wanted);
    EXPECT_LE(column, std::max(PacketList()->viewport()->width(), wanted + 20));

    // A double click on a section toggles it, remembered like any expansion.
    Select(2);
    QAbstractItemModel* lower = LowerTree()->model();
    const QModelIndex ip = lower->index(0, 0, lower->index(0, 0));
    ASSERT_FALSE(LowerTree()->isExpanded(ip));
    const QPoint at = LowerTree()->visualRect(ip).center();
    // Track-select: the item under the pointer is the hot one, until the pointer leaves.
    auto* lined = static_cast<LinedTreeView*>(LowerTree());
    QTest::mouseMove(LowerTree()->viewport(), at);
    EXPECT_EQ(lined->HotItem(), ip);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(LowerTree()->viewport(), &leave);
    EXPECT_FALSE(lined->HotItem().isValid());
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

TEST_F(MainWindowTest, OpensACaptureFileAsACaptureByMenuKeyAndDrop)
{
    MessageBoxRecorder boxes;
    Start();
    const size_t startBoxes = boxes.Boxes().size();
    const std::string path = WriteCaptureFile("five.pcap", 5);
    SetOpenFileChooser([&] { return path; });
    m_window->OnCommand(OPEN_PACKETS_COMMAND);  // the context menu's entry
    QStringList lines = ListLines();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], SUMMARY_COLUMN_HEADER);
    EXPECT_TRUE(lines[1].startsWith("    0      0.000000    37  UDP    192.0.2.1        198.51.100.7")) << lines[1].toStdString();
    EXPECT_TRUE(lines[5].startsWith("    4      0.006000")) << lines[5].toStdString();  // from the first packet
    EXPECT_EQ(boxes.Boxes().size(), startBoxes);

    // The file's packets select, open in detail windows and save as a capture's do.
    Select(3);
    ASSERT_EQ(LowerTree()->model()->rowCount(), 1);
    EXPECT_EQ(LowerTree()->model()->index(0, 0).data().toString(), lines[3]);
    const int open = DetailWindow::OpenCount();
    m_window->OnPacketDoubleClick();
    EXPECT_EQ(DetailWindow::OpenCount(), open + 1);
    ASSERT_TRUE(m_window->CanSavePackets());
    const std::string saved = m_config + "/saved.pcap";
    SetSaveFileChooser([&] { return saved; });
    m_window->OnSavePackets();
    const CaptureFileContents again = LoadCaptureFile(saved);
    ASSERT_EQ(again.records.size(), 5u);
    EXPECT_EQ(again.records[4].arrivalNs, 1700000000000000000 + 1500000LL * 4);

    // A file that is not a capture: said, and the list stays as it was.
    const std::string text = m_config + "/notes.txt";
    std::ofstream(text) << "not a capture\n";
    EXPECT_FALSE(m_window->OpenPacketFile(text));
    ASSERT_EQ(boxes.Boxes().size(), startBoxes + 1);
    EXPECT_EQ(boxes.Boxes().back().text.rfind("Could not open " + text + ":\r\n", 0), 0u) << boxes.Boxes().back().text;
    EXPECT_EQ(ListLines(), lines);
    // An empty name (kestrine "") is refused as such, without trying to open anything.
    EXPECT_FALSE(m_window->OpenPacketFile(""));
    ASSERT_EQ(boxes.Boxes().size(), startBoxes + 2);
    EXPECT_EQ(boxes.Boxes().back().text, "Could not open the capture file:\r\nthe file name is empty");
    EXPECT_EQ(boxes.Boxes().back().icon, MessageIcon::Stop);
    EXPECT_EQ(LowerTree()->model()->rowCount(), 1);  // a refused file leaves the lower tree too

    // A file cut short: the packets before the cut, and where it was cut. The lower tree
    // showed a packet of the list that went; it goes too, and Copy has nothing to copy.
    const std::string cut = m_config + "/cut.pcap";
    std::filesystem::copy_file(path, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(path) - 20);
    EXPECT_TRUE(m_window->OpenPacketFile(cut));
    EXPECT_EQ(ListLines().size(), 5);  // four packets before the cut
    ASSERT_EQ(boxes.Boxes().size(), startBoxes + 3);
    EXPECT_EQ(boxes.Boxes().back().text, cut + ": " + LoadCaptureFile(cut).outcome.reason);
    EXPECT_EQ(LowerTree()->model()->rowCount(), 0);
    EXPECT_FALSE(m_window->IsCommandEnabled(COPY_DETAIL_COMMAND));

    // A file with no IPv4 datagram opens as an empty list and says so, naming a link type
    // that is not read.
    const struct {
        std::string name;
        uint32_t linkType;
        std::vector<uint8_t> frame;
        std::string why;
    } empties[] = {
        {"radio.pcap", 127, std::vector<uint8_t>(40, 0), ": its link type, IEEE 802.11 with radiotap header (127), is not one that Kestrine reads"},
        {"private.pcap", 147, std::vector<uint8_t>(40, 0), ": its link type, link type 147, is not one that Kestrine reads"},
        {"arp.pcap", 1, test::Prefix(std::vector<uint8_t>(12, 0x11), std::vector<uint8_t>{0x08, 0x06, 0, 1}), ""},
    };
    for (const auto& e : empties) {
        const std::string file = m_config + "/" + e.name;
        test::Store(file, test::Pcap(e.linkType, {{e.frame}}));
        EXPECT_TRUE(m_window->OpenPacketFile(file));
        EXPECT_EQ(ListLines(), QStringList{SUMMARY_COLUMN_HEADER});
        ASSERT_FALSE(boxes.Boxes().empty());
        EXPECT_EQ(boxes.Boxes().back().text, file + " holds no IPv4 datagram" + e.why + ".");
        EXPECT_EQ(boxes.Boxes().back().caption, "Kestrine");
    }
    const size_t shown = boxes.Boxes().size();
    EXPECT_TRUE(m_window->OpenPacketFile(path));  // a file with datagrams says nothing
    EXPECT_EQ(boxes.Boxes().size(), shown);

    // The keyboard and a dropped file open one too.
    const std::string other = WriteCaptureFile("two.pcap", 2);
    SetOpenFileChooser([&] { return other; });
    PacketList()->setFocus();
    QTest::keyClick(PacketList(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(ListLines().size(), 3);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Widget(), &enter);  // the window takes the drag, then the drop
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Widget(), &drop);
    EXPECT_EQ(ListLines().size(), 6);

    // Begin Capture goes back to live capture.
    m_window->OnBeginCapture();
    EXPECT_EQ(ListLines(), QStringList{SUMMARY_COLUMN_HEADER});
    g_session->m_stopRequested = true;
}

// Only regular files open, at once: a FIFO without a writer does not block the window.
TEST_F(MainWindowTest, AFileThatIsNotRegularIsRefusedAtOnceNamingWhatItIs)
{
    MessageBoxRecorder boxes;
    Start();
    const size_t startBoxes = boxes.Boxes().size();
    const std::string fifo = m_config + "/fifo.pcap";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    EXPECT_FALSE(m_window->OpenPacketFile(fifo));
    EXPECT_FALSE(m_window->OpenPacketFile(m_config));
    ASSERT_EQ(boxes.Boxes().size(), startBoxes + 2);
    EXPECT_EQ(boxes.Boxes()[startBoxes].text, "Could not open " + fifo + ":\r\nnot a regular file (a FIFO)");
    EXPECT_EQ(boxes.Boxes()[startBoxes + 1].text, "Could not open " + m_config + ":\r\nIs a directory");
}

// Saving over the file the list came from, under any of its names, asks first when the file
// holds more than the saved one will; Cancel leaves it as it was.
TEST_F(MainWindowTest, SavingOverTheOpenFileAsksWhenItWouldLoseFrames)
{
    using namespace kestrine::test;
    Start();
    const std::string path = m_config + "/mixed.pcap";
    const Bytes mac(12, 0x11);
    const Bytes original = Pcap(1, {{Prefix(Prefix(mac, {0x08, 0x00}), Datagram(1))},
                                    {Prefix(Prefix(mac, {0x08, 0x06}), Datagram(2))},    // ARP
                                    {Prefix(Prefix(mac, {0x86, 0xdd}), Datagram(3))}});  // IPv6
    Store(path, original);
    ASSERT_EQ(link(path.c_str(), (m_config + "/other-name.pcap").c_str()), 0);
    ASSERT_TRUE(m_window->OpenPacketFile(path));
    ASSERT_EQ(ListLines().size(), 2);
    SetSaveFileChooser([&] { return m_config + "/./other-name.pcap"; });
    {
        MessageBoxRecorder cancel(MESSAGE_CANCEL);
        m_window->OnSavePackets();
        ASSERT_EQ(cancel.Boxes().size(), 1u);
        EXPECT_EQ(cancel.Boxes()[0].buttons, MessageButtons::OkCancel);
        EXPECT_NE(cancel.Boxes()[0].text.find("keeps only its 1 IPv4 datagrams: 2 frames that are not IPv4 datagrams "
                                              "would be lost"),
                  std::string::npos)
            << cancel.Boxes()[0].text;
        EXPECT_EQ(Contents(path), std::string(original.begin(), original.end()));
    }
    {
        MessageBoxRecorder ok(MESSAGE_OK);
        m_window->OnSavePackets();
        EXPECT_EQ(ok.Boxes().size(), 1u);
    }
    const CaptureFileContents saved = LoadCaptureFile(m_config + "/other-name.pcap");
    ASSERT_EQ(saved.records.size(), 1u);
    EXPECT_EQ(saved.outcome.frames, 1);
    EXPECT_EQ(Bytes(saved.records[0].data, saved.records[0].data + saved.records[0].length), Datagram(1));
    Select(1);  // the list's records still read the file as it was opened
    EXPECT_EQ(LowerTree()->model()->rowCount(), 1);

    // A file that holds only what a save writes is saved over without a question, and a
    // file elsewhere is no concern of it.
    ASSERT_TRUE(m_window->OpenPacketFile(m_config + "/other-name.pcap"));
    MessageBoxRecorder none;
    m_window->OnSavePackets();
    SetSaveFileChooser([&] { return path; });  // now another file: the link was broken by the first save
    m_window->OnSavePackets();
    EXPECT_TRUE(none.Boxes().empty());
}

// Every capture file of the corpus lists as kestrine-dump --summary prints it.
TEST_F(MainWindowTest, ListsEveryCorpusFileAsTheDumpToolDoes)
{
    const std::filesystem::path corpus = KESTRINE_CORPUS;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no capture corpus at " << corpus;
    MessageBoxRecorder boxes;
    Start();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string path = entry.path().string();
        const std::string command = std::string(KESTRINE_DUMP) + " --summary '" + path + "' 2>/dev/null";
        FILE* dump = popen(command.c_str(), "r");
        ASSERT_NE(dump, nullptr);
        QStringList printed;
        char line[512];
        while (std::fgets(line, sizeof line, dump)) printed << QString::fromLatin1(line).chopped(1);
        const int status = pclose(dump);
        if (!m_window->OpenPacketFile(path)) {
            EXPECT_NE(status, 0) << path;
            continue;
        }
        EXPECT_EQ(ListLines().join('\n').toStdString(), printed.join('\n').toStdString()) << path;
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST_F(MainWindowTest, CopiesLinesAndSectionsByKeyAndMenu)
{
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("four.pcap", 4)));
    const QStringList lines = ListLines();
    QClipboard* clipboard = QGuiApplication::clipboard();

    // One line alone; several (Shift and Ctrl) under the column header line.
    Select(2);
    PacketList()->setFocus();
    QTest::keyClick(PacketList(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text().toStdString(), (lines[2] + "\n").toStdString());
    PacketList()->selectionModel()->select(PacketList()->model()->index(4, 0), QItemSelectionModel::Select);
    m_window->OnCommand(COPY_LINES_COMMAND);  // the context menu's entry
    EXPECT_EQ(clipboard->text().toStdString(), (lines[0] + "\n" + lines[2] + "\n" + lines[4] + "\n").toStdString());

    // Ctrl+A takes every line, the column header line first.
    QTest::keyClick(PacketList(), Qt::Key_A, Qt::ControlModifier);
    m_window->OnCommand(COPY_LINES_COMMAND);
    EXPECT_EQ(clipboard->text().toStdString(), (lines.join("\n") + "\n").toStdString());

    // A section of the lower tree with everything beneath it, two blanks a level.
    QAbstractItemModel* lower = LowerTree()->model();
    const QModelIndex udp = lower->index(1, 0, lower->index(0, 0));
    ASSERT_EQ(udp.data().toString(), "UDP Header");
    LowerTree()->setCurrentIndex(udp);
    LowerTree()->setFocus();
    QTest::keyClick(LowerTree(), Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = clipboard->text().split('\n');
    ASSERT_GT(copied.size(), 2);
    EXPECT_EQ(copied[0], "UDP Header");
    EXPECT_TRUE(copied[1].startsWith("  Src Port")) << copied[1].toStdString();
    EXPECT_EQ(lower->rowCount(udp) + 2, copied.size());  // its lines, and the empty rest after the last "\n"
}

TEST(FindWindowPlace, BesideThenBelowOrAboveItsOwnerAndOnTheScreen)
{
    const PixelRect screen{0, 0, 1280, 1024};
    // Room on the right; then only on the left; then only below; then only above; then none.
    EXPECT_EQ(PlaceFindWindow(PixelRect{100, 100, 700, 500}, 300, 100, screen), (PixelRect{804, 100, 300, 100}));
    EXPECT_EQ(PlaceFindWindow(PixelRect{400, 100, 800, 500}, 300, 100, screen), (PixelRect{96, 100, 300, 100}));
    EXPECT_EQ(PlaceFindWindow(PixelRect{100, 100, 1100, 500}, 300, 100, screen), (PixelRect{100, 604, 300, 100}));
    EXPECT_EQ(PlaceFindWindow(PixelRect{100, 400, 1100, 600}, 300, 100, screen), (PixelRect{100, 296, 300, 100}));
    EXPECT_EQ(PlaceFindWindow(PixelRect{0, 0, 1280, 1024}, 300, 100, screen), (PixelRect{980, 924, 300, 100}));
    // A window partly off the screen: the Find window stays on it.
    EXPECT_EQ(PlaceFindWindow(PixelRect{100, -50, 700, 500}, 300, 100, screen), (PixelRect{804, 0, 300, 100}));
}

TEST_F(MainWindowTest, FindsForwardBackWrappingAndSaysNotFoundInItsDialog)
{
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("six.pcap", 6)));
    PacketList()->setFocus();
    QTest::keyClick(PacketList(), Qt::Key_F, Qt::ControlModifier);
    QtDialog& find = *AsQt(m_window->Finder()->Window());
    ASSERT_TRUE(find.Widget()->isVisible());
    const auto current = [&] { return PacketList()->currentIndex().row(); };

    // Summary lines: every line holds "UDP"; Enter goes to the next, wrapping past the end.
    find.ControlAs<QLineEdit>(IDC_FIND_TEXT)->setText("udp");
    QTest::keyClick(find.ControlAs<QLineEdit>(IDC_FIND_TEXT), Qt::Key_Return);
    EXPECT_EQ(current(), 1);
    for (int i = 0; i < 5; ++i) QTest::keyClick(find.Widget(), Qt::Key_F3);
    EXPECT_EQ(current(), 6);
    QTest::keyClick(find.Widget(), Qt::Key_F3);
    EXPECT_EQ(current(), 1);  // wrapped, skipping the column header line
    QTest::keyClick(PacketList(), Qt::Key_F3, Qt::ShiftModifier);  // the main window's keys too
    EXPECT_EQ(current(), 6);
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "");
    Select(2);  // the lower tree shows packet 1

    // "payload 3" lies only in the decoded details.
    find.ControlAs<QLineEdit>(IDC_FIND_TEXT)->setText("payload 3");
    QTest::mouseClick(find.ControlAs<QPushButton>(IDC_FIND_NEXT), Qt::LeftButton);
    EXPECT_EQ(current(), 2);
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "Not found");
    // A screen reader reads the result itself, not only what the line is for.
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(find.Control(IDC_FIND_STATUS));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(QAccessible::Name), "Not found");
    EXPECT_EQ(status->text(QAccessible::Description), "Search result");
    EXPECT_TRUE(boxes.Boxes().empty());
    // A change of the text or of an option is a new search: the old result goes.
    QTest::keyClick(find.ControlAs<QLineEdit>(IDC_FIND_TEXT), Qt::Key_X);
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "");
    QTest::keyClick(find.ControlAs<QLineEdit>(IDC_FIND_TEXT), Qt::Key_Backspace);
    QTest::mouseClick(find.ControlAs<QPushButton>(IDC_FIND_NEXT), Qt::LeftButton);
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "Not found");
    QTest::mouseClick(find.ControlAs<QCheckBox>(IDC_FIND_DETAILS), Qt::LeftButton);
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "");
    QTest::mouseClick(find.ControlAs<QPushButton>(IDC_FIND_PREVIOUS), Qt::LeftButton);
    EXPECT_EQ(current(), 4);  // back from packet 1, wrapping, to packet 3
    EXPECT_EQ(find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(), "");
    EXPECT_TRUE(LowerTree()->model()->index(0, 0).data().toString().startsWith("    3 "));
    // The lower tree's matching line is the selected one, its section open.
    EXPECT_TRUE(LowerTree()->currentIndex().data().toString().contains("payload 3"))
        << LowerTree()->currentIndex().data().toString().toStdString();
    EXPECT_TRUE(LowerTree()->isExpanded(LowerTree()->currentIndex().parent()));

    // Esc closes the dialog; F3 goes on with its text.
    QTest::keyClick(find.Widget(), Qt::Key_Escape);
    EXPECT_FALSE(find.Widget()->isVisible());
    Select(1);
    QTest::keyClick(PacketList(), Qt::Key_F3);
    EXPECT_EQ(current(), 4);
}

// The Filter window: a display filter over an opened file lists the matching packets by their
// own numbers; selection, Find, Copy and Save work on what is shown; a mistake is said in
// the window; Clear lists every packet again.
TEST_F(MainWindowTest, TheDisplayFilterListsTheMatchingPacketsByTheirOwnNumbers)
{
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("six.pcap", 6)));
    const QStringList all = ListLines();
    PacketList()->setFocus();
    QTest::keyClick(PacketList(), Qt::Key_L, Qt::ControlModifier);
    QtDialog& filter = *AsQt(m_window->Filter()->Window());
    ASSERT_TRUE(filter.Widget()->isVisible());
    QLineEdit* edit = filter.ControlAs<QLineEdit>(IDC_FILTER_TEXT);
    const auto status = [&] { return filter.ControlAs<QLabel>(IDC_FILTER_STATUS)->text().toStdString(); };

    // The odd payload digits ("payload N" from the UDP header's ninth byte on): 1, 3 and 5.
    edit->setText("udp[16] & 1 = 1 and dst port 6000");
    QTest::keyClick(edit, Qt::Key_Return);
    const QStringList shown{all[0], all[2], all[4], all[6]};
    EXPECT_EQ(ListLines(), shown);
    EXPECT_EQ(status(), "Showing 3 of 6 packets");

    // The second shown line is packet 3: the lower tree, a detail window and Copy say so.
    Select(2);
    EXPECT_TRUE(LowerTree()->model()->index(0, 0).data().toString().startsWith("    3 "));
    m_window->OnCommand(COPY_LINES_COMMAND);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), all[4] + "\n");
    // Find searches the shown packets' details: "payload 5" is the next line's, "payload 2" none's.
    EXPECT_TRUE(m_window->Find("payload 5", true, true));
    EXPECT_EQ(PacketList()->currentIndex().row(), 3);
    EXPECT_FALSE(m_window->Find("payload 2", true, true));

    // Save Packets As writes what is shown.
    const std::string saved = m_config + "/shown.pcap";
    SetSaveFileChooser([&] { return saved; });
    m_window->OnSavePackets();
    const CaptureFileContents again = LoadCaptureFile(saved);
    ASSERT_EQ(again.records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(again.records[i].data[36], '1' + 2 * i);
        EXPECT_EQ(again.records[i].arrivalNs, 1700000000000000000 + 1500000LL * static_cast<int64_t>(2 * i + 1));
    }

    // A mistake is said in the window with its column; the list stays; a new text takes it away.
    edit->setText("udp[16] &");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_FILTER_APPLY), Qt::LeftButton);
    EXPECT_EQ(status().rfind("column ", 0), 0u) << status();
    EXPECT_EQ(ListLines(), shown);
    EXPECT_TRUE(boxes.Boxes().empty());
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(status(), "Showing 3 of 6 packets");

    // Another file opens through the filter; Clear lists every packet again.
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("four.pcap", 4)));
    EXPECT_EQ(ListLines().size(), 3);
    EXPECT_EQ(status(), "Showing 2 of 4 packets");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_FILTER_CLEAR), Qt::LeftButton);
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(ListLines().size(), 5);
    EXPECT_EQ(status(), "Showing 4 of 4 packets");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainWindowTest, TheDisplayFilterTakesEachTicksNewPacketsAndTheCaptureFilterIsKept)
{
    MessageBoxRecorder boxes;
    Start();
    m_window->OnCommand(FILTER_COMMAND);  // the packet list's context menu
    QtDialog& filter = *AsQt(m_window->Filter()->Window());
    filter.ControlAs<QLineEdit>(IDC_FILTER_TEXT)->setText("udp[8] & 1 = 1");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_FILTER_APPLY), Qt::LeftButton);
    StorePackets(6);
    Tick();
    QStringList lines = ListLines();
    ASSERT_EQ(lines.size(), 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[i + 1].left(5).trimmed().toInt(), 2 * i + 1);
    StorePackets(10);
    Tick();
    lines = ListLines();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[5].left(5).trimmed().toInt(), 9);
    EXPECT_EQ(filter.ControlAs<QLabel>(IDC_FILTER_STATUS)->text(), "Showing 5 of 10 packets");
    Select(5);
    EXPECT_TRUE(LowerTree()->model()->index(0, 0).data().toString().startsWith("    9 "));
    const std::string saved = m_config + "/odd.pcap";
    SetSaveFileChooser([&] { return saved; });
    m_window->OnSavePackets();
    const CaptureFileContents again = LoadCaptureFile(saved);
    ASSERT_EQ(again.records.size(), 5u);
    EXPECT_EQ(again.records[4].data[28], 9);

    // The capture filter: a mistake is said beside it; a good one is kept for the next capture.
    QLineEdit* capture = filter.ControlAs<QLineEdit>(IDC_CAPTURE_FILTER_TEXT);
    const auto captureStatus = [&] { return filter.ControlAs<QLabel>(IDC_CAPTURE_FILTER_STATUS)->text().toStdString(); };
    EXPECT_EQ(captureStatus(), "Next capture: every datagram");
    capture->setText("ether host 1.2.3.4");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_CAPTURE_FILTER_SET), Qt::LeftButton);
    EXPECT_EQ(captureStatus().rfind("column 1:", 0), 0u) << captureStatus();
    EXPECT_TRUE(m_window->Filter()->CaptureProgram().empty());
    capture->setText("udp port 6000");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_CAPTURE_FILTER_SET), Qt::LeftButton);
    EXPECT_EQ(captureStatus(), "Next capture: what the filter matches");
    EXPECT_FALSE(m_window->Filter()->CaptureProgram().empty());
    EXPECT_TRUE(boxes.Boxes().empty());
}

// Long operations run in slices: each slice as short as can be, and their windows at once.
TEST_F(MainWindowTest, ALongSearchShowsItsProgressAndEscCancelsIt)
{
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("many.pcap", 3000)));
    m_window->m_sliceSeconds = 0;
    Select(1);
    QtDialog& find = *AsQt(m_window->Finder()->Window());
    m_window->Finder()->Open();
    find.ControlAs<QLineEdit>(IDC_FIND_TEXT)->setText("payload 2999");
    find.ControlAs<QCheckBox>(IDC_FIND_DETAILS)->setChecked(true);
    QTest::mouseClick(find.ControlAs<QPushButton>(IDC_FIND_NEXT), Qt::LeftButton);
    ASSERT_TRUE(m_window->Busy());
    const auto status = [&] { return find.ControlAs<QLabel>(IDC_FIND_STATUS)->text(); };
    EXPECT_EQ(status(), "Searching... 0 %");
    // The event loop runs the slices meanwhile, each telling how far the search is.
    const double until = g_stopwatch.Elapsed() + 20;
    while (m_window->Busy() && g_stopwatch.Elapsed() < until) {
        EXPECT_TRUE(status().startsWith("Searching... ")) << status().toStdString();
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(m_window->Busy());
    EXPECT_EQ(PacketList()->currentIndex().row(), 3000);
    EXPECT_EQ(status(), "");

    // Esc in the Find window cancels a search, leaving the current line; a second Esc hides it.
    Select(1);
    find.ControlAs<QLineEdit>(IDC_FIND_TEXT)->setText("no packet holds this");
    QTest::mouseClick(find.ControlAs<QPushButton>(IDC_FIND_NEXT), Qt::LeftButton);
    ASSERT_TRUE(m_window->Busy());
    QTest::keyClick(find.Widget(), Qt::Key_Escape);
    EXPECT_FALSE(m_window->Busy());
    EXPECT_EQ(status(), "Search cancelled");
    EXPECT_TRUE(find.Widget()->isVisible());
    QTest::qWait(20);
    EXPECT_EQ(PacketList()->currentIndex().row(), 1);
    QTest::keyClick(find.Widget(), Qt::Key_Escape);
    EXPECT_FALSE(find.Widget()->isVisible());

    // Opening a file while a search goes on ends the search first.
    find.ControlAs<QCheckBox>(IDC_FIND_DETAILS)->setChecked(true);
    m_window->Finder()->FindAgain(true);
    ASSERT_TRUE(m_window->Busy());
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("two.pcap", 2)));
    EXPECT_FALSE(m_window->Busy());
    EXPECT_TRUE(boxes.Boxes().empty());
}

// Text the payload dump splits across two of its lines is found in the payload's bytes.
TEST_F(MainWindowTest, TheSearchReadsThePayloadAcrossTheDumpsLines)
{
    const std::string request = "GET /index.html HTTP/1.1\r\nUser-Agent: probe\r\n";
    const size_t split = request.find("User-Agent");
    ASSERT_LT(split % 16, 16 - 4u);  // "User" and "-Agent" lie on two dump lines
    ASSERT_GT(split % 16 + 10, 16u);
    std::vector<uint8_t> d = {0x45, 0, 0, 0, 0, 1, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7,
                              0x04, 0x01, 0x00, 0x50, 0, 0, 0, 0};
    d.insert(d.end(), request.begin(), request.end());
    d[3] = static_cast<uint8_t>(d.size());
    d[25] = static_cast<uint8_t>(d.size() - 20);
    DetailTree tree;
    std::string joined;
    const PacketRecord record{d.data(), static_cast<int32_t>(d.size())};
    EXPECT_TRUE(DetailsHold(FoldedText("user-agent: PROBE"), record, tree, joined));
    EXPECT_TRUE(DetailsHold(FoldedText("Data: 45 bytes"), record, tree, joined));
    std::string shown;
    tree.Render(shown);
    EXPECT_EQ(shown.find("User-Agent"), std::string::npos);  // the dump itself splits it
    EXPECT_FALSE(DetailsHold(FoldedText("User-Agentx"), record, tree, joined));
}

// The search's matcher, sixteen places at a time and by skips, finds what comparing at
// every place finds: the first match at or after a start, letters of either case alike.
TEST(FoldedTextTest, FindsTheFirstMatchAsComparingAtEveryPlaceDoes)
{
    const auto naive = [](std::string_view text, std::string_view needle, size_t from) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        for (size_t i = from; i + needle.size() <= text.size(); ++i) {
            size_t k = 0;
            while (k < needle.size() && fold(text[i + k]) == fold(needle[k])) ++k;
            if (k == needle.size()) return i;
        }
        return std::string_view::npos;
    };
    const char alphabet[] = {'a', 'A', 'b', 'B', ' ', '.', '\xC1', '\xE1'};
    uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
    for (int round = 0; round < 3000; ++round) {
        std::string text(next() % 80, ' ');
        for (char& c : text) c = alphabet[next() % sizeof alphabet];
        std::string needle(1 + next() % 6, ' ');
        for (char& c : needle) c = alphabet[next() % sizeof alphabet];
        if (round % 3 == 0 && text.size() > 20) needle = text.substr(next() % 10, 1 + next() % 10);  // one that occurs
        const size_t from = next() % 4;
        ASSERT_EQ(FoldedText(needle).Find(text, from), naive(text, needle, from)) << "[" << text << "] [" << needle << "]";
    }
}

// Copy and save over many lines show a progress window whose Cancel drops the work.
TEST_F(MainWindowTest, ALongCopyOrSaveShowsItsProgressAndACancelledSaveLeavesTheTarget)
{
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(m_window->OpenPacketFile(WriteCaptureFile("many.pcap", 20000)));
    m_window->m_sliceSeconds = 0;
    m_window->m_progressDelay = 0;
    QGuiApplication::clipboard()->setText("before");
    PacketList()->selectAll();
    m_window->OnCommand(COPY_LINES_COMMAND);
    ASSERT_TRUE(m_window->Busy());
    EXPECT_FALSE(m_window->IsCommandEnabled(SAVE_PACKETS_COMMAND));  // one at a time
    // The event loop runs the slices; the progress window says what goes on and how far.
    std::vector<int> seen;
    const double until = g_stopwatch.Elapsed() + 20;
    while (m_window->Busy() && g_stopwatch.Elapsed() < until) {
        if (ProgressWindow* window = m_window->Progress()) {
            QtDialog& progress = *AsQt(window->Window());
            EXPECT_TRUE(progress.Widget()->isVisible());
            EXPECT_EQ(progress.ControlAs<QLabel>(IDC_PROGRESS_TEXT)->text(), "Copying the packet lines...");
            seen.push_back(progress.Progress(IDC_PROGRESS_BAR));
        }
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(m_window->Busy());
    ASSERT_GE(seen.size(), 2u);
    EXPECT_LT(seen.front(), seen.back());
    EXPECT_EQ(m_window->Progress(), nullptr);
    const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
    ASSERT_EQ(copied.size(), 20002);  // the header, every line, the empty rest after the last "\n"
    EXPECT_EQ(copied[20000], ListLines()[20000]);

    // A cancelled save leaves the file it would have replaced as it was, and nothing beside it.
    const std::string target = m_config + "/kept.pcap";
    std::ofstream(target) << "the old file";
    SetSaveFileChooser([&] { return target; });
    m_window->OnCommand(SAVE_PACKETS_COMMAND);
    ASSERT_TRUE(m_window->Busy());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->Progress() != nullptr; }, 5000));
    ASSERT_NE(m_window->Progress(), nullptr);
    QtDialog& saving = *AsQt(m_window->Progress()->Window());
    EXPECT_EQ(saving.ControlAs<QLabel>(IDC_PROGRESS_TEXT)->text(), "Saving the packets...");
    QTest::mouseClick(saving.ControlAs<QPushButton>(ID_CANCEL), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_window->Busy(); }, 5000));
    EXPECT_FALSE(m_window->Busy());
    std::ifstream kept(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the old file");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_config)) ++files;
    EXPECT_EQ(files, 3);  // Harvoll, many.pcap, kept.pcap: no temporary
    EXPECT_TRUE(boxes.Boxes().empty());

    // Left to run, it writes every packet; quitting during one ends it without a crash.
    m_window->OnCommand(SAVE_PACKETS_COMMAND);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_window->Busy(); }, 20000));
    EXPECT_EQ(LoadCaptureFile(target).records.size(), 20000u);
    m_window->OnCommand(SAVE_PACKETS_COMMAND);
    ASSERT_TRUE(m_window->Busy());
    Widget()->close();  // answered OK
    EXPECT_FALSE(m_window->Busy());
    EXPECT_FALSE(Widget()->isVisible());
    EXPECT_EQ(LoadCaptureFile(target).records.size(), 20000u);
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
    PacketList()->setFocus();
    QTest::keyClick(PacketList(), Qt::Key_Return);  // Enter (the OK command) does nothing
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
    EXPECT_EQ(DetailWindow::OpenCount(), 0);
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


// Record to File, live on loopback: offered only while no capture runs; the list follows the
// file a tick at a time (at most 8096 lines a tick); Abort ends it with the file opened.
class RecordToFileTest : public MainWindowTest {
protected:
    // The summary lines of the datagrams the file holds now, the header first.
    static QStringList FileLines(const std::string& path)
    {
        QStringList lines{SUMMARY_COLUMN_HEADER};
        ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t i) {
            char line[256];
            FormatSummaryLine(r, i, line, sizeof line);
            lines << QString::fromLatin1(line);
            return true;
        });
        return lines;
    }
    bool WaitUntil(const std::function<bool()>& done, double seconds)
    {
        const double until = g_stopwatch.Elapsed() + seconds;
        while (!done() && g_stopwatch.Elapsed() < until) QTest::qWait(20);
        return done();
    }
    bool Offered() { return m_window->IsCommandEnabled(RECORD_TO_FILE_COMMAND); }
};

TEST_F(RecordToFileTest, FollowsTheFileAndAbortOpensIt)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(g_session->m_ready);
    EXPECT_TRUE(Offered());
    Tick();
    ASSERT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_BEGIN_CAPTURE), Qt::LeftButton);
    EXPECT_FALSE(Offered());
    const std::string path = m_config + "/recorded.pcap";
    SetSaveFileChooser([&] { return path; });
    m_window->OnCommand(RECORD_TO_FILE_COMMAND);  // the key or menu while it runs: nothing
    EXPECT_FALSE(m_window->Recording());
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_ABORT_CAPTURE), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return g_session->m_finished.load(); }, 2));
    EXPECT_TRUE(Offered());

    m_window->OnCommand(RECORD_TO_FILE_COMMAND);
    ASSERT_TRUE(m_window->Recording());
    EXPECT_FALSE(Offered());
    EXPECT_FALSE(m_window->IsCommandEnabled(OPEN_PACKETS_COMMAND));
    Tick();
    EXPECT_FALSE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_CONFIGURE));

    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    // Sent at once: the recording has every datagram from the moment it was started.
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", port, 3, 24), 3);
    // The real timer follows the file.
    ASSERT_TRUE(WaitUntil([&] { return m_window->m_listedCount >= 3; }, 5));
    QStringList lines = ListLines();
    EXPECT_EQ(lines, FileLines(path).mid(0, lines.size()));
    Select(1);
    ASSERT_EQ(LowerTree()->model()->rowCount(), 1);
    EXPECT_EQ(LowerTree()->model()->index(0, 0).data().toString(), lines[1]);

    // A flood: each tick takes at most 8096 more lines of the file.
    {
        testnet::Flood flood(port, 16, 20000, 3.0);
        WaitUntil([&] { return flood.Sent() >= 20000; }, 4);
    }
    ASSERT_TRUE(WaitUntil([&] { return FileLines(path).size() > 8096 + m_window->m_listedCount + 1; }, 3));
    const int32_t before = m_window->m_listedCount;
    Tick();
    EXPECT_EQ(m_window->m_listedCount, before + 8096);
    lines = ListLines();  // the first lines now read from a later mapping of the file
    EXPECT_EQ(lines, FileLines(path).mid(0, m_window->m_listedCount + 1));

    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_ABORT_CAPTURE), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !m_window->Recording(); }, 3));
    close(sink);
    // The list is the file, opened: all of it, the buttons back, saving offered.
    const QStringList file = FileLines(path);
    EXPECT_GT(file.size(), before + 8096);
    EXPECT_EQ(ListLines(), file);
    EXPECT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
    EXPECT_FALSE(Enabled(IDC_ABORT_CAPTURE));
    EXPECT_TRUE(Enabled(IDC_CONFIGURE));
    EXPECT_TRUE(m_window->CanSavePackets());
    EXPECT_TRUE(Offered());
    Select(2);
    EXPECT_EQ(LowerTree()->model()->index(0, 0).data().toString(), file[2]);
    EXPECT_TRUE(boxes.Boxes().empty()) << boxes.Boxes().front().text;
}

// A write that fails (here a file size limit) ends the recording with a box; the file ends
// at its last whole record and is what the list shows.
TEST_F(RecordToFileTest, AFailedWriteEndsItWithABoxAndTheFileReadable)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(g_session->m_ready);
    const std::string path = m_config + "/limited.pcap";
    SetSaveFileChooser([&] { return path; });
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 10000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    m_window->OnCommand(RECORD_TO_FILE_COMMAND);
    ASSERT_TRUE(m_window->Recording());
    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", port, 200, 100), 200);
    const bool ended = WaitUntil([&] { return !m_window->Recording(); }, 5);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    close(sink);
    ASSERT_TRUE(ended);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Error");
    EXPECT_EQ(boxes.Boxes()[0].text.rfind("The recording to " + path + " ended:\r\n", 0), 0u) << boxes.Boxes()[0].text;
    EXPECT_NE(boxes.Boxes()[0].text.find("too large"), std::string::npos) << boxes.Boxes()[0].text;
    EXPECT_LE(std::filesystem::file_size(path), 10000u);
    EXPECT_EQ(ReadEnd::Complete, ForEachDatagram(path.c_str(), [](const PacketRecord&, int64_t) { return true; }).end);
    const QStringList file = FileLines(path);
    EXPECT_GT(file.size(), 10);
    EXPECT_EQ(ListLines(), file);
    EXPECT_TRUE(Enabled(IDC_BEGIN_CAPTURE));
}

}  // namespace
// The Filter window's capture filter holds for the next Begin Capture: the kernel keeps only
// what it matches, beside the protocol switches.
TEST_F(MainWindowTest, TheCaptureFilterKeepsOnlyWhatItMatchesInTheNextCapture)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    MessageBoxRecorder boxes;
    Start();
    ASSERT_TRUE(g_session->m_ready);
    m_window->OnCommand(FILTER_COMMAND);
    QtDialog& filter = *AsQt(m_window->Filter()->Window());
    filter.ControlAs<QLineEdit>(IDC_CAPTURE_FILTER_TEXT)->setText("icmp[icmptype] = icmp-echo");
    QTest::mouseClick(filter.ControlAs<QPushButton>(IDC_CAPTURE_FILTER_SET), Qt::LeftButton);
    Tick();  // Begin Capture is enabled by the first tick
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_BEGIN_CAPTURE), Qt::LeftButton);
    EXPECT_TRUE(g_session->CaptureFilterInKernel());

    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    ASSERT_EQ(testnet::SendUdp("127.0.0.1", port, 3, 24), 3);
    const int icmp = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);  // an echo request; the kernel replies
    icmphdr echo{};
    echo.type = ICMP_ECHO;
    echo.checksum = htons(static_cast<uint16_t>(~(ICMP_ECHO << 8)));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(icmp, &echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const double until = g_stopwatch.Elapsed() + 5;
    while (g_stopwatch.Elapsed() < until && m_window->m_listedCount < 1) QTest::qWait(TIMER_PERIOD_MS);
    QTest::qWait(TIMER_PERIOD_MS);  // a reply or datagram let through would be listed by now
    QTest::mouseClick(m_qt->ControlAs<QPushButton>(IDC_ABORT_CAPTURE), Qt::LeftButton);
    while (!g_session->m_finished.load() && g_stopwatch.Elapsed() < until + 2) QTest::qWait(20);
    QTest::qWait(TIMER_PERIOD_MS + 50);
    close(icmp);
    close(sink);

    const QStringList lines = ListLines();
    ASSERT_EQ(lines.size(), 2) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines[1].contains("Echo request")) << lines[1].toStdString();
}

}  // namespace kestrine
