// The IP address control driven as a user would: keys go to whichever field has the focus,
// in a shown and active window between two other edit boxes.
#include "ui/qt/ip_address_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <ostream>
#include <vector>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace kestrine {
namespace {

class IpAddressFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&m_window);
        m_before = new QLineEdit(&m_window);
        m_control = new IpAddressControl(&m_window);
        m_after = new QLineEdit(&m_window);
        layout->addWidget(m_before);
        layout->addWidget(m_control);
        layout->addWidget(m_after);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        m_fields = m_control->findChildren<QLineEdit*>();
        ASSERT_EQ(m_fields.size(), 4);
    }

    // Each key to the focused widget, as the keyboard would send it.
    static void Type(const char* text)
    {
        for (; *text; ++text) QTest::keyClick(QApplication::focusWidget(), *text);
    }
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }

    std::vector<QString> Texts() const
    {
        std::vector<QString> texts;
        for (const QLineEdit* field : m_fields) texts.push_back(field->text());
        return texts;
    }

    // Index of the focused field, -1 when none has the focus.
    int FocusedField() const { return static_cast<int>(m_fields.indexOf(QApplication::focusWidget())); }

    // Focus in the first field, as tabbing into the control gives it.
    void Enter()
    {
        m_before->setFocus();
        Press(Qt::Key_Tab);
        ASSERT_EQ(FocusedField(), 0);
    }

    QWidget m_window;
    QLineEdit* m_before = nullptr;
    IpAddressControl* m_control = nullptr;
    QLineEdit* m_after = nullptr;
    QList<QLineEdit*> m_fields;
};

using IpAddressValue = IpAddressFixture;
using IpAddressTyping = IpAddressFixture;
using IpAddressNavigation = IpAddressFixture;
using IpAddressState = IpAddressFixture;
using IpAddressLayout = IpAddressFixture;

TEST_F(IpAddressValue, BlankReadsZero)
{
    EXPECT_TRUE(m_control->IsBlank());
    EXPECT_EQ(m_control->Address(), 0u);
    EXPECT_EQ(Texts(), (std::vector<QString>{"", "", "", ""}));
}

TEST_F(IpAddressValue, SetAddressShowsOctetsFirstFromTheHighByte)
{
    const struct {
        uint32_t address;
        std::vector<QString> texts;
    } CASES[] = {
        {0x00000000u, {"0", "0", "0", "0"}},
        {0xFFFFFFFFu, {"255", "255", "255", "255"}},
        {0xC0A80114u, {"192", "168", "1", "20"}},
        {0x0A000001u, {"10", "0", "0", "1"}},
    };
    for (const auto& c : CASES) {
        SCOPED_TRACE(c.address);
        m_control->SetAddress(c.address);
        EXPECT_EQ(Texts(), c.texts);
        EXPECT_EQ(m_control->Address(), c.address);
        EXPECT_FALSE(m_control->IsBlank());  // 0.0.0.0 shows zeros, not blanks
    }
}

TEST_F(IpAddressValue, ClearBlanksEveryField)
{
    m_control->SetAddress(0x01020304u);
    m_control->ClearAddress();
    EXPECT_TRUE(m_control->IsBlank());
    EXPECT_EQ(m_control->Address(), 0u);
    EXPECT_EQ(Texts(), (std::vector<QString>{"", "", "", ""}));
}

TEST_F(IpAddressValue, BlankFieldsAmongFilledOnesReadZero)
{
    Enter();
    Type("7..");  // the second '.' meets an empty field and stays there
    EXPECT_EQ(FocusedField(), 1);
    Press(Qt::Key_Right);  // an empty field's caret is at its end too
    Type("9");
    EXPECT_EQ(Texts(), (std::vector<QString>{"7", "", "9", ""}));
    EXPECT_FALSE(m_control->IsBlank());
    EXPECT_EQ(m_control->Address(), 0x07000900u);
}

TEST_F(IpAddressTyping, DottedAddressAfterAutoAdvance)
{
    Enter();
    Type("192.168.1.20");  // the dots after "192" and "168" find empty fields and do nothing
    EXPECT_EQ(Texts(), (std::vector<QString>{"192", "168", "1", "20"}));
    EXPECT_EQ(m_control->Address(), 0xC0A80114u);
}

TEST_F(IpAddressTyping, DottedAddressOverAFilledControl)
{
    // The field a full one moves on to still holds its octet: the dot typed next must not
    // move on again.
    const struct {
        const char* typed;
        uint32_t address;
    } CASES[] = {{"127.0.0.2", 0x7F000002u}, {"192.168.1.77", 0xC0A8014Du}, {"10.200.30.4", 0x0AC81E04u}};
    for (const auto& c : CASES) {
        SCOPED_TRACE(c.typed);
        m_control->SetAddress(0xC6120001u);  // 198.18.0.1
        Enter();  // the first field selected, as tabbing in gives it
        Type(c.typed);
        EXPECT_EQ(m_control->Address(), c.address);
    }
}

TEST_F(IpAddressTyping, DotOrSpaceMovesOnAndSelectsTheNextField)
{
    m_control->SetAddress(0x01020304u);
    Enter();  // tabbing in selects the first field, so typing replaces it
    Type("10.");
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(m_fields[1]->selectedText(), "2");
    Type("7 ");
    EXPECT_EQ(FocusedField(), 2);
    EXPECT_EQ(m_fields[2]->selectedText(), "3");
    Type("5.6");  // nowhere to go from the last field: the dot is dropped
    EXPECT_EQ(Texts(), (std::vector<QString>{"10", "7", "5", "6"}));
    EXPECT_EQ(m_control->Address(), 0x0A070506u);
}

TEST_F(IpAddressTyping, OnlyDigitsAreAccepted)
{
    Enter();
    Type("a1-b2+");
    EXPECT_EQ(m_fields[0]->text(), "12");
    EXPECT_EQ(FocusedField(), 0);
}

TEST_F(IpAddressTyping, ThreeDigitGroupsAdvanceByThemselves)
{
    Enter();
    Type("001002003004");
    // Left fields lose their leading zeros; the last one, still being edited, keeps them.
    EXPECT_EQ(Texts(), (std::vector<QString>{"1", "2", "3", "004"}));
    EXPECT_EQ(FocusedField(), 3);
    EXPECT_EQ(m_control->Address(), 0x01020304u);
    Type("5");  // a full last field takes no more
    EXPECT_EQ(m_fields[3]->text(), "004");
    m_after->setFocus();
    EXPECT_EQ(m_fields[3]->text(), "4");
    EXPECT_EQ(m_control->Address(), 0x01020304u);
}

TEST_F(IpAddressTyping, LeadingZerosStayUntilTheFieldIsLeft)
{
    Enter();
    Type("07");
    EXPECT_EQ(m_fields[0]->text(), "07");
    EXPECT_EQ(m_control->Address(), 0x07000000u);
    Type(".");
    EXPECT_EQ(m_fields[0]->text(), "7");
    Type("00");
    Press(Qt::Key_Left);
    Press(Qt::Key_Left);
    Press(Qt::Key_Left);  // at the start of "00": crosses back
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_EQ(m_fields[1]->text(), "0");
}

TEST_F(IpAddressTyping, ValuesAboveTheOctetRangeClampTo255)
{
    Enter();
    Type("300");
    EXPECT_EQ(m_fields[0]->text(), "255");
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(m_control->Address(), 0xFF000000u);  // the fields not typed in are blank

    Press(Qt::Key_End);
    Type("999");  // in the last field: clamped, no advance
    EXPECT_EQ(m_fields[3]->text(), "255");
    EXPECT_EQ(FocusedField(), 3);
    EXPECT_EQ(m_control->Address(), 0xFF0000FFu);

    // A digit put in front completes the field too: clamped though the caret is not at its end.
    Press(Qt::Key_Home);
    Press(Qt::Key_Delete);
    Press(Qt::Key_Delete);
    Press(Qt::Key_Delete);
    Type("26");
    Press(Qt::Key_Home);
    Type("9");
    EXPECT_EQ(m_fields[0]->text(), "255");
    EXPECT_EQ(FocusedField(), 0);
}

TEST_F(IpAddressNavigation, BackspaceCrossesEmptyFieldsBackwards)
{
    m_control->SetAddress(0x0A141E28u);  // 10.20.30.40
    Enter();
    Press(Qt::Key_End);
    EXPECT_EQ(FocusedField(), 3);
    Press(Qt::Key_Backspace);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(m_fields[3]->text(), "");
    EXPECT_EQ(FocusedField(), 3);
    Press(Qt::Key_Backspace);  // empty: to the end of the previous field, nothing deleted
    EXPECT_EQ(FocusedField(), 2);
    EXPECT_EQ(m_fields[2]->text(), "30");
    EXPECT_EQ(m_fields[2]->cursorPosition(), 2);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(Texts(), (std::vector<QString>{"10", "20", "3", ""}));
    EXPECT_EQ(m_control->Address(), 0x0A140300u);

    Press(Qt::Key_Home);
    Press(Qt::Key_Delete);
    Press(Qt::Key_Delete);
    Press(Qt::Key_Backspace);  // an empty first field has nowhere to go
    EXPECT_EQ(FocusedField(), 0);
}

TEST_F(IpAddressNavigation, ArrowsCrossAtTheFieldEdges)
{
    m_control->SetAddress(0x0A141E28u);
    Enter();
    Press(Qt::Key_Home);
    Press(Qt::Key_Left);  // the first field's start: stays
    EXPECT_EQ(FocusedField(), 0);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 0);
    Press(Qt::Key_Right);
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 1);
    EXPECT_EQ(m_fields[1]->cursorPosition(), 0);
    Press(Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_EQ(m_fields[0]->cursorPosition(), 2);

    // A selection is collapsed first, as in any line edit; Shift extends it within the field.
    m_fields[0]->selectAll();
    Press(Qt::Key_Right);
    EXPECT_EQ(FocusedField(), 0);
    Press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(FocusedField(), 0);
    Press(Qt::Key_Right);
    m_fields[1]->setSelection(2, -2);  // caret at the start, text selected
    Press(Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 1);
    ASSERT_EQ(m_fields[1]->cursorPosition(), 0);
    Press(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(FocusedField(), 1);
    Press(Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 0);
}

TEST_F(IpAddressNavigation, HomeAndEndReachTheOuterFields)
{
    m_control->SetAddress(0x0A141E28u);
    Enter();
    Press(Qt::Key_End);
    EXPECT_EQ(FocusedField(), 3);
    EXPECT_EQ(m_fields[3]->cursorPosition(), 2);
    Press(Qt::Key_Left);
    Press(Qt::Key_Left);
    Press(Qt::Key_Left);
    EXPECT_EQ(FocusedField(), 2);
    Press(Qt::Key_Home);
    EXPECT_EQ(FocusedField(), 0);
    EXPECT_EQ(m_fields[0]->cursorPosition(), 0);
}

TEST_F(IpAddressNavigation, OneTabStopEnteredAtTheFirstField)
{
    m_control->setFocus();
    EXPECT_EQ(FocusedField(), 0);  // the focus proxy
    m_before->setFocus();
    Press(Qt::Key_Tab);
    EXPECT_EQ(FocusedField(), 0);
    Press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_after);
    Press(Qt::Key_Backtab);
    EXPECT_EQ(FocusedField(), 0);

    Type("1.2.");
    EXPECT_EQ(FocusedField(), 2);
    Press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_after);
    m_fields[2]->setFocus();
    Press(Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), m_before);
}

TEST_F(IpAddressState, DisabledControlKeepsShowingItsAddress)
{
    m_control->SetAddress(0xC0A80114u);
    m_control->setEnabled(false);
    EXPECT_EQ(m_control->Address(), 0xC0A80114u);
    EXPECT_EQ(Texts(), (std::vector<QString>{"192", "168", "1", "20"}));
    for (const QLineEdit* field : m_fields) {
        EXPECT_FALSE(field->isEnabled());
        EXPECT_TRUE(field->isVisible());
        EXPECT_NE(field->palette().color(QPalette::Disabled, QPalette::Text),
                  m_control->palette().color(QPalette::Disabled, QPalette::Base));
    }

    QSignalSpy changed(m_control, &IpAddressControl::AddressChanged);
    QTest::keyClick(m_fields[3], '9');
    EXPECT_EQ(m_fields[3]->text(), "20");
    m_control->setFocus();
    EXPECT_EQ(FocusedField(), -1);
    EXPECT_EQ(changed.count(), 0);

    m_control->setEnabled(true);
    for (const QLineEdit* field : m_fields) EXPECT_TRUE(field->isEnabled());
}

TEST_F(IpAddressState, AddressChangedOnUserEditsOnly)
{
    QSignalSpy changed(m_control, &IpAddressControl::AddressChanged);
    m_control->SetAddress(0x01020304u);
    m_control->ClearAddress();
    EXPECT_EQ(changed.count(), 0);

    // Each emission sees the value as it is after the edit, clamping included.
    std::vector<uint32_t> seen;
    QObject::connect(m_control, &IpAddressControl::AddressChanged, m_control,
                     [&] { seen.push_back(m_control->Address()); });
    Enter();
    Type("300");
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x03000000u, 0x1E000000u, 0xFF000000u}));

    seen.clear();
    Type(".");                  // an empty field: no move, no edit
    Press(Qt::Key_Backspace);   // a move, no edit
    Press(Qt::Key_Backspace);   // an edit
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x19000000u}));
    EXPECT_EQ(changed.count(), 4);
}

TEST_F(IpAddressState, FieldsAreNamedAfterTheControl)
{
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m_fields[i]->accessibleName(), QStringLiteral("Octet %1").arg(i + 1));
    m_control->SetAccessibleBaseName("Interface address");
    EXPECT_EQ(m_control->accessibleName(), "Interface address");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m_fields[i]->accessibleName(), QStringLiteral("Interface address, octet %1").arg(i + 1));
    m_control->SetAccessibleBaseName(QString());
    EXPECT_EQ(m_fields[3]->accessibleName(), "Octet 4");
}

TEST_F(IpAddressLayout, FitsTheLongestAddressAsOneLineEdit)
{
    for (const int pointSize : {0, 20}) {
        SCOPED_TRACE(pointSize);
        if (pointSize > 0) {
            QFont font = m_control->font();
            font.setPointSize(pointSize);
            m_control->setFont(font);
        }
        const QFontMetrics metrics(m_control->font());
        const QSize hint = m_control->sizeHint();
        EXPECT_GE(hint.width(), metrics.horizontalAdvance("255.255.255.255") + 2 * m_control->frameWidth());
        QLineEdit plain;
        plain.setFont(m_control->font());
        EXPECT_EQ(hint.height(), plain.sizeHint().height());
        EXPECT_EQ(m_control->minimumSizeHint(), hint);

        // At its hint and wider, the fields share the width equally and each holds "255"
        // with a frameless line edit's two pixels either side.
        for (const int extra : {0, 41}) {
            m_control->resize(hint.width() + extra, hint.height());
            m_control->layout()->activate();
            for (const QLineEdit* field : m_fields) {
                EXPECT_NEAR(field->width(), m_fields[0]->width(), 1);
                EXPECT_GE(field->width(), metrics.horizontalAdvance("255") + 4);
                EXPECT_GE(field->height(), metrics.height());
            }
        }
    }
}

}  // namespace
}  // namespace kestrine
