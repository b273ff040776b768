// The window's own system menu.
#include "ui/qt/system_menu.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QShortcut>
#include <QWidget>

namespace kestrine {

SystemMenu::SystemMenu(QWidget* window, std::function<bool(int)> handler)
    : QObject(window), m_window(window), m_menu(new QMenu(window)), m_handler(std::move(handler))
{
    m_menu->setObjectName(QStringLiteral("systemMenu"));
    m_menu->setAccessibleName(QStringLiteral("System menu"));
    m_menu->addAction(QStringLiteral("Mi&nimize"), [this] { Run(SC_MINIMIZE_COMMAND); })->setData(SC_MINIMIZE_COMMAND);
    m_menu->addAction(QStringLiteral("Ma&ximize"), [this] {
        Run(m_window->isMaximized() ? SC_RESTORE_COMMAND : SC_MAXIMIZE_COMMAND);
    })->setData(SC_MAXIMIZE_COMMAND);
    m_menu->addAction(QStringLiteral("&Close"), [this] { Run(SC_CLOSE_COMMAND); })->setData(SC_CLOSE_COMMAND);
    window->installEventFilter(this);
    auto* keyboard = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), window);
    connect(keyboard, &QShortcut::activated, this, [this] { Open(m_window->mapToGlobal(QPoint(0, 0))); });
}

void SystemMenu::AppendSeparator() { m_menu->addSeparator(); }

void SystemMenu::AppendEntry(int command, const QString& text)
{
    m_menu->addAction(text, [this, command] { Run(command); })->setData(command);
}

void SystemMenu::Run(int command)
{
    if (m_handler && m_handler(command)) return;
    switch (command & 0xFFF0) {
    case SC_MINIMIZE_COMMAND: m_window->showMinimized(); break;
    case SC_MAXIMIZE_COMMAND: m_window->showMaximized(); break;
    case SC_RESTORE_COMMAND: m_window->showNormal(); break;
    case SC_CLOSE_COMMAND: m_window->close(); break;
    default: break;
    }
}

void SystemMenu::Open(const QPoint& globalPosition)
{
    // Maximize reads Restore while the window is maximised; a fixed-size window has neither.
    for (QAction* action : m_menu->actions()) {
        if (action->data().toInt() != SC_MAXIMIZE_COMMAND) continue;
        action->setText(m_window->isMaximized() ? QStringLiteral("&Restore") : QStringLiteral("Ma&ximize"));
        action->setEnabled(m_window->minimumSize() != m_window->maximumSize());
    }
    m_menu->popup(globalPosition);
}

bool SystemMenu::eventFilter(QObject* watched, QEvent* event)
{
    // Context-menu requests that no control took (a right click on the free area, the Menu
    // key, Shift+F10) arrive at the window itself.
    if (watched == m_window && event->type() == QEvent::ContextMenu) {
        auto* request = static_cast<QContextMenuEvent*>(event);
        Open(request->reason() == QContextMenuEvent::Mouse ? request->globalPos()
                                                           : m_window->mapToGlobal(QPoint(0, 0)));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kestrine
