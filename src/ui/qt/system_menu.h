// The window's own system menu. The window manager here owns the title-bar menu (and most
// keep Alt+Space for themselves), so the menu opens on a right click on the window's free
// area and on the keyboard's Menu key or Shift+F10. It holds Minimize, Maximize/Restore and
// Close, then whatever the window appends. Every chosen command goes to the window's
// handler with its number; what the handler leaves gets the default processing.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMenu;
class QWidget;

namespace kestrine {

// Command numbers of the standard entries.
inline constexpr int SC_MINIMIZE_COMMAND = 0xF020;
inline constexpr int SC_MAXIMIZE_COMMAND = 0xF030;
inline constexpr int SC_CLOSE_COMMAND = 0xF060;
inline constexpr int SC_RESTORE_COMMAND = 0xF120;

class SystemMenu final : public QObject {
public:
    // handler returns true when it handled the command itself.
    SystemMenu(QWidget* window, std::function<bool(int command)> handler);

    void AppendSeparator();
    void AppendEntry(int command, const QString& text);
    QMenu* Menu() const { return m_menu; }
    // Runs a command as if chosen from the menu.
    void Run(int command);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Open(const QPoint& globalPosition);

    QWidget* m_window;
    QMenu* m_menu;
    std::function<bool(int)> m_handler;
};

}  // namespace kestrine
