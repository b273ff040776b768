// The configuration dialog against the current session: exchange, limits, protocol and
// Enable boxes, rules, rebinding, and the only way out.
#include "ui/configure_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include "tests/support/netns.h"
#include "tests/ui/ui_test_util.h"
#include "ui/qt/ip_address_control.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/tree_views.h"

namespace kestrine {
namespace {

using testing::CurrentSession;
using testing::MessageBoxRecorder;

class ConfigureDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dialog.m_interfaceAddress = 0x0A000001;  // 10.0.0.1
        m_qt = AsQt(m_dialog.Open());
        m_window = m_qt->Widget();
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window));
    }
    void TearDown() override { m_dialog.Close(); }

    template <typename T>
    T* Get(int id) const
    {
        T* control = m_qt->ControlAs<T>(id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    QString Text(int id) const { return Get<QLineEdit>(id)->text(); }
    // Types into a limit field and leaves it, as the user does.
    void TypeAndLeave(int id, const QString& text)
    {
        QLineEdit* edit = Get<QLineEdit>(id);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        Get<QCheckBox>(IDC_UDP)->setFocus();
        QApplication::processEvents();
    }
    QString RuleText() const { return Get<QPlainTextEdit>(IDC_RULE_TEXT)->toPlainText(); }

    CurrentSession m_session;
    CConfigureDlg m_dialog;
    QtDialog* m_qt = nullptr;
    QDialog* m_window = nullptr;
};

TEST_F(ConfigureDialog, FirstOpeningShowsTheDefaults)
{
    EXPECT_EQ(m_window->windowTitle(), "Configure Capture");
    EXPECT_EQ(Text(IDC_PACKETS), "1000");
    EXPECT_EQ(Text(IDC_SECONDS), "3600");
    EXPECT_EQ(Text(IDC_KILOBYTES), "100");
    for (int id : {IDC_UDP, IDC_ICMP, IDC_IGMP, IDC_TCP}) EXPECT_TRUE(Get<QCheckBox>(id)->isChecked()) << id;
    EXPECT_FALSE(Get<QCheckBox>(IDC_OTHER)->isChecked());
    EXPECT_FALSE(Get<QCheckBox>(IDC_FILTER_ENABLE)->isChecked());
    EXPECT_EQ(RuleText(), "<ipfilter action=\"capture\" dir=\"both\" ip=\"0.0.0.0\" netmask=\"0.0.0.0\" />");
    EXPECT_EQ(Get<QComboBox>(IDC_RULE_ACTION)->currentText(), "Capture IP");
    EXPECT_EQ(Get<QComboBox>(IDC_RULE_DIRECTION)->currentText(), "Src or Dst Addr");
    EXPECT_EQ(Get<QComboBox>(IDC_RULE_ACTION)->count(), 4);
    EXPECT_EQ(Get<IpAddressControl>(IDC_LISTEN_ADDRESS)->Address(), 0x0A000001u);
    EXPECT_FALSE(Get<IpAddressControl>(IDC_LISTEN_ADDRESS)->isEnabled());
    EXPECT_EQ(Get<IpAddressControl>(IDC_RULE_ADDRESS)->Address(), 0x0A000001u);
    EXPECT_EQ(Get<IpAddressControl>(IDC_RULE_MASK)->Address(), 0xFFFFFFFFu);
    EXPECT_TRUE(Get<QCheckBox>(IDC_UDP)->hasFocus());
}

TEST_F(ConfigureDialog, LeavingALimitFieldClampsStoresAndShowsIt)
{
    MessageBoxRecorder boxes;
    TypeAndLeave(IDC_PACKETS, "0");
    EXPECT_EQ(Text(IDC_PACKETS), "  1");
    EXPECT_EQ(g_session->m_packetLimit, 1);
    TypeAndLeave(IDC_PACKETS, "99999");
    EXPECT_EQ(Text(IDC_PACKETS), "8096");
    EXPECT_EQ(m_dialog.m_packets, 8096u);
    TypeAndLeave(IDC_KILOBYTES, "5000");
    EXPECT_EQ(Text(IDC_KILOBYTES), "1024");
    TypeAndLeave(IDC_SECONDS, "100000");
    EXPECT_EQ(Text(IDC_SECONDS), "100000");
    EXPECT_EQ(g_session->m_secondsLimit, 100000);
    TypeAndLeave(IDC_PACKETS, "-5");
    EXPECT_EQ(Text(IDC_PACKETS), "  1");
    TypeAndLeave(IDC_PACKETS, "12abc");
    EXPECT_EQ(Text(IDC_PACKETS), " 12");
    EXPECT_EQ(g_session->m_packetLimit, 12);
    EXPECT_TRUE(boxes.Boxes().empty());

    // No number: told, and the previous value comes back.
    TypeAndLeave(IDC_SECONDS, "abc");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Please enter a positive integer.");
    EXPECT_EQ(boxes.Boxes()[0].caption, Windows().ApplicationTitle());
    EXPECT_EQ(Text(IDC_SECONDS), "100000");
    EXPECT_EQ(g_session->m_secondsLimit, 100000);
}

TEST_F(ConfigureDialog, BoxesWriteTheirSwitchesOnlyWhenClicked)
{
    // Before the OTHER box is clicked the session keeps other protocols.
    EXPECT_TRUE(g_session->m_keepOther);
    QTest::mouseClick(Get<QCheckBox>(IDC_OTHER), Qt::LeftButton);
    EXPECT_TRUE(g_session->m_keepOther);
    QTest::mouseClick(Get<QCheckBox>(IDC_OTHER), Qt::LeftButton);
    EXPECT_FALSE(g_session->m_keepOther);
    QTest::mouseClick(Get<QCheckBox>(IDC_TCP), Qt::LeftButton);
    EXPECT_FALSE(g_session->m_keepTcp);
    EXPECT_TRUE(g_session->m_keepUdp);
    EXPECT_EQ(m_dialog.m_tcp, 0);

    // Enable switches filtering; Apply does not.
    QTest::mouseClick(Get<QPushButton>(IDC_APPLY), Qt::LeftButton);
    EXPECT_FALSE(g_session->m_filterEnabled);
    QTest::mouseClick(Get<QCheckBox>(IDC_FILTER_ENABLE), Qt::LeftButton);
    EXPECT_TRUE(g_session->m_filterEnabled);
}

TEST_F(ConfigureDialog, ApplyBuildsShowsAndInstallsTheRule)
{
    Get<IpAddressControl>(IDC_RULE_ADDRESS)->SetAddress(0x0A010203);  // 10.1.2.3
    Get<IpAddressControl>(IDC_RULE_MASK)->SetAddress(0xFFFF0000);
    QTest::mouseClick(Get<QPushButton>(IDC_APPLY), Qt::LeftButton);
    EXPECT_EQ(RuleText(), "<ipfilter act=\"capture\" dir=\"both\" ip=\"10.1.2.3\" mask=\"255.255.255.255\" />");
    EXPECT_EQ(Get<IpAddressControl>(IDC_RULE_ADDRESS)->Address(), 0x0A010203u);
    EXPECT_EQ(Get<IpAddressControl>(IDC_RULE_MASK)->Address(), 0xFFFFFFFFu);

    Get<QComboBox>(IDC_RULE_ACTION)->setCurrentIndex(2);  // Capture Net
    Get<IpAddressControl>(IDC_RULE_MASK)->SetAddress(0xFFFF0000);
    QTest::mouseClick(Get<QPushButton>(IDC_APPLY), Qt::LeftButton);
    EXPECT_EQ(Get<IpAddressControl>(IDC_RULE_ADDRESS)->Address(), 0x0A010000u);

    Get<QComboBox>(IDC_RULE_ACTION)->setCurrentIndex(3);  // Ignore Net
    Get<QComboBox>(IDC_RULE_DIRECTION)->setCurrentIndex(1);
    Get<IpAddressControl>(IDC_RULE_ADDRESS)->SetAddress(0xC0A8014D);  // 192.168.1.77
    Get<IpAddressControl>(IDC_RULE_MASK)->SetAddress(0xFFFFFF00);
    QTest::mouseClick(Get<QPushButton>(IDC_APPLY), Qt::LeftButton);
    const QString second = "<ipfilter act=\"ignore\" dir=\"dst\" ip=\"192.168.1.0\" mask=\"255.255.255.0\" />";
    EXPECT_EQ(RuleText(), second);  // only the last rule stands
    EXPECT_EQ(QString::fromStdString(FormatFilterRule(g_session->m_filter)), second);
    EXPECT_EQ(QString::fromStdString(m_dialog.m_filterText), second);
}

TEST_F(ConfigureDialog, AFieldsOwnContextMenuDoesNotCountAsLeavingIt)
{
    MessageBoxRecorder boxes;
    QLineEdit* seconds = Get<QLineEdit>(IDC_SECONDS);
    seconds->setFocus();
    seconds->setText("abc");  // half typed: the user opens the menu to paste the rest
    const int limit = g_session->m_secondsLimit;
    QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(2, 2), seconds->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(seconds, &request);
    QWidget* menu = nullptr;
    for (int i = 0; i < 100 && !menu; ++i) {
        QApplication::processEvents();
        menu = QApplication::activePopupWidget();
    }
    ASSERT_NE(menu, nullptr);
    menu->close();
    QApplication::processEvents();
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(seconds->text(), "abc");
    EXPECT_EQ(g_session->m_secondsLimit, limit);

    // Leaving it for good still reads it.
    Get<QCheckBox>(IDC_UDP)->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Please enter a positive integer.");
}

TEST_F(ConfigureDialog, GroupTitlesSitOnTheirFramesLabelsStayOnOneLineAndTheBorderSizes)
{
    // A group box takes its template rectangle; the controls inside lie below its top line.
    QWidget* addresses = nullptr;
    for (QWidget* child : m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->accessibleName() == "IP Addresses") addresses = child;
    ASSERT_NE(addresses, nullptr);
    const PixelRect frame = MapDialogRect(PixelRect{57, 143, 235, 102}, m_qt->BaseUnits());
    EXPECT_EQ(addresses->geometry(), QRect(frame.x, frame.y, frame.width, frame.height));
    const int topLine = addresses->y() + addresses->fontMetrics().height() / 2;
    EXPECT_GT(Get<QPushButton>(IDC_APPLY)->y(), topLine);
    EXPECT_GT(Get<QCheckBox>(IDC_FILTER_ENABLE)->y(), topLine);

    // Every label shows its text on one line, right-aligned ones still ending where they did.
    for (QLabel* label : m_window->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->text().isEmpty()) continue;
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << label->text().toStdString();
    }
    QLabel* mask = nullptr;
    for (QLabel* label : m_window->findChildren<QLabel*>()) mask = label->text() == "Net Mask" ? label : mask;
    ASSERT_NE(mask, nullptr);
    const PixelRect maskUnits = MapDialogRect(PixelRect{71, 184, 22, 17}, m_qt->BaseUnits());
    EXPECT_EQ(mask->geometry().right() + 1, maskUnits.x + maskUnits.width);

    // The sizing border: the dialog grows, its controls keep their places.
    const QRect done = Get<QPushButton>(IDC_DONE)->geometry();
    m_window->resize(m_window->width() + 120, m_window->height() + 80);
    QApplication::processEvents();
    EXPECT_GE(m_window->size().width(), MapDialogRect(PixelRect{0, 0, 303, 272}, m_qt->BaseUnits()).width + 120);
    EXPECT_EQ(Get<QPushButton>(IDC_DONE)->geometry(), done);
}

TEST_F(ConfigureDialog, DoneIsTheOnlyWayOut)
{
    MessageBoxRecorder boxes;
    QTest::keyClick(m_window, Qt::Key_Escape);
    QTest::keyClick(m_window, Qt::Key_Return);
    m_window->close();
    QApplication::processEvents();
    EXPECT_TRUE(m_window->isVisible());

    // It cannot be shrunk until Done falls out of it: its template is its least size.
    const PixelRect templateSize = MapDialogRect(PixelRect{0, 0, CONFIGURE_TEMPLATE.width, CONFIGURE_TEMPLATE.height}, m_qt->BaseUnits());
    EXPECT_EQ(m_window->minimumSize(), QSize(templateSize.width, templateSize.height));
    m_window->resize(100, 100);
    EXPECT_TRUE(m_window->rect().contains(Get<QPushButton>(IDC_DONE)->geometry()));

    Get<QLineEdit>(IDC_KILOBYTES)->setText("abc");  // typed without leaving the field
    m_dialog.OnDone();
    EXPECT_TRUE(m_window->isVisible());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(Get<QLineEdit>(IDC_KILOBYTES)->hasFocus());
    EXPECT_EQ(Get<QLineEdit>(IDC_KILOBYTES)->selectedText(), "abc");

    Get<QLineEdit>(IDC_KILOBYTES)->setText("50");
    QTest::mouseClick(Get<QPushButton>(IDC_DONE), Qt::LeftButton);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), ID_OK);
    EXPECT_EQ(m_dialog.m_kilobytes, 50u);
}

// Puts a line into the adapter tree, selects it and double-clicks it.
void DoubleClickLine(QtDialog* dialog, const QString& text)
{
    auto* tree = dialog->ControlAs<QTreeView>(IDC_INTERFACES);
    auto* model = static_cast<DetailTreeModel*>(tree->model());
    // The tree as the dialog filled it, with the line appended at the top level.
    DetailTree lines = model->Tree();
    lines.InsertLine(text.toStdString(), NO_NODE);
    model->BeginRebuild();
    model->Tree() = lines;
    model->EndRebuild();
    const QModelIndex item = model->index(model->rowCount() - 1, 0);
    tree->setCurrentIndex(item);
    tree->scrollTo(item);
    const QPoint at = tree->visualRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);  // the first click selects
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

TEST_F(ConfigureDialog, LinesWithoutAnAddressAndUnboundAddressesChangeNothing)
{
    MessageBoxRecorder boxes;
    CaptureSession* before = g_session;
    DoubleClickLine(m_qt, "IP Addresses");
    DoubleClickLine(m_qt, "DHCP Server: 198.18.0.1");
    EXPECT_TRUE(boxes.Boxes().empty());
    DoubleClickLine(m_qt, "198.18.77.1 - Mask: 255.255.255.0");  // no interface holds it
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Could not bind to the specified address!");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Error");
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Stop);
    EXPECT_EQ(g_session, before);
    EXPECT_EQ(m_dialog.m_interfaceAddress, 0x0A000001u);
    EXPECT_EQ(Get<IpAddressControl>(IDC_LISTEN_ADDRESS)->Address(), 0x0A000001u);
}

TEST_F(ConfigureDialog, ARebindingKeepsWhatTheDialogShows)
{
    if (!testnet::EnterPrivateNamespace()) GTEST_SKIP() << testnet::WhyNot();
    MessageBoxRecorder boxes;
    QTest::mouseClick(Get<QCheckBox>(IDC_FILTER_ENABLE), Qt::LeftButton);
    Get<IpAddressControl>(IDC_RULE_ADDRESS)->SetAddress(0x7F000001);
    QTest::mouseClick(Get<QPushButton>(IDC_APPLY), Qt::LeftButton);
    TypeAndLeave(IDC_PACKETS, "50");
    CaptureSession* before = g_session;

    DoubleClickLine(m_qt, "127.0.0.1 - Mask: 255.0.0.0");
    EXPECT_TRUE(boxes.Boxes().empty());
    ASSERT_NE(g_session, before);
    EXPECT_TRUE(g_session->m_ready);
    EXPECT_EQ(m_dialog.m_interfaceAddress, 0x7F000001u);
    EXPECT_EQ(Get<IpAddressControl>(IDC_LISTEN_ADDRESS)->Address(), 0x7F000001u);
    EXPECT_EQ(g_session->m_packetLimit, 50);
    EXPECT_EQ(g_session->m_kilobyteLimit, 100);
    EXPECT_EQ(g_session->m_secondsLimit, 3600);
    EXPECT_FALSE(g_session->m_keepOther);  // the unchecked OTHER box holds for the new session
    EXPECT_TRUE(g_session->m_keepUdp);
    EXPECT_TRUE(g_session->m_filterEnabled);
    EXPECT_EQ(FormatFilterRule(g_session->m_filter), m_dialog.m_filterText);
}

}  // namespace
}  // namespace kestrine
