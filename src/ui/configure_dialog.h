// The modal "Configure Capture" dialog. Its values (CaptureSettings) live as long as the
// main window; its window is built anew at every opening. Every control acts on the
// current session at once; Done only closes the window.
#pragma once

#include <QDialog>

#include <memory>

#include "ui/capture_settings.h"

class QStandardItemModel;

namespace kestrine {

inline constexpr int CONFIGURE_DIALOG_ID = 104;
inline constexpr int IDC_LISTEN_ADDRESS = 1001;
inline constexpr int IDC_UDP = 1003;
inline constexpr int IDC_ICMP = 1004;
inline constexpr int IDC_IGMP = 1005;
inline constexpr int IDC_TCP = 1006;
inline constexpr int IDC_OTHER = 1007;
inline constexpr int IDC_SECONDS = 1009;
inline constexpr int IDC_PACKETS = 1010;
inline constexpr int IDC_KILOBYTES = 1011;
inline constexpr int IDC_DONE = 1023;
inline constexpr int IDC_INTERFACES = 1025;
inline constexpr int IDC_RULE_ACTION = 1027;
inline constexpr int IDC_FILTER_ENABLE = 1028;
inline constexpr int IDC_RULE_ADDRESS = 1031;
inline constexpr int IDC_RULE_MASK = 1032;
inline constexpr int IDC_APPLY = 1036;
inline constexpr int IDC_RULE_TEXT = 1037;
inline constexpr int IDC_RULE_DIRECTION = 1038;

class CConfigureDlg : public CaptureSettings {
public:
    CConfigureDlg() = default;
    ~CConfigureDlg();
    CConfigureDlg(const CConfigureDlg&) = delete;
    CConfigureDlg& operator=(const CConfigureDlg&) = delete;

    // Opens the window modally; returns QDialog::Accepted when Done closed it.
    int DoModal(QWidget* parent = nullptr);

    // The window's life, separately (DoModal uses them; tests drive an open window).
    QDialog* Open(QWidget* parent = nullptr);
    void Close();
    QDialog* Window() const { return m_window.get(); }

    // The exchange between the fields and the controls; false when a limit field held no
    // number (the user has been told and the field is focused).
    bool DoDataExchange(bool fromControls);

    void OnProtocolBox(int id);
    void OnEnableFilter();
    void OnKillFocusLimit(int id);
    void OnApply();
    void OnInterfaceDoubleClick();
    void OnDone();

private:
    void OnInitDialog();
    bool ReadLimit(int id, uint32_t* field);

    std::unique_ptr<QDialog> m_window;
    QStandardItemModel* m_adapterModel = nullptr;
    bool m_inHandler = false;  // a message box opened by a handler moves the focus too
};

}  // namespace kestrine
