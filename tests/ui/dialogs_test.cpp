// The dialog facilities, the About box with the first-run check, and the detail window.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QFontInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "decode/section_states.h"
#include "tests/ui/ui_test_util.h"
#include "ui/about_box.h"
#include "ui/detail_window.h"
#include "ui/main_window.h"
#include "ui/qt/fonts.h"
#include "ui/qt/ip_address_control.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/system_menu.h"
#include "ui/qt/tree_views.h"
#include "ui/resource_ids.h"

namespace kestrine {
namespace {

TEST(DialogUnits, MapToPixelsFromTheFontsBaseUnits)
{
    const DialogBaseUnits base{6, 13};
    // x · 6 / 4 and y · 13 / 8, rounded to the nearest pixel (halves up).
    EXPECT_EQ(MapDialogRect(PixelRect{7, 7, 331, 141}, base), (PixelRect{11, 11, 497, 229}));
    EXPECT_EQ(MapDialogRect(PixelRect{0, 0, 4, 8}, base), (PixelRect{0, 0, 6, 13}));
    EXPECT_EQ(MapDialogRect(PixelRect{0, 0, 345, 217}, base), (PixelRect{0, 0, 518, 353}));

    const QFont font = TemplateFont("MS Sans Serif", 8);
    const QFontMetrics metrics(font);
    const DialogBaseUnits units = BaseUnitsOf(font);
    EXPECT_EQ(units.y, metrics.height());
    const double average = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    EXPECT_NEAR(units.x, average, 0.5 + 1e-9);
}

QRect Pixels(const PixelRect& r) { return QRect(r.x, r.y, r.width, r.height); }

TEST(DialogTemplates, ControlsCarryTheirNumbersPlacesAndNames)
{
    static constexpr std::array controls = {
        ControlTemplate{NO_ID, ControlKind::Label, "Listening Interface", 10, 4, 76, 10},
        ControlTemplate{1001, ControlKind::IpAddress, nullptr, 10, 15, 117, 13, STYLE_DISABLED, "Listening interface"},
        ControlTemplate{1012, ControlKind::Button, "&Begin Capture", 133, 15, 59, 14},
        ControlTemplate{1014, ControlKind::TreeView, nullptr, 9, 35, 302, 113, 0, "Packet list"},
    };
    static constexpr DialogTemplate dialogTemplate{102, "Test", "Fixedsys", 8, 318, 268, DialogFrame::Main, controls};
    testing::NoHandler handler;
    QtDialog dialog(dialogTemplate, handler, nullptr);
    const DialogBaseUnits base = dialog.BaseUnits();
    EXPECT_EQ(dialog.Widget()->size(), Pixels(MapDialogRect(PixelRect{0, 0, 318, 268}, base)).size());

    auto* address = dialog.ControlAs<IpAddressControl>(1001);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(address->geometry(), Pixels(MapDialogRect(PixelRect{10, 15, 117, 13}, base)));
    EXPECT_FALSE(address->isEnabled());
    EXPECT_EQ(address->accessibleName(), "Listening interface");
    EXPECT_EQ(address->property(CONTROL_ID_PROPERTY).toInt(), 1001);

    auto* begin = dialog.ControlAs<QPushButton>(1012);
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->accessibleName(), "Begin Capture");
    EXPECT_EQ(dialog.ControlAs<QTreeView>(1014)->accessibleName(), "Packet list");
    EXPECT_EQ(dialog.ControlAs<QPushButton>(1014), nullptr);  // wrong kind
    EXPECT_EQ(dialog.Control(4242), nullptr);

    // Every control can be reached by name, labels by their text.
    for (QWidget* child : dialog.Widget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_FALSE(child->accessibleName().isEmpty()) << child->metaObject()->className();
}

TEST(DialogTemplates, FixedPitchFacesGiveAFixedPitchFont)
{
    for (const char* face : {"Fixedsys", "Courier New"}) {
        const QFont font = TemplateFont(face, 8);
        EXPECT_TRUE(QFontInfo(font).fixedPitch()) << face;
        const QFontMetrics metrics(font);
        EXPECT_EQ(metrics.horizontalAdvance('i'), metrics.horizontalAdvance('W')) << face;
        EXPECT_EQ(font.pointSize(), 8);
    }
}

// Closes the next modal dialog as soon as it runs, with Esc.
void CloseNextModal(int* opened)
{
    QTimer::singleShot(0, [opened] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            CloseNextModal(opened);
            return;
        }
        ++*opened;
        QTest::keyClick(modal, Qt::Key_Escape);
    });
}

TEST(AboutBox, ShowsTheLicenceAndClosesWithTheCancelResult)
{
    AboutBox about;
    QtDialog& box = *AsQt(about.Window());
    EXPECT_TRUE(box.Widget()->windowTitle().startsWith("About Kestrine"));
    auto* text = box.ControlAs<QTextEdit>(ABOUT_TEXT_ID);
    ASSERT_NE(text, nullptr);
    const QString shown = text->toPlainText();
    EXPECT_TRUE(shown.contains("Kestrine"));
    EXPECT_FALSE(shown.contains("\\rtf"));
    EXPECT_FALSE(shown.contains("fonttbl"));
    EXPECT_FALSE(text->isReadOnly());  // the user may type; it is dropped with the box
    EXPECT_EQ(about.m_text.rfind("{\\rtf1", 0), 0u);

    // A clause hangs: its text after the tab starts where its wrapped lines start, and the
    // space after each paragraph is kept.
    QTextBlock clause = text->document()->begin();
    while (clause.isValid() && !clause.text().startsWith("(b)\t")) clause = clause.next();
    ASSERT_TRUE(clause.isValid());
    box.Widget()->show();
    QApplication::processEvents();  // the edit lays its document out at its width
    const QTextLayout* layout = clause.layout();
    ASSERT_GE(layout->lineCount(), 2);
    EXPECT_LT(layout->lineAt(0).x(), layout->lineAt(1).x());
    EXPECT_NEAR(layout->lineAt(0).cursorToX(clause.text().indexOf('\t') + 1), layout->lineAt(1).x(), 0.5);
    EXPECT_DOUBLE_EQ(clause.blockFormat().bottomMargin(), 120 * text->logicalDpiX() / 1440.0);  // \sa120

    int icons = 0;
    for (QLabel* label : box.Widget()->findChildren<QLabel*>())
        if (!label->pixmap().isNull()) ++icons;
    EXPECT_EQ(icons, 2);
    bool product = false;
    for (QLabel* label : box.Widget()->findChildren<QLabel*>()) product = product || label->text() == "Kestrine V1.2";
    EXPECT_TRUE(product);

    // OK (carrying the cancel identifier), Enter, Esc and the close box: the cancel result.
    auto* ok = box.ControlAs<QPushButton>(ABOUT_OK_ID);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, ok, &QPushButton::click);
    EXPECT_EQ(about.DoModal(), ID_CANCEL);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer::singleShot(0, [&] { QTest::keyClick(box.Widget(), key); });
        EXPECT_EQ(about.DoModal(), ID_CANCEL) << key;
    }
    QTimer::singleShot(0, [&] { box.Widget()->close(); });
    EXPECT_EQ(about.DoModal(), ID_CANCEL);
}

class FirstRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrine-ui-XXXXXX";
        m_folder = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_folder);
    }
    std::string Store() const
    {
        std::ifstream in(m_folder + "/Harvoll/Kestrine");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string m_folder;
};

TEST_F(FirstRun, ShowsTheAboutBoxOnceAfterWritingTheValue)
{
    int opened = 0;
    std::string storeWhileOpen;
    QTimer::singleShot(0, [&] {
        // Runs inside the box's modal loop: the value is already stored.
        storeWhileOpen = Store();
    });
    CloseNextModal(&opened);
    CheckFirstRun();
    EXPECT_EQ(opened, 1);
    EXPECT_NE(storeWhileOpen.find("\"FirstRun\"=dword:00000001"), std::string::npos) << storeWhileOpen;

    CheckFirstRun();  // the second start shows nothing (a box would block the test here)
    EXPECT_EQ(opened, 1);
}

TEST(SystemMenu, StandardEntriesThenAppendedOnesReachTheHandler)
{
    QWidget window;
    window.show();
    std::vector<int> commands;
    bool handles = true;
    SystemMenu menu(&window, [&](int command) {
        commands.push_back(command);
        return handles;
    });
    menu.AppendSeparator();
    menu.AppendEntry(16, KESTRINE_ABOUT_MENU_TEXT);
    QStringList texts;
    for (QAction* action : menu.Menu()->actions()) texts << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(texts, QStringList({"Mi&nimize", "Ma&ximize", "&Close", "-", "&About kestrine..."}));

    menu.Menu()->actions().last()->trigger();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0] & 0xFFF0, 16);

    // A right click on the free area and the keyboard's menu request open it.
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), window.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&window, &click);
    EXPECT_TRUE(menu.Menu()->isVisible());
    menu.Menu()->hide();
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), window.mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(&window, &key);
    EXPECT_TRUE(menu.Menu()->isVisible());
    menu.Menu()->hide();

    // What the handler leaves gets the default processing.
    handles = false;
    menu.Run(SC_CLOSE_COMMAND);
    EXPECT_EQ(commands.back(), SC_CLOSE_COMMAND);
    EXPECT_FALSE(window.isVisible());
}

TEST(MessageBoxes, AnswerThroughTheResponderWithTheApplicationTitle)
{
    std::vector<MessageBoxRequest> seen;
    SetMessageBoxResponder([&](const MessageBoxRequest& request) {
        seen.push_back(request);
        return MESSAGE_CANCEL;
    });
    EXPECT_EQ(ShowMessageBox(nullptr, "Really Quit?", "Kestrine", MessageIcon::None, MessageButtons::OkCancel),
              MESSAGE_CANCEL);
    EXPECT_EQ(ShowMessageBox(nullptr, "x", "", MessageIcon::Stop, MessageButtons::Ok), MESSAGE_CANCEL);
    SetMessageBoxResponder(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, "Kestrine");
    EXPECT_EQ(seen[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(seen[1].caption, "ui_tests");  // the executable's name
    EXPECT_EQ(seen[1].icon, MessageIcon::Stop);
}

TEST(DetailWindowPlacement, CascadesAndWraps)
{
    ScreenPoint p{50, 30};
    std::vector<ScreenPoint> opened;
    for (int n = 1; n <= 14; ++n) {
        opened.push_back(p);
        p = NextDetailPosition(p);
    }
    EXPECT_EQ(opened[0], (ScreenPoint{50, 30}));
    EXPECT_EQ(opened[9], (ScreenPoint{500, 300}));
    EXPECT_EQ(opened[10], (ScreenPoint{50, 330}));
    EXPECT_EQ(opened[13], (ScreenPoint{200, 30}));
}

std::vector<uint8_t> UdpPacket()
{
    return {0x45, 0x00, 0x00, 0x24, 0x00, 0x01, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00, 0xc0, 0x00, 0x02, 0x01, 0xc6, 0x33,
            0x64, 0x07, 0x04, 0x01, 0x00, 0x35, 0x00, 0x10, 0x00, 0x00, 'h',  'e',  'l',  'l',  'o',  '!',  '!',  '!'};
}

TEST(DetailWindow, OpensFilledPlacedAndIsFreedWhenClosed)
{
    ResetSectionStates();
    testing::NoHandler handler;
    QtDialog owner(MAIN_TEMPLATE, handler, nullptr);
    owner.Widget()->show();
    const auto bytes = UdpPacket();
    const PacketRecord record{bytes.data(), static_cast<int32_t>(bytes.size()), 1.0f};

    g_nextDetailPosition = ScreenPoint{50, 30};
    const int before = DetailWindow::OpenCount();
    QtDialog& first = *AsQt(OpenDetailWindow(&owner, record, 7)->Window());
    QtDialog& second = *AsQt(OpenDetailWindow(&owner, record, 7)->Window());
    EXPECT_EQ(DetailWindow::OpenCount(), before + 2);
    QPointer<QDialog> firstWidget = first.Widget();
    QPointer<QDialog> secondWidget = second.Widget();
    EXPECT_EQ(first.Widget()->pos(), QPoint(50, 30));
    EXPECT_EQ(second.Widget()->pos(), QPoint(100, 60));
    EXPECT_TRUE(first.Widget()->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(first.Widget()->parentWidget(), owner.Widget());
    EXPECT_EQ(first.Widget()->windowTitle(),
              "Detail:  Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information");

    // One top-level line, the summary, expanded, with the sections beneath it.
    QTreeView* tree = first.ControlAs<QTreeView>(DETAIL_TREE_ID);
    QAbstractItemModel* model = tree->model();
    ASSERT_EQ(model->rowCount(), 1);
    const QModelIndex top = model->index(0, 0);
    EXPECT_TRUE(top.data().toString().startsWith("    7      1.000000    36  UDP"));
    EXPECT_TRUE(tree->isExpanded(top));
    QStringList sections;
    for (int r = 0; r < model->rowCount(top); ++r) sections << model->index(r, 0, top).data().toString();
    EXPECT_EQ(sections, QStringList({"Ip Header", "UDP Header", "Data: 8 bytes"}));
    EXPECT_EQ(model->index(0, 0, top).data(ITEM_DATA_ROLE).toULongLong(), IpHeaderSection);
    EXPECT_TRUE(tree->isExpanded(model->index(2, 0, top)));   // payload starts expanded
    EXPECT_FALSE(tree->isExpanded(model->index(0, 0, top)));  // headers start collapsed

    // The tree fills the client area but the last pixel column and row; a minimum holds.
    first.Widget()->resize(400, 200);
    QApplication::processEvents();
    EXPECT_EQ(tree->geometry(), QRect(0, 0, 399, 199));
    first.Widget()->resize(10, 10);
    EXPECT_EQ(first.Widget()->frameGeometry().size(), QSize(DETAIL_MIN_WIDTH, DETAIL_MIN_HEIGHT));

    // Closed by the close box or by Esc: destroyed at once, not merely hidden.
    first.Widget()->close();
    QTest::keyClick(second.Widget(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(firstWidget.isNull());
    EXPECT_TRUE(secondWidget.isNull());
    EXPECT_EQ(DetailWindow::OpenCount(), before);

    // Windows still open go with their owner.
    OpenDetailWindow(&owner, record, 1);
    OpenDetailWindow(&owner, record, 2);
    EXPECT_EQ(DetailWindow::OpenCount(), before + 2);
    delete owner.Widget();
    EXPECT_EQ(DetailWindow::OpenCount(), before);
}

TEST(DetailWindow, KeepsItsTextWhenTheCaptureBufferChanges)
{
    auto bytes = UdpPacket();
    const PacketRecord record{bytes.data(), static_cast<int32_t>(bytes.size()), 0.0f};
    QtDialog& window = *AsQt(OpenDetailWindow(nullptr, record, 0)->Window());
    QTreeView* tree = window.ControlAs<QTreeView>(DETAIL_TREE_ID);
    const QString before = tree->model()->index(0, 0).data().toString();
    std::fill(bytes.begin(), bytes.end(), 0);  // as the next capture's Reset does
    EXPECT_EQ(tree->model()->index(0, 0).data().toString(), before);
    window.Destroy();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace kestrine
