// The Qt 6 realisation of the window-system facilities: dialogs built from their templates
// (dialog units mapped through the dialog font), controls found by number, the events of
// the widgets passed to the dialog's handler, and the Qt message box and file chooser.
#pragma once

#include <QDialog>
#include <QSize>

#include <map>
#include <memory>
#include <vector>

#include "ui/window_system.h"

class QFont;
class QTreeView;

namespace kestrine {

class DetailTreeModel;
class PacketListModel;
class SystemMenu;

// The property every control carries with its number.
inline constexpr const char* CONTROL_ID_PROPERTY = "controlId";

DialogBaseUnits BaseUnitsOf(const QFont& font);

class QtDialog final : public Dialog {
public:
    QtDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler, QtDialog* owner);
    ~QtDialog() override;

    // The window and its controls, for the realisation and the tests; null once destroyed.
    QDialog* Widget() const;
    QWidget* Control(int id) const;
    template <typename T>
    T* ControlAs(int id) const
    {
        return qobject_cast<T*>(Control(id));
    }
    DialogBaseUnits BaseUnits() const { return m_base; }

    int RunModal() override;
    void EndDialog(int result) override;
    void Show() override;
    void Hide() override;
    void Destroy() override;
    void AcceptFileDrops() override;
    void MoveTo(int x, int y) override;
    PixelRect FrameRect() const override;
    void SetProgramIcon() override;
    void SetMinimumFrameSize(int width, int height) override;
    void AppendSystemMenu(int command, const char* text) override;
    void SetTimer(int timerId, int periodMs) override;
    void KillTimer(int timerId) override;
    void AddContextCommand(int controlId, const ContextCommand& command) override;

    void SetText(int id, std::string_view text) override;
    std::string Text(int id) const override;
    void ReplaceAllText(int id, std::string_view text) override;
    void Focus(int id, bool selectAll) override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void SetAddress(int id, uint32_t hostOrder) override;
    uint32_t Address(int id) const override;
    void SetSelectedIndex(int id, int index) override;
    int SelectedIndex(int id) const override;
    void SetTrackbarRange(int id, int low, int high) override;
    void SetTrackbarPosition(int id, int position) override;
    int TrackbarPosition(int id) const override;
    void SetProgress(int id, int percent) override;
    int Progress(int id) const override;
    void SetRichText(int id, std::string_view document) override;
    void MoveControl(int id, const PixelRect& place) override;

    DetailTree& BeginTree(int id) override;
    void EndTree(int id) override;
    const DetailTree& ShownTree(int id) const override;
    NodeId SelectedTreeNode(int id) const override;
    void SelectTreeNode(int id, NodeId node) override;
    std::string SelectedItemText(int id) const override;

    void ClearList(int id) override;
    PacketLines& ListLines(int id) override;
    bool CommitList(int id, bool scrollToLast) override;
    void SelectListLine(int id, size_t row) override;
    std::vector<size_t> SelectedListLines(int id) const override;

private:
    class Window;
    friend class Window;

    void Connect(QWidget* control, const ControlTemplate& c);
    void ApplyMinimumFrameSize();
    void SizeListColumn(int id);
    // Whether the handler may hear of events yet (not while the window is being built).
    bool Live() const { return m_live; }

    Window* m_window = nullptr;
    DialogHandler& m_handler;
    DialogBaseUnits m_base{};
    std::map<int, QWidget*> m_controls;
    std::map<int, DetailTreeModel*> m_trees;
    std::map<int, PacketListModel*> m_lists;
    std::map<int, QTimer*> m_timers;
    std::map<int, std::vector<ContextCommand>> m_menus;  // each control's context menu
    std::vector<ContextCommand> m_windowKeys;             // the keys of the whole window
    SystemMenu* m_systemMenu = nullptr;
    QSize m_minimumFrame;
    bool m_live = false;
    bool m_quiet = false;  // the program's own changes: no notifications
};

// The realisation's services; install with SetWindowSystem.
class QtWindowSystem final : public WindowSystem {
public:
    std::unique_ptr<Dialog> NewDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler,
                                         Dialog* owner) override;
    int RunMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageButtons buttons) override;
    std::string AskSaveFileName(Dialog* owner) override;
    std::string AskOpenFileName(Dialog* owner) override;
    void SetClipboardText(std::string_view text) override;
    std::string ApplicationTitle() const override;
    PixelRect WorkArea() const override;
    void InitialiseRichEdit() override {}
    std::string LicenceDocument() const override;
};

// The realisation of a dialog (for the tests).
QtDialog* AsQt(Dialog* dialog);

}  // namespace kestrine
