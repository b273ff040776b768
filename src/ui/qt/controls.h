// The Qt controls a dialog template names (labels, buttons, fields, trees, the packet list,
// the address field, the slider, the rich edit, the progress bar, the icon), and the small
// helpers the dialog puts on them.
#pragma once

#include <QEvent>
#include <QFocusEvent>
#include <QObject>
#include <QRect>

#include <functional>

#include "ui/dialog_template.h"

class QLabel;
class QWidget;

namespace kestrine {

// The widget of a template's control, its text and style applied, as a child of parent.
QWidget* CreateControl(const ControlTemplate& control, QWidget* parent);

// Calls back when its watched object receives an event of one type. A focus leaving for a
// popup (such as a field's own context menu) does not count: it comes back at once.
class EventHook final : public QObject {
public:
    EventHook(QObject* parent, QEvent::Type type, std::function<void()> onEvent)
        : QObject(parent), m_type(type), m_onEvent(std::move(onEvent))
    {
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool popup = event->type() == QEvent::FocusOut &&
                           static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason;
        if (event->type() == m_type && !popup) m_onEvent();
        return QObject::eventFilter(watched, event);
    }

private:
    QEvent::Type m_type;
    std::function<void()> m_onEvent;
};

// A label whose text is wider than its template (this font runs wider than the template's)
// grows away from its aligned edge to keep the text on one line.
void FitOnOneLine(QLabel* label, ControlKind kind, QRect* place);

}  // namespace kestrine
