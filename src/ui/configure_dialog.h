// The modal "Configure Capture" dialog. Its values (CaptureSettings) live as long as the
// main window; its window is built anew at every opening. Every control acts on the
// current session at once; Done only closes the window.
#pragma once

#include <memory>

#include "ui/capture_settings.h"
#include "ui/window_system.h"

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

extern const DialogTemplate CONFIGURE_TEMPLATE;

class CConfigureDlg : public CaptureSettings, public DialogHandler {
public:
    CConfigureDlg() = default;
    ~CConfigureDlg();
    CConfigureDlg(const CConfigureDlg&) = delete;
    CConfigureDlg& operator=(const CConfigureDlg&) = delete;

    // Opens the window modally; returns ID_OK when Done closed it.
    int DoModal(Dialog* owner = nullptr);

    // The window's life, separately (DoModal uses them; tests drive an open window).
    Dialog* Open(Dialog* owner = nullptr);
    void Close();
    Dialog* Window() const { return m_window.get(); }

    // The exchange between the fields and the controls; false when a limit field held no
    // number (the user has been told and the field is focused).
    bool DoDataExchange(bool fromControls);

    void OnProtocolBox(int id);
    void OnEnableFilter();
    void OnKillFocusLimit(int id);
    void OnApply();
    void OnInterfaceDoubleClick();
    void OnDone();

    // The window's notifications, passed to the handlers above.
    void OnCommand(int id) override;
    void OnKillFocus(int id) override;
    void OnDoubleClick(int id) override;
    // Enter and Esc close nothing: Done is the only way out.
    void OnOK() override {}
    void OnCancel() override {}

    // Sessions this dialog has installed by rebinding, so far.
    int m_sessionsInstalled = 0;

private:
    void OnInitDialog();
    bool ReadLimit(int id, uint32_t* field);

    std::unique_ptr<Dialog> m_window;
    bool m_inHandler = false;  // a message box opened by a handler moves the focus too
};

}  // namespace kestrine
