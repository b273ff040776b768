// The main window: starts and aborts captures, lists the packets every 300 ms, shows the
// selected packet's decoded tree, opens detail windows and the configuration dialog, splits
// its height between the two trees, and asks before quitting.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QRect>

#include <cstdint>
#include <functional>

#include "ui/configure_dialog.h"

class QSlider;
class QTimer;
class QTreeView;

namespace kestrine {

class DetailTreeModel;
class IpAddressControl;
class PacketListModel;
class SystemMenu;

inline constexpr int MAIN_WINDOW_ID = 102;
inline constexpr int IDC_BEGIN_CAPTURE = 1012;
inline constexpr int IDC_ABORT_CAPTURE = 1013;
inline constexpr int IDC_PACKET_LIST = 1014;
inline constexpr int IDC_DETAIL_TREE = 1019;
inline constexpr int IDC_SPLIT = 1021;
inline constexpr int IDC_CONFIGURE = 1022;
inline constexpr int ABOUT_COMMAND = 16;
inline constexpr int TIMER_PERIOD_MS = 300;
inline constexpr int MAIN_MIN_WIDTH = 648;  // frame included
inline constexpr int MAIN_MIN_HEIGHT = 480;

// Where the two trees and the trackbar go for a client size and the lower tree's share.
struct MainLayout {
    QRect packetList;
    QRect trackbar;
    QRect lowerTree;
};
MainLayout ComputeMainLayout(int lowerPercent, int width, int height);

// Chooses the file "Save Packets As..." writes to; empty: cancelled. Tests put their own in place.
using SaveFileChooser = std::function<QString(QWidget* parent)>;
void SetSaveFileChooser(SaveFileChooser chooser);

class MainWindow final : public QDialog {
public:
    MainWindow();
    // Frees every detail window, the current session and the adapter information.
    ~MainWindow() override;

    // Initialises (which may show the About box first) and runs the window until quit.
    int DoModal();
    void OnInitDialog();

    void OnBeginCapture();
    void OnAbortCapture();
    void OnConfigure();
    void OnTimer();
    void OnPacketSelected();
    void OnPacketDoubleClick();
    void OnDetailItemExpanded(uint32_t itemData, int action);
    void OnSplitterMoved();
    void OnSize(uint32_t type, int width, int height);
    bool OnSysCommand(int command);
    void OnSavePackets();
    bool CanSavePackets() const;

    int32_t m_listedCount = 0;
    int32_t m_lowerPercent = 50;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    uint32_t m_lastSizeType = 0;
    CConfigureDlg m_configDialog;
    IpAddressControl* m_addressControl = nullptr;
    QIcon m_icon;

    QTreeView* m_packetList = nullptr;
    QTreeView* m_lowerTree = nullptr;
    QSlider* m_split = nullptr;
    PacketListModel* m_packetModel = nullptr;
    DetailTreeModel* m_detailModel = nullptr;
    QTimer* m_timer = nullptr;
    SystemMenu* m_systemMenu = nullptr;

protected:
    void reject() override;  // Esc, the close box, Alt+F4: the quit confirmation
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int32_t SelectedPacketIndex() const;
    void SetButtons(bool begin, bool abort, bool configure);
    void SetMinimumFrameSize();
    bool m_fillingLowerTree = false;
};

// The program: the application object's start-up, the main window run modally, the end.
int RunKestrine(int argc, char** argv);

}  // namespace kestrine
