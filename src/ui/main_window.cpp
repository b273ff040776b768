// The main window and the program's start-up.
#include "ui/main_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QTreeView>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "capture/capture_session.h"
#include "capture/host_address.h"
#include "capture/stopwatch.h"
#include "decode/packet_detail.h"
#include "decode/section_states.h"
#include "decode/summary.h"
#include "netinfo/adapter_info.h"
#include "ui/about_box.h"
#include "ui/detail_window.h"
#include "ui/dialog_template.h"
#include "ui/ip_address_control.h"
#include "ui/message_box.h"
#include "ui/packet_list_model.h"
#include "ui/resources.h"
#include "ui/save_packets.h"
#include "ui/session_globals.h"
#include "ui/system_menu.h"
#include "ui/tree_views.h"

namespace kestrine {

namespace {

constexpr std::array MAIN_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "Listening Interface", 10, 4, 76, 10},
    ControlTemplate{IDC_LISTEN_ADDRESS, ControlKind::IpAddress, nullptr, 10, 15, 117, 13, STYLE_DISABLED, "Listening interface"},
    ControlTemplate{IDC_BEGIN_CAPTURE, ControlKind::Button, "Begin Capture", 133, 15, 59, 14, STYLE_DISABLED},
    ControlTemplate{IDC_ABORT_CAPTURE, ControlKind::Button, "Abort Capture", 195, 15, 59, 14, STYLE_DISABLED},
    ControlTemplate{IDC_CONFIGURE, ControlKind::Button, "Configure", 257, 15, 54, 14},
    ControlTemplate{IDC_PACKET_LIST, ControlKind::TreeView, nullptr, 9, 35, 302, 113, 0, "Packet list"},
    ControlTemplate{IDC_DETAIL_TREE, ControlKind::TreeView, nullptr, 9, 151, 302, 113, 0, "Packet detail"},
    ControlTemplate{IDC_SPLIT, ControlKind::Trackbar, nullptr, 0, 32, 9, 235, 0, "Split"},
};

constexpr DialogTemplate MAIN_TEMPLATE{
    MAIN_WINDOW_ID, "Kestrine - www.harvoll.example", "Fixedsys", 8, 318, 268, MAIN_CONTROLS,
};

// The size notification's kinds.
constexpr uint32_t SIZE_RESTORED = 0;
constexpr uint32_t SIZE_MAXIMIZED = 2;

QString DefaultSaveFileChooser(QWidget* parent)
{
    QFileDialog dialog(parent, QStringLiteral("Save Packets As"), QString(),
                       QStringLiteral("Capture files (*.pcap);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pcap"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

SaveFileChooser g_saveFileChooser = DefaultSaveFileChooser;

}  // namespace

void SetSaveFileChooser(SaveFileChooser chooser)
{
    g_saveFileChooser = chooser ? std::move(chooser) : SaveFileChooser(DefaultSaveFileChooser);
}

MainLayout ComputeMainLayout(int lowerPercent, int width, int height)
{
    // The factor is the single-precision 0.01, slightly below it, and the product is
    // formed in double: 50 % of 400 pixels gives 199.
    const int lower = static_cast<int>(lowerPercent * static_cast<double>(0.01f) * (height - 80));
    const int upper = height - lower - 80;
    return MainLayout{QRect(18, 66, width - 32, upper), QRect(0, 61, 18, height - 64),
                      QRect(18, height - lower - 9, width - 32, lower)};
}

MainWindow::MainWindow()
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    BuildDialog(this, MAIN_TEMPLATE);
    m_icon = ProgramIcon();
    m_addressControl = ControlAs<IpAddressControl>(this, IDC_LISTEN_ADDRESS);
    m_packetList = ControlAs<QTreeView>(this, IDC_PACKET_LIST);
    m_lowerTree = ControlAs<QTreeView>(this, IDC_DETAIL_TREE);
    m_split = ControlAs<QSlider>(this, IDC_SPLIT);

    m_packetModel = new PacketListModel(this);
    m_packetList->setModel(m_packetModel);
    // Thousands of lines: no per-line width measuring; a fixed width holds the longest line.
    m_packetList->header()->setSectionResizeMode(QHeaderView::Fixed);
    m_packetList->header()->resizeSection(0, m_packetList->fontMetrics().horizontalAdvance(QString(128, QLatin1Char('0'))));
    m_packetList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_detailModel = new DetailTreeModel(this);
    m_lowerTree->setModel(m_detailModel);

    ConnectTreeHandlers(m_packetList, TreeHandlers{[this] { OnPacketSelected(); }, [this] { OnPacketDoubleClick(); }, nullptr});
    ConnectTreeHandlers(m_lowerTree, TreeHandlers{nullptr, nullptr, [this](const QModelIndex& item, int action) {
                                                      OnDetailItemExpanded(item.data(ITEM_DATA_ROLE).toUInt(), action);
                                                  }});
    connect(ControlAs<QPushButton>(this, IDC_BEGIN_CAPTURE), &QPushButton::clicked, this, [this] { OnBeginCapture(); });
    connect(ControlAs<QPushButton>(this, IDC_ABORT_CAPTURE), &QPushButton::clicked, this, [this] { OnAbortCapture(); });
    connect(ControlAs<QPushButton>(this, IDC_CONFIGURE), &QPushButton::clicked, this, [this] { OnConfigure(); });
    connect(m_split, &QSlider::valueChanged, this, [this] { OnSplitterMoved(); });

    connect(m_packetList, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("Save Packets As..."), this, [this] { OnSavePackets(); })->setEnabled(CanSavePackets());
        menu.exec(m_packetList->viewport()->mapToGlobal(at));
    });
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    connect(save, &QShortcut::activated, this, [this] {
        if (CanSavePackets()) OnSavePackets();
    });

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_systemMenu = new SystemMenu(this, [this](int command) { return OnSysCommand(command); });
}

MainWindow::~MainWindow()
{
    // Detail windows are children and go with the window; they hold text only.
    m_timer->stop();
    delete g_session;  // ends a capture that still runs before its buffer goes
    g_session = nullptr;
    delete g_adapterInfo;
    g_adapterInfo = nullptr;
}

int MainWindow::DoModal()
{
    OnInitDialog();
    return exec();
}

void MainWindow::OnInitDialog()
{
    m_systemMenu->AppendSeparator();
    m_systemMenu->AppendEntry(ABOUT_COMMAND, QString::fromLatin1(ABOUT_MENU_TEXT));
    setWindowIcon(m_icon);

    StartNetworking();
    HostAddress address;
    address.FromLocalHost(5000);
    g_session = new CaptureSession(address, 1024, 8096);
    if (!g_session->m_ready) {
        ShowMessageBox(this, QStringLiteral("Could not bind to default address!\r\nPlease configure the listening interface"),
                       QStringLiteral("ERROR"), MessageIcon::Stop, MessageButtons::Ok);
    }
    // The limits, and what else the configuration dialog shows, hold from the first capture on.
    ApplySettingsToSession(m_configDialog, *g_session);
    m_addressControl->SetAddress(address.HostOrderAddress());

    m_listedCount = 0;
    m_timer->start(TIMER_PERIOD_MS);
    m_split->setRange(0, 100);
    m_split->setValue(50);
    CheckFirstRun();
}

void MainWindow::SetButtons(bool begin, bool abort, bool configure)
{
    Control(this, IDC_BEGIN_CAPTURE)->setEnabled(begin);
    Control(this, IDC_ABORT_CAPTURE)->setEnabled(abort);
    Control(this, IDC_CONFIGURE)->setEnabled(configure);
}

void MainWindow::OnBeginCapture()
{
    if (!g_session) return;
    g_session->Reset();
    m_listedCount = 0;
    m_packetModel->Clear();
    m_packetModel->AddTopLevelLine(SUMMARY_COLUMN_HEADER);
    m_packetModel->Commit();
    SetButtons(false, true, false);
    g_session->Start(&CaptureSession::CaptureThread);
}

void MainWindow::OnAbortCapture()
{
    if (g_session) g_session->m_stopRequested = true;
}

void MainWindow::OnConfigure()
{
    m_configDialog.m_interfaceAddress = m_addressControl->Address();
    m_configDialog.DoModal(this);
    m_addressControl->SetAddress(m_configDialog.m_interfaceAddress);
}

void MainWindow::OnTimer()
{
    if (!g_session) return;
    if (!g_session->m_finished.load(std::memory_order_acquire)) SetButtons(false, true, false);
    else SetButtons(g_session->m_ready, false, true);

    // The count is read with acquire order: the entries below it are complete.
    const int32_t count = g_session->PacketCount();
    for (int32_t i = m_listedCount; i < count; ++i) AddSummaryLine(*m_packetModel, g_session->m_index[i], i);
    m_listedCount = count;
    if (m_packetModel->Commit()) m_packetList->scrollTo(m_packetModel->index(m_packetModel->rowCount() - 1));
}

int32_t MainWindow::SelectedPacketIndex() const
{
    const QModelIndex selected = m_packetList->currentIndex();
    if (!selected.isValid() || !g_session) return -1;
    // The line begins with its index ("%ld", leading blanks skipped); the header does not.
    const QByteArray text = selected.data().toString().toLatin1();
    char* end = nullptr;
    const long index = std::strtol(text.constData(), &end, 10);
    if (end == text.constData() || index < 0 || index >= g_session->PacketCount()) return -1;
    return static_cast<int32_t>(index);
}

void MainWindow::OnPacketSelected()
{
    const int32_t i = SelectedPacketIndex();
    if (i < 0) return;
    const PacketRecord record = g_session->m_index[i];
    m_fillingLowerTree = true;
    m_detailModel->BeginRebuild();
    const NodeId line = AddSummaryLine(m_detailModel->Tree(), record, i);
    AddPacketDetail(m_detailModel->Tree(), record, line);
    m_detailModel->Tree().SetExpanded(line, true);
    m_detailModel->EndRebuild();
    ApplyExpandedFlags(m_lowerTree, *m_detailModel);
    m_fillingLowerTree = false;
}

void MainWindow::OnPacketDoubleClick()
{
    const int32_t i = SelectedPacketIndex();
    if (i >= 0) OpenDetailWindow(this, g_session->m_index[i], i);
}

void MainWindow::OnDetailItemExpanded(uint32_t itemData, int action)
{
    // The program's own expansions while filling carry the remembered action: nothing to learn.
    if (m_fillingLowerTree) return;
    RememberSectionState(itemData, static_cast<ExpandAction>(action));
}

void MainWindow::OnSplitterMoved()
{
    int position = m_split->value();
    if (position < 20 || position > 80) {
        position = position < 20 ? 20 : 80;
        m_split->setValue(position);  // comes back here with the clamped position
        return;
    }
    m_lowerPercent = 100 - position;
    OnSize(m_lastSizeType, m_lastWidth, m_lastHeight);
}

void MainWindow::OnSize(uint32_t type, int width, int height)
{
    m_lastSizeType = type;
    m_lastWidth = width;
    m_lastHeight = height;
    if (width <= 0 || height <= 0) return;  // before the first real size
    const MainLayout layout = ComputeMainLayout(m_lowerPercent, width, height);
    // Extents below zero (a tiny window) are handed on as empty.
    const auto place = [](QWidget* control, QRect r) {
        control->setGeometry(r.x(), r.y(), qMax(r.width(), 0), qMax(r.height(), 0));
        control->raise();
    };
    place(m_packetList, layout.packetList);
    place(m_split, layout.trackbar);
    place(m_lowerTree, layout.lowerTree);
}

bool MainWindow::OnSysCommand(int command)
{
    if ((command & 0xFFF0) != ABOUT_COMMAND) return false;
    AboutBox box;
    box.exec();
    return true;
}

bool MainWindow::CanSavePackets() const
{
    return g_session && g_session->m_finished.load(std::memory_order_acquire) && g_session->PacketCount() > 0;
}

void MainWindow::OnSavePackets()
{
    if (!CanSavePackets()) return;
    const QString path = g_saveFileChooser(this);
    if (path.isEmpty()) return;
    std::string error;
    if (!SavePackets(g_session->m_index, g_session->PacketCount(), g_session->m_startWallClockNs,
                     path.toStdString(), &error)) {
        ShowMessageBox(this, QStringLiteral("Could not save the packets to %1:\r\n%2").arg(path, QString::fromStdString(error)),
                       QStringLiteral("Error"), MessageIcon::Stop, MessageButtons::Ok);
    }
}

void MainWindow::reject()
{
    if (ShowMessageBox(this, QStringLiteral("Really Quit?"), QStringLiteral("Kestrine"), MessageIcon::None,
                       MessageButtons::OkCancel) != MESSAGE_OK)
        return;  // a running capture goes on
    if (g_session) g_session->m_stopRequested = true;
    g_stopwatch.Wait(1.0);
    QDialog::reject();
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter does nothing; Esc asks to quit (through reject).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    OnSize(isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED, width(), height());
}

void MainWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) OnSize(isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED, width(), height());
}

void MainWindow::SetMinimumFrameSize()
{
    const QSize frame = frameGeometry().size() - geometry().size();
    setMinimumSize(MAIN_MIN_WIDTH - frame.width(), MAIN_MIN_HEIGHT - frame.height());
}

void MainWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    SetMinimumFrameSize();
}

int RunKestrine(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "kestrine: no display to open its window on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);  // an About box before the window must not end it
    application.setWindowIcon(ProgramIcon());
    MainWindow window;
    window.DoModal();
    return 0;
}

}  // namespace kestrine
