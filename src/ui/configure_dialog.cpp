// The configuration dialog: template, exchange and handlers.
#include "ui/configure_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <array>
#include <functional>
#include <new>

#include "capture/capture_session.h"
#include "capture/host_address.h"
#include "netinfo/adapter_info.h"
#include "ui/dialog_template.h"
#include "ui/ip_address_control.h"
#include "ui/message_box.h"
#include "ui/session_globals.h"
#include "ui/tree_views.h"

namespace kestrine {

namespace {

constexpr std::array CONFIGURE_CONTROLS = {
    ControlTemplate{NO_ID, ControlKind::Label, "Listening Interface IP", 14, 11, 70, 8},
    ControlTemplate{IDC_LISTEN_ADDRESS, ControlKind::IpAddress, nullptr, 88, 8, 117, 12, STYLE_DISABLED, "Listening interface"},
    ControlTemplate{NO_ID, ControlKind::Label, "Available Interfaces (Double-click the interface IP address to select)", 14, 23, 219, 8},
    ControlTemplate{IDC_INTERFACES, ControlKind::TreeView, nullptr, 7, 34, 289, 73, 0, "Available interfaces"},
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

constexpr DialogTemplate CONFIGURE_TEMPLATE{
    CONFIGURE_DIALOG_ID, "Configure Capture", "System", 8, 303, 272, CONFIGURE_CONTROLS,
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

// Enter and Esc do nothing, and a close box, where a window manager still shows one,
// closes nothing: Done is the only way out.
class ConfigureWindow final : public QDialog {
public:
    ConfigureWindow(QWidget* parent, std::function<void(QObject*)> onFocusLost)
        : QDialog(parent), m_onFocusLost(std::move(onFocusLost))
    {
    }
    bool m_closing = false;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusOut) m_onFocusLost(watched);
        return QDialog::eventFilter(watched, event);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;
        default: QDialog::keyPressEvent(event);
        }
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (m_closing) QDialog::closeEvent(event);
        else event->ignore();
    }
    void reject() override
    {
        if (m_closing) QDialog::reject();
    }

private:
    std::function<void(QObject*)> m_onFocusLost;
};

}  // namespace

CConfigureDlg::~CConfigureDlg() = default;

int CConfigureDlg::DoModal(QWidget* parent)
{
    Open(parent);
    const int result = m_window->exec();
    Close();
    return result;
}

QDialog* CConfigureDlg::Open(QWidget* parent)
{
    auto* window = new ConfigureWindow(parent, [this](QObject* control) {
        if (auto* widget = qobject_cast<QWidget*>(control)) OnKillFocusLimit(ControlId(widget));
    });
    m_window.reset(window);
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setModal(true);
    BuildDialog(window, CONFIGURE_TEMPLATE);
    window->setFixedSize(window->size());

    for (const BoxField& box : PROTOCOL_BOXES)
        QObject::connect(ControlAs<QCheckBox>(window, box.id), &QCheckBox::clicked, window, [this, id = box.id] { OnProtocolBox(id); });
    QObject::connect(ControlAs<QCheckBox>(window, IDC_FILTER_ENABLE), &QCheckBox::clicked, window, [this] { OnEnableFilter(); });
    QObject::connect(ControlAs<QPushButton>(window, IDC_APPLY), &QPushButton::clicked, window, [this] { OnApply(); });
    QObject::connect(ControlAs<QPushButton>(window, IDC_DONE), &QPushButton::clicked, window, [this] { OnDone(); });
    for (const LimitField& limit : LIMIT_FIELDS) ControlAs<QLineEdit>(window, limit.id)->installEventFilter(window);

    auto* tree = ControlAs<QTreeView>(window, IDC_INTERFACES);
    m_adapterModel = new QStandardItemModel(window);
    tree->setModel(m_adapterModel);
    ConnectTreeHandlers(tree, TreeHandlers{nullptr, [this] { OnInterfaceDoubleClick(); }, nullptr});

    OnInitDialog();
    return window;
}

void CConfigureDlg::Close()
{
    if (!m_window) return;
    static_cast<ConfigureWindow*>(m_window.get())->m_closing = true;
    m_window->close();
    m_window.reset();
    m_adapterModel = nullptr;
}

void CConfigureDlg::OnInitDialog()
{
    QDialog* w = m_window.get();
    DoDataExchange(false);
    ControlAs<IpAddressControl>(w, IDC_LISTEN_ADDRESS)->SetAddress(m_interfaceAddress);
    ControlAs<IpAddressControl>(w, IDC_RULE_ADDRESS)->SetAddress(m_interfaceAddress);
    ControlAs<IpAddressControl>(w, IDC_RULE_MASK)->SetAddress(0xFFFFFFFFu);

    delete g_adapterInfo;
    g_adapterInfo = new adapter_info;
    ItemModelTreeSink sink(m_adapterModel);
    FillAdapterTree(*g_adapterInfo, sink, TreeSink::ROOT);
    auto* tree = ControlAs<QTreeView>(w, IDC_INTERFACES);
    if (m_adapterModel->rowCount() > 0) tree->expand(m_adapterModel->index(0, 0));

    ControlAs<QCheckBox>(w, IDC_UDP)->setFocus();
}

bool CConfigureDlg::ReadLimit(int id, uint32_t* field)
{
    auto* edit = ControlAs<QLineEdit>(m_window.get(), id);
    uint32_t value = 0;
    if (ReadLimitText(edit->text().toLatin1().toStdString(), &value)) {
        *field = value;
        return true;
    }
    const bool outer = !m_inHandler;
    m_inHandler = true;
    ShowMessageBox(m_window.get(), QStringLiteral("Please enter a positive integer."), QString(), MessageIcon::None,
                   MessageButtons::Ok);
    edit->setFocus();
    edit->selectAll();
    if (outer) m_inHandler = false;
    return false;
}

bool CConfigureDlg::DoDataExchange(bool fromControls)
{
    QDialog* w = m_window.get();
    if (!w) return false;
    auto* text = ControlAs<QPlainTextEdit>(w, IDC_RULE_TEXT);
    auto* enable = ControlAs<QCheckBox>(w, IDC_FILTER_ENABLE);
    auto* action = ControlAs<QComboBox>(w, IDC_RULE_ACTION);
    auto* direction = ControlAs<QComboBox>(w, IDC_RULE_DIRECTION);
    if (!fromControls) {
        for (const BoxField& box : PROTOCOL_BOXES) ControlAs<QCheckBox>(w, box.id)->setChecked(this->*box.field == 1);
        for (const LimitField& limit : LIMIT_FIELDS)
            ControlAs<QLineEdit>(w, limit.id)->setText(QString::number(this->*limit.field));
        text->setPlainText(QString::fromLatin1(m_filterText.c_str()));
        enable->setChecked(m_filterEnable == 1);
        action->setCurrentIndex(m_ruleAction);
        direction->setCurrentIndex(m_ruleDirection);
        return true;
    }
    for (const BoxField& box : PROTOCOL_BOXES) this->*box.field = ControlAs<QCheckBox>(w, box.id)->isChecked() ? 1 : 0;
    // A field without a number stops the exchange: it and the fields after it keep their values.
    for (const LimitField& limit : LIMIT_FIELDS)
        if (!ReadLimit(limit.id, &(this->*limit.field))) return false;
    m_filterText = text->toPlainText().toLatin1().toStdString();
    m_filterEnable = enable->isChecked() ? 1 : 0;
    m_ruleAction = action->currentIndex();
    m_ruleDirection = direction->currentIndex();
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
    m_inHandler = true;
    DoDataExchange(true);  // on failure the field keeps its previous value, written back below
    const auto limit = std::find_if(LIMIT_FIELDS.begin(), LIMIT_FIELDS.end(), [id](const LimitField& f) { return f.id == id; });
    if (limit == LIMIT_FIELDS.end()) {
        m_inHandler = false;
        return;
    }
    // The session's setter clamps (taking the value as signed) and returns what it stored.
    const int typed = static_cast<int>(this->*limit->field);
    const int stored = !g_session                ? typed
                       : id == IDC_PACKETS       ? g_session->SetPacketLimit(typed)
                       : id == IDC_SECONDS       ? g_session->SetSecondsLimit(typed)
                                                 : g_session->SetKilobyteLimit(typed);
    this->*limit->field = static_cast<uint32_t>(stored);
    auto* edit = ControlAs<QLineEdit>(m_window.get(), id);
    edit->selectAll();
    edit->insert(QString::asprintf("%3d", stored));
    m_inHandler = false;
}

void CConfigureDlg::OnApply()
{
    DoDataExchange(true);
    QDialog* w = m_window.get();
    auto* addressControl = ControlAs<IpAddressControl>(w, IDC_RULE_ADDRESS);
    auto* maskControl = ControlAs<IpAddressControl>(w, IDC_RULE_MASK);
    uint32_t masked = 0, used = 0;
    const FilterRule rule =
        BuildFilterRule(m_ruleAction, m_ruleDirection, addressControl->Address(), maskControl->Address(), &masked, &used);
    addressControl->SetAddress(masked);
    maskControl->SetAddress(used);
    m_filterText = FormatFilterRule(rule);
    m_appliedRule = rule;
    if (g_session) g_session->m_filter = rule;
    DoDataExchange(false);
}

void CConfigureDlg::OnInterfaceDoubleClick()
{
    DoDataExchange(true);
    QDialog* w = m_window.get();
    auto* tree = ControlAs<QTreeView>(w, IDC_INTERFACES);
    const QModelIndex selected = tree->currentIndex();
    if (!selected.isValid()) return;
    const uint32_t address = ParseDottedQuad(selected.data().toString().toLatin1().constData());
    if (address == 0) return;

    HostAddress host;
    host.FromInteger(address, 5000);
    auto* session = new (std::nothrow) CaptureSession(host, 1024, 8096);
    if (!session || !session->m_ready) {
        delete session;
        ShowMessageBox(w, QStringLiteral("Could not bind to the specified address!"), QStringLiteral("Error"),
                       MessageIcon::Stop, MessageButtons::Ok);
        return;
    }
    ControlAs<IpAddressControl>(w, IDC_LISTEN_ADDRESS)->SetAddress(address);
    m_interfaceAddress = address;
    delete g_session;
    g_session = session;
    // The new session follows what the dialog shows: limits, boxes, Enable and rule.
    ApplySettingsToSession(*this, *session);
}

void CConfigureDlg::OnDone()
{
    if (!DoDataExchange(true)) return;
    auto* window = static_cast<ConfigureWindow*>(m_window.get());
    window->m_closing = true;
    window->accept();
}

}  // namespace kestrine
