// The IP address control: four frameless line edits and three dot labels in a frame that
// paints itself as a line edit's panel, with the key handling that makes them act as one.
#include "ui/qt/ip_address_control.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace kestrine {
namespace {

constexpr int OCTET_DIGITS = 3;
constexpr unsigned MAX_OCTET = 255;
// Room either side of a field's text: a line edit's own two-pixel margin and the cursor.
constexpr int FIELD_MARGIN = 3;
// A line edit's text line is at least this tall and has a pixel above and below it.
constexpr int MIN_TEXT_HEIGHT = 14;
constexpr int TEXT_VERTICAL_MARGINS = 2;

// Blank or not a number reads 0; leading zeros are allowed.
unsigned OctetValue(const QString& text)
{
    return std::min(text.toUInt(), MAX_OCTET);
}

QString DefaultOctetName(int index)
{
    return QStringLiteral("Octet %1").arg(index + 1);
}

}  // namespace

IpAddressControl::IpAddressControl(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < FIELD_COUNT; ++i) {
        if (i > 0) {
            m_dots[i - 1] = new QLabel(QStringLiteral("."), this);
            m_dots[i - 1]->setAlignment(Qt::AlignCenter);
            layout->addWidget(m_dots[i - 1]);
        }
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(OCTET_DIGITS);
        field->setValidator(digits);
        // The control paints the panel; the fields' own background would cover its focus ring.
        QPalette palette = field->palette();
        palette.setBrush(QPalette::Base, Qt::transparent);
        field->setPalette(palette);
        // The control sets the size; the layout shares the width out equally.
        field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        field->setAccessibleName(DefaultOctetName(i));
        // One tab stop: Tab leaves from any field, only the first is reached by tabbing.
        if (i > 0) field->setFocusPolicy(Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnEdited(i); });
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    setFocusProxy(m_fields[0]);
}

void IpAddressControl::SetAddress(uint32_t hostOrder)
{
    for (int i = 0; i < FIELD_COUNT; ++i)
        m_fields[i]->setText(QString::number((hostOrder >> 8 * (FIELD_COUNT - 1 - i)) & 0xFF));
}

uint32_t IpAddressControl::Address() const
{
    uint32_t address = 0;
    for (const QLineEdit* field : m_fields) address = address << 8 | OctetValue(field->text());
    return address;
}

void IpAddressControl::ClearAddress()
{
    for (QLineEdit* field : m_fields) field->clear();
}

bool IpAddressControl::IsBlank() const
{
    return std::all_of(m_fields.begin(), m_fields.end(), [](const QLineEdit* f) { return f->text().isEmpty(); });
}

void IpAddressControl::SetAccessibleBaseName(const QString& name)
{
    setAccessibleName(name);
    for (int i = 0; i < FIELD_COUNT; ++i)
        m_fields[i]->setAccessibleName(name.isEmpty() ? DefaultOctetName(i)
                                                      : QStringLiteral("%1, octet %2").arg(name).arg(i + 1));
}

QSize IpAddressControl::sizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics = fontMetrics();
    int width = FIELD_COUNT * (metrics.horizontalAdvance(QStringLiteral("255")) + 2 * FIELD_MARGIN);
    for (const QLabel* dot : m_dots) width += dot->sizeHint().width();
    const int height = std::max(metrics.height(), MIN_TEXT_HEIGHT) + TEXT_VERTICAL_MARGINS;
    // The frame and padding a line edit would get in this style.
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = frameWidth();
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, height), this);
}

QSize IpAddressControl::minimumSizeHint() const
{
    return sizeHint();
}

bool IpAddressControl::eventFilter(QObject* watched, QEvent* event)
{
    const int index = IndexOf(watched);
    if (index >= 0) {
        switch (event->type()) {
        case QEvent::KeyPress:
            return HandleKey(index, *static_cast<QKeyEvent*>(event));
        case QEvent::FocusOut:
            Tidy(index);
            update();
            break;
        case QEvent::FocusIn:
            update();  // the panel shows focus while any field has it
            break;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

// The panel of a line edit in place of QFrame's frame, so the control matches the dialogs'
// other edit boxes, focus highlight and disabled look included.
void IpAddressControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.rect = rect();
    option.lineWidth = frameWidth();
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QWidget* focused = QApplication::focusWidget();
    if (focused && isAncestorOf(focused)) option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

int IpAddressControl::IndexOf(const QObject* object) const
{
    const auto found = std::find(m_fields.begin(), m_fields.end(), object);
    return found == m_fields.end() ? -1 : static_cast<int>(found - m_fields.begin());
}

// True when the key was used up here; the rest go on to the field.
bool IpAddressControl::HandleKey(int index, const QKeyEvent& key)
{
    const QLineEdit* field = m_fields[index];
    const bool plain = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool caretOnly = plain && !field->hasSelectedText();
    const int last = FIELD_COUNT - 1;
    // A dot typed after a full field has moved on by itself belongs to that field: the
    // field it moved to is still untouched (wholly selected), so the dot is dropped there.
    const bool justAdvanced = m_advancedInto == index && field->selectedText() == field->text();
    m_advancedInto = -1;
    switch (key.key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (!justAdvanced && !field->text().isEmpty() && index < last) MoveTo(index, index + 1, Caret::SELECT_ALL);
        return true;  // never typed into a field
    case Qt::Key_Backspace:
        if (!field->text().isEmpty() || index == 0) return false;
        MoveTo(index, index - 1, Caret::AT_END);
        return true;
    case Qt::Key_Left:
        if (!caretOnly || field->cursorPosition() > 0 || index == 0) return false;
        MoveTo(index, index - 1, Caret::AT_END);
        return true;
    case Qt::Key_Right:
        if (!caretOnly || field->cursorPosition() < field->text().size() || index == last) return false;
        MoveTo(index, index + 1, Caret::AT_START);
        return true;
    case Qt::Key_Home:
        if (!plain) return false;
        MoveTo(index, 0, Caret::AT_START);
        return true;
    case Qt::Key_End:
        if (!plain) return false;
        MoveTo(index, last, Caret::AT_END);
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Shift+Tab leaves backwards from the first field; the field goes on to move the
        // focus from there.
        if (index > 0 && (key.key() == Qt::Key_Backtab || key.modifiers().testFlag(Qt::ShiftModifier)))
            m_fields[0]->setFocus(Qt::OtherFocusReason);
        return false;
    default:
        return false;
    }
}

void IpAddressControl::OnEdited(int index)
{
    QLineEdit* field = m_fields[index];
    if (field->text().size() == OCTET_DIGITS) {
        const bool atEnd = field->cursorPosition() == OCTET_DIGITS;
        if (field->text().toUInt() > MAX_OCTET) field->setText(QString::number(MAX_OCTET));
        if (atEnd && index < FIELD_COUNT - 1) {
            MoveTo(index, index + 1, Caret::SELECT_ALL);
            m_advancedInto = index + 1;
        }
    }
    emit AddressChanged();
}

// The field left is tidied by its focus-out event.
void IpAddressControl::MoveTo(int from, int to, Caret caret)
{
    QLineEdit* field = m_fields[to];
    if (from != to) field->setFocus(Qt::OtherFocusReason);
    switch (caret) {
    case Caret::AT_START:
        field->setCursorPosition(0);
        break;
    case Caret::AT_END:
        field->setCursorPosition(field->text().size());
        break;
    case Caret::SELECT_ALL:
        field->selectAll();
        break;
    }
}

// Clamps and drops leading zeros; the value read stays the same, so no AddressChanged.
void IpAddressControl::Tidy(int index)
{
    QLineEdit* field = m_fields[index];
    if (field->text().isEmpty()) return;
    const QString tidy = QString::number(OctetValue(field->text()));
    if (tidy != field->text()) field->setText(tidy);
}

}  // namespace kestrine
