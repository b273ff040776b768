// Building dialogs from their templates.
#include "ui/dialog_template.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QTreeView>

#include "ui/fonts.h"
#include "ui/ip_address_control.h"
#include "ui/resources.h"
#include "ui/rich_edit.h"
#include "ui/tree_views.h"

namespace kestrine {

namespace {

// MulDiv: rounded to the nearest integer, halves away from zero.
int Scale(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

QString PlainText(const char* text)
{
    QString s = QString::fromLatin1(text);
    s.remove(QLatin1Char('&'));  // access-key marks are not part of the name
    return s;
}

QWidget* CreateControl(const ControlTemplate& c, QWidget* parent)
{
    const QString text = c.text ? QString::fromLatin1(c.text) : QString();
    switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::LabelCentred:
    case ControlKind::LabelRight: {
        auto* label = new QLabel(text, parent);
        label->setAlignment((c.kind == ControlKind::LabelCentred ? Qt::AlignHCenter
                             : c.kind == ControlKind::LabelRight ? Qt::AlignRight
                                                                 : Qt::AlignLeft) |
                            Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::GroupBox: return new QGroupBox(text, parent);
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);  // Enter presses only the template's default button
        button->setDefault(c.kind == ControlKind::DefaultButton);
        return button;
    }
    case ControlKind::CheckBox: return new QCheckBox(text, parent);
    case ControlKind::LineEdit: return new QLineEdit(text, parent);
    case ControlKind::ReadOnlyText: {
        auto* edit = new QPlainTextEdit(text, parent);
        edit->setReadOnly(true);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return edit;
    }
    case ControlKind::DropDown: {
        auto* list = new QComboBox(parent);
        list->setEditable(false);
        if (!text.isEmpty()) list->addItems(text.split(QLatin1Char('\n')));
        list->setMaxVisibleItems(8);
        return list;
    }
    case ControlKind::TreeView: {
        auto* tree = new QTreeView(parent);
        ConfigureTreeView(tree);
        return tree;
    }
    case ControlKind::IpAddress: return new IpAddressControl(parent);
    case ControlKind::Trackbar: {
        auto* slider = new QSlider(Qt::Vertical, parent);
        slider->setRange(0, 100);
        slider->setInvertedAppearance(true);  // minimum at the top
        slider->setInvertedControls(true);
        slider->setTickPosition(QSlider::NoTicks);
        return slider;
    }
    case ControlKind::RichEdit: return CreateRichEdit(parent);
    case ControlKind::Icon: {
        auto* icon = new QLabel(parent);
        icon->setPixmap(ProgramIcon().pixmap(32, 32));
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return icon;
    }
    }
    return new QWidget(parent);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    // The platform's rule: the average width of the 52 letters, rounded, and the height.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const QRect& units, DialogBaseUnits base)
{
    return QRect(Scale(units.x(), base.x, 4), Scale(units.y(), base.y, 8), Scale(units.width(), base.x, 4),
                 Scale(units.height(), base.y, 8));
}

QSize MapDialogSize(int width, int height, DialogBaseUnits base)
{
    return QSize(Scale(width, base.x, 4), Scale(height, base.y, 8));
}

DialogBaseUnits BuildDialog(QWidget* dialog, const DialogTemplate& t)
{
    const QFont font = TemplateFont(t.fontFace, t.pointSize);
    dialog->setFont(font);
    dialog->setWindowTitle(QString::fromLatin1(t.caption));
    dialog->setObjectName(QString::number(t.id));
    const DialogBaseUnits base = BaseUnitsOf(font);
    for (const ControlTemplate& c : t.controls) {
        QWidget* control = CreateControl(c, dialog);
        control->setFont(font);
        QRect place = MapDialogRect(QRect(c.x, c.y, c.width, c.height), base);
        // A drop-down list's template height includes its open list; closed it is one line.
        if (c.kind == ControlKind::DropDown) place.setHeight(control->sizeHint().height());
        control->setGeometry(place);
        control->setProperty(CONTROL_ID_PROPERTY, c.id);
        if (c.id != NO_ID) control->setObjectName(QString::number(c.id));
        control->setAccessibleName(c.text && *c.text && c.kind != ControlKind::DropDown ? PlainText(c.text)
                                                                                        : QString::fromLatin1(c.role ? c.role : ""));
        if (auto* address = qobject_cast<IpAddressControl*>(control)) address->SetAccessibleBaseName(control->accessibleName());
        if (c.style & STYLE_DISABLED) control->setEnabled(false);
    }
    dialog->resize(MapDialogSize(t.width, t.height, base));
    return base;
}

QWidget* Control(const QWidget* dialog, int id)
{
    if (id == NO_ID) return nullptr;
    return dialog->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

int ControlId(const QWidget* control)
{
    const QVariant id = control ? control->property(CONTROL_ID_PROPERTY) : QVariant();
    return id.isValid() ? id.toInt() : NO_ID;
}

}  // namespace kestrine
