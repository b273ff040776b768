// The configuration dialog: template, exchange and handlers.
#include "ui/configure_dialog.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "capture/capture_session.h"
#include "capture/host_address.h"
#include "netinfo/adapter_info.h"
#include "ui/session_globals.h"

namespace kestrine {

namespace {

constexpr std::array CONFIGURE_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "Listening Interface IP", 14, 11, 70, 8},
    ControlTemplate{IDC_LISTEN_ADDRESS, ControlKind::IpAddress, nullptr, 88, 8, 117, 12, STYLE_DISABLED, "Listening interface"},
    ControlTemplate{NO_ID, ControlKind::Label, "Available Interfaces (Double-click the interface IP address to select)", 14, 23, 219, 8},
    ControlTemplate{IDC_INTERFACES, ControlKind::TreeView, nullptr, 7, 34, 289, 73, STYLE_FULL_ROW_SELECT,
                    "Available interfaces"},
    ControlTemplate{NO_ID, ControlKind::GroupBox, "Capture Limits", 7, 107, 289, 31},
    ControlTemplate{IDC_PACKETS, ControlKind::LineEdit, nullptr, 25, 118, 40, 12, 0, "Packets"},
    ControlTemplate{NO_ID, ControlKind::Label, "Packets", 69, 120, 33, 8},
    ControlTemplate{IDC_KILOBYTES, ControlKind::LineEdit, nullptr, 117, 118, 40, 12, 0, "KiloBytes"},
    ControlTemplate{NO_ID, ControlKind::Label, "KiloBytes", 161, 120, 41, 8},
    ControlTemplate{IDC_SECONDS, ControlKind::LineEdit, nullptr, 207, 118, 40, 12, 0, "Seconds"},
    ControlTemplate{NO_ID, ControlKind::Label, "Seconds", 251, 120, 34, 8},
    ControlTemplate{NO_ID, ControlKind::GroupBox, "Packet Filtering", 7, 133, 289, 116},
    ControlTemplate{NO_ID, ControlKind::GroupBox, "Protocols", 11, 143, 47, 102},
    ControlTemplate{IDC_UDP, ControlKind::CheckBox, "UDP", 17, 166, 31, 10},
    ControlTemplate{IDC_ICMP, ControlKind::CheckBox, "ICMP", 17, 179, 33, 10},
    ControlTemplate{IDC_IGMP, ControlKind::CheckBox, "IGMP", 17, 192, 34, 10},
    ControlTemplate{IDC_TCP, ControlKind::CheckBox, "TCP", 17, 205, 30, 10},
    ControlTemplate{IDC_OTHER, ControlKind::CheckBox, "OTHER", 17, 218, 41, 10},
    ControlTemplate{NO_ID, ControlKind::GroupBox, "IP Addresses", 57, 143, 235, 102},
    ControlTemplate{IDC_FILTER_ENABLE, ControlKind::CheckBox, "Enable", 76, 153, 36, 11},
    ControlTemplate{IDC_APPLY, ControlKind::Button, "Apply", 157, 151, 50, 14},
    ControlTemplate{IDC_RULE_ACTION, ControlKind::DropDown, "Capture IP\nIgnore IP\nCapture Net\nIgnore Net", 208, 167, 67, 64,
                    0, "Rule action"},
    ControlTemplate{IDC_RULE_DIRECTION, ControlKind::DropDown, "Src or Dst Addr\nDst Addr\nSrc Addr", 208, 186, 67, 59, 0,
                    "Rule direction"},
    ControlTemplate{NO_ID, ControlKind::LabelRight, "Addr", 77, 170, 16, 8},
    ControlTemplate{IDC_RULE_ADDRESS, ControlKind::IpAddress, nullptr, 96, 167, 100, 15, 0, "Addr"},
    ControlTemplate{NO_ID, ControlKind::LabelRight, "Net Mask", 71, 184, 22, 17},
    ControlTemplate{IDC_RULE_MASK, ControlKind::IpAddress, nullptr, 96, 185, 100, 15, 0, "Net Mask"},
    ControlTemplate{IDC_RULE_TEXT, ControlKind::ReadOnlyText, nullptr, 62, 206, 225, 28, 0, "Filter rule"},
    ControlTemplate{IDC_DONE, ControlKind::Button, "Done", 126, 251, 50, 14},
};

// The check boxes in exchange order, with their fields.
struct BoxField {
    int id;
    int32_t CaptureSettings::*field;
};
constexpr std::array<BoxField, 5> PROTOCOL_BOXES = {{
    {IDC_UDP, &CaptureSettings::m_udp},
    {IDC_TCP, &CaptureSettings::m_tcp},
    {IDC_IGMP, &CaptureSettings::m_igmp},
    {IDC_ICMP, &CaptureSettings::m_icmp},
    {IDC_OTHER, &CaptureSettings::m_other},
}};

// The limit fields in exchange order.
struct LimitField {
    int id;
    uint32_t CaptureSettings::*field;
};
constexpr std::array<LimitField, 3> LIMIT_FIELDS = {{
    {IDC_PACKETS, &CaptureSettings::m_packets},
    {IDC_SECONDS, &CaptureSettings::m_seconds},
    {IDC_KILOBYTES, &CaptureSettings::m_kilobytes},
}};

// The adapter tree's items as lines of the dialog's tree.
class DetailTreeSink final : public TreeSink {
public:
    explicit DetailTreeSink(DetailTree& tree) : m_tree(tree) {}
    Item InsertItem(const char* text, Item parent) override
    {
        // Items are numbered from 1, so that ROOT (0) stays the top level.
        const NodeId under = parent == ROOT ? NO_NODE : static_cast<NodeId>(parent - 1);
        return static_cast<Item>(m_tree.InsertLine(text, under)) + 1;
    }

private:
    DetailTree& m_tree;
};

}  // namespace

const DialogTemplate CONFIGURE_TEMPLATE{
    CONFIGURE_DIALOG_ID, "Configure Capture", "System", 8, 303, 272, DialogFrame::Sizing, CONFIGURE_CONTROLS,
};

CConfigureDlg::~CConfigureDlg() = default;

int CConfigureDlg::DoModal(Dialog* owner)
{
    Open(owner);
    const int result = m_window->RunModal();
    Close();
    return result;
}

Dialog* CConfigureDlg::Open(Dialog* owner)
{
    m_window = Windows().NewDialog(CONFIGURE_TEMPLATE, *this, owner);
    OnInitDialog();
    return m_window.get();
}

void CConfigureDlg::Close() { m_window.reset(); }

void CConfigureDlg::OnInitDialog()
{
    Dialog& w = *m_window;
    DoDataExchange(false);
    w.SetAddress(IDC_LISTEN_ADDRESS, m_interfaceAddress);
    w.SetAddress(IDC_RULE_ADDRESS, m_interfaceAddress);
    w.SetAddress(IDC_RULE_MASK, 0xFFFFFFFFu);

    delete g_adapterInfo;
    g_adapterInfo = new adapter_info;
    DetailTree& tree = w.BeginTree(IDC_INTERFACES);
    DetailTreeSink sink(tree);
    FillAdapterTree(*g_adapterInfo, sink, TreeSink::ROOT);
    if (tree.Size() > 0) tree.SetExpanded(tree.FirstChild(NO_NODE), true);  // the first adapter, one level
    w.EndTree(IDC_INTERFACES);

    w.Focus(IDC_UDP, false);
}

void CConfigureDlg::OnCommand(int id)
{
    switch (id) {
    case IDC_UDP:
    case IDC_ICMP:
    case IDC_IGMP:
    case IDC_TCP:
    case IDC_OTHER: OnProtocolBox(id); break;
    case IDC_FILTER_ENABLE: OnEnableFilter(); break;
    case IDC_APPLY: OnApply(); break;
    case IDC_DONE: OnDone(); break;
    default: break;
    }
}

void CConfigureDlg::OnKillFocus(int id) { OnKillFocusLimit(id); }

void CConfigureDlg::OnDoubleClick(int id)
{
    if (id == IDC_INTERFACES) OnInterfaceDoubleClick();
}

bool CConfigureDlg::ReadLimit(int id, uint32_t* field)
{
    uint32_t value = 0;
    if (ReadLimitText(m_window->Text(id), &value)) {
        *field = value;
        return true;
    }
    const bool outer = !m_inHandler;
    m_inHandler = true;
    ShowMessageBox(m_window.get(), "Please enter a positive integer.", "", MessageIcon::None, MessageButtons::Ok);
    m_window->Focus(id, true);
    if (outer) m_inHandler = false;
    return false;
}

bool CConfigureDlg::DoDataExchange(bool fromControls)
{
    if (!m_window) return false;
    Dialog& w = *m_window;
    if (!fromControls) {
        for (const BoxField& box : PROTOCOL_BOXES) w.SetCheck(box.id, this->*box.field == 1);
        for (const LimitField& limit : LIMIT_FIELDS) w.SetText(limit.id, std::to_string(this->*limit.field));
        w.SetText(IDC_RULE_TEXT, m_filterText);
        w.SetCheck(IDC_FILTER_ENABLE, m_filterEnable == 1);
        w.SetSelectedIndex(IDC_RULE_ACTION, m_ruleAction);
        w.SetSelectedIndex(IDC_RULE_DIRECTION, m_ruleDirection);
        return true;
    }
    for (const BoxField& box : PROTOCOL_BOXES) this->*box.field = w.IsChecked(box.id) ? 1 : 0;
    // A field without a number stops the exchange: it and the fields after it keep their values.
    for (const LimitField& limit : LIMIT_FIELDS)
        if (!ReadLimit(limit.id, &(this->*limit.field))) return false;
    m_filterText = w.Text(IDC_RULE_TEXT);
    m_filterEnable = w.IsChecked(IDC_FILTER_ENABLE) ? 1 : 0;
    m_ruleAction = w.SelectedIndex(IDC_RULE_ACTION);
    m_ruleDirection = w.SelectedIndex(IDC_RULE_DIRECTION);
    return true;
}

void CConfigureDlg::OnProtocolBox(int id)
{
    DoDataExchange(true);
    if (!g_session) return;
    switch (id) {
    case IDC_UDP: g_session->m_keepUdp = m_udp == 1; break;
    case IDC_ICMP: g_session->m_keepIcmp = m_icmp == 1; break;
    case IDC_IGMP: g_session->m_keepIgmp = m_igmp == 1; break;
    case IDC_TCP: g_session->m_keepTcp = m_tcp == 1; break;
    case IDC_OTHER: g_session->m_keepOther = m_other == 1; break;
    default: break;
    }
}

void CConfigureDlg::OnEnableFilter()
{
    DoDataExchange(true);
    if (g_session) g_session->m_filterEnabled = m_filterEnable == 1;
}

void CConfigureDlg::OnKillFocusLimit(int id)
{
    if (m_inHandler || !m_window) return;
    const auto limit = std::find_if(LIMIT_FIELDS.begin(), LIMIT_FIELDS.end(), [id](const LimitField& f) { return f.id == id; });
    if (limit == LIMIT_FIELDS.end()) return;
    m_inHandler = true;
    DoDataExchange(true);  // on failure the field keeps its previous value, written back below
    // The session's setter clamps (taking the value as signed) and returns what it stored.
    const int typed = static_cast<int>(this->*limit->field);
    const int stored = !g_session                ? typed
                       : id == IDC_PACKETS       ? g_session->SetPacketLimit(typed)
                       : id == IDC_SECONDS       ? g_session->SetSecondsLimit(typed)
                                                 : g_session->SetKilobyteLimit(typed);
    this->*limit->field = static_cast<uint32_t>(stored);
    char shown[16];
    std::snprintf(shown, sizeof shown, "%3d", stored);
    m_window->ReplaceAllText(id, shown);
    m_inHandler = false;
}

void CConfigureDlg::OnApply()
{
    DoDataExchange(true);
    Dialog& w = *m_window;
    uint32_t masked = 0, used = 0;
    const FilterRule rule = BuildFilterRule(m_ruleAction, m_ruleDirection, w.Address(IDC_RULE_ADDRESS),
                                            w.Address(IDC_RULE_MASK), &masked, &used);
    w.SetAddress(IDC_RULE_ADDRESS, masked);
    w.SetAddress(IDC_RULE_MASK, used);
    m_filterText = FormatFilterRule(rule);
    m_appliedRule = rule;
    if (g_session) g_session->m_filter = rule;
    DoDataExchange(false);
}

void CConfigureDlg::OnInterfaceDoubleClick()
{
    DoDataExchange(true);
    Dialog& w = *m_window;
    const std::string selected = w.SelectedItemText(IDC_INTERFACES);
    const uint32_t address = ParseDottedQuad(selected.c_str());
    if (address == 0) return;

    HostAddress host;
    host.FromInteger(address, 5000);
    auto* session = new (std::nothrow) CaptureSession(host, 1024, 8096);
    if (!session || !session->m_ready) {
        delete session;
        ShowMessageBox(&w, "Could not bind to the specified address!", "Error", MessageIcon::Stop, MessageButtons::Ok);
        return;
    }
    w.SetAddress(IDC_LISTEN_ADDRESS, address);
    m_interfaceAddress = address;
    delete g_session;
    g_session = session;
    ++m_sessionsInstalled;
    // The new session follows what the dialog shows: limits, boxes, Enable and rule.
    ApplySettingsToSession(*this, *session);
}

void CConfigureDlg::OnDone()
{
    if (!DoDataExchange(true)) return;
    m_window->EndDialog(ID_OK);
}

}  // namespace kestrine
