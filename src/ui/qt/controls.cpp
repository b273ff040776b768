// The Qt controls a dialog template names, and the small helpers the dialog puts on them.
#include "ui/qt/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include "ui/qt/ip_address_control.h"
#include "ui/qt/resources.h"
#include "ui/qt/rich_edit.h"
#include "ui/qt/tree_views.h"

namespace kestrine {

namespace {

// A group box as dialogs draw one: the frame's top line runs through the middle of the
// title, so the template's rectangle is the frame's outer rectangle, title included.
class GroupFrame final : public QWidget {
public:
    GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched line: a shadow line with a light one beside it.
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.translated(1, 1));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame);
        const int inset = metrics.averageCharWidth();
        const QRect title(inset, 0, metrics.horizontalAdvance(m_title) + inset / 2 * 2, metrics.height());
        painter.fillRect(title, palette().window());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(title.adjusted(inset / 2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_title);
    }

private:
    QString m_title;
};

}  // namespace

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
    case ControlKind::GroupBox: return new GroupFrame(text, parent);
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
    case ControlKind::TreeView:
    case ControlKind::PacketList: {
        auto* tree = new LinedTreeView(parent);
        // Trees toggle an item on a double click; the packet list's is the dialog's alone.
        ConfigureTreeView(tree, c.kind == ControlKind::TreeView);
        tree->SetFullRowSelect(c.style & STYLE_FULL_ROW_SELECT);
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
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::Icon: {
        auto* icon = new QLabel(parent);
        icon->setPixmap(ProgramIcon().pixmap(QSize(32, 32), parent->devicePixelRatioF()));  // sharp at any scale
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return icon;
    }
    }
    return new QWidget(parent);
}

// A label whose text is wider than its template (this font runs wider than the template's)
// grows away from its aligned edge to keep the text on one line.
void FitOnOneLine(QLabel* label, ControlKind kind, QRect* place)
{
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    const int grow = needed - place->width();
    if (grow <= 0) return;
    label->setWordWrap(false);
    if (kind == ControlKind::LabelRight) place->setLeft(place->left() - grow);
    else if (kind == ControlKind::LabelCentred) place->adjust(-grow / 2, 0, grow - grow / 2, 0);
    else place->setRight(place->right() + grow);
}

}  // namespace kestrine
