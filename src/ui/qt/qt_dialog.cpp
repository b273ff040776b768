// Dialogs built from their templates with Qt widgets, and the realisation's services.
#include "ui/qt/qt_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMoveEvent>
#include <QWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstring>

#include "decode/summary.h"
#include "ui/qt/controls.h"
#include "ui/qt/fonts.h"
#include "ui/qt/ip_address_control.h"
#include "ui/qt/packet_list_model.h"
#include "ui/qt/resources.h"
#include "ui/qt/rich_edit.h"
#include "ui/qt/system_menu.h"
#include "ui/qt/tree_views.h"

namespace kestrine {

namespace {

QString Latin1(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

std::string FromLatin1(const QString& text) { return text.toLatin1().toStdString(); }

QString Utf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString PlainText(const char* text)
{
    QString s = QString::fromLatin1(text);
    s.remove(QLatin1Char('&'));  // access-key marks are not part of the name
    return s;
}

Qt::WindowFlags FlagsOf(DialogFrame frame)
{
    switch (frame) {
    case DialogFrame::Main:
        return Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
               Qt::WindowCloseButtonHint;
    case DialogFrame::Tool:
        // A tool window: small caption, no task-bar button, above its owner, minimised with it.
        return Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    case DialogFrame::Fixed:
        return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    case DialogFrame::Sizing: return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    }
    return Qt::Dialog;
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    // The platform's rule: the average width of the 52 letters, rounded, and the height.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

// The dialog's widget: hands its keys, closing, sizing and destruction to the handler.
class QtDialog::Window final : public QDialog {
public:
    Window(QtDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}
    ~Window() override
    {
        if (!m_owner) return;
        QtDialog* owner = m_owner;
        owner->m_window = nullptr;
        owner->m_handler.OnDestroyed();  // may delete the QtDialog
    }

    QtDialog* m_owner;  // null once the QtDialog let go of the window
    bool m_ending = false;
    QPointer<QWindow> m_watched;  // the native window whose exposure is watched

    void accept() override
    {
        if (m_owner && m_owner->Live()) m_owner->m_handler.OnOK();
    }
    void reject() override
    {
        if (m_owner && m_owner->Live()) m_owner->m_handler.OnCancel();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && event->modifiers() == Qt::NoModifier) {
            // A focused push button, then the default button take Enter; otherwise it is OK.
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            if (!focused || !focused->isEnabled()) {
                focused = nullptr;
                for (QPushButton* button : findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
                    if (button->isDefault() && button->isEnabled() && button->isVisible()) focused = button;
            }
            if (focused) focused->click();
            else accept();
            return;
        }
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            reject();
            return;
        }
        QDialog::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (m_ending) {
            event->accept();
            return;
        }
        QPointer<Window> self(this);
        reject();  // the handler decides; EndDialog or Destroy hides the window
        if (self && isVisible()) event->ignore();
    }
    void resizeEvent(QResizeEvent* event) override
    {
        QDialog::resizeEvent(event);
        if (m_owner) m_owner->ApplyMinimumFrameSize();
        NotifySize();
    }
    // The window manager draws its frame after the window is shown and reports it with a
    // move or a resize: only then is the frame, and with it the client minimum, known.
    void moveEvent(QMoveEvent* event) override
    {
        QDialog::moveEvent(event);
        if (m_owner) m_owner->ApplyMinimumFrameSize();
    }
    void changeEvent(QEvent* event) override
    {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange) NotifySize();
    }
    void showEvent(QShowEvent* event) override
    {
        QDialog::showEvent(event);
        // The window manager may frame the window without moving it (static gravity): the
        // exposure after mapping is then the first news that the frame is there.
        if (QWindow* handle = windowHandle(); handle && handle != m_watched) {
            handle->installEventFilter(this);
            m_watched = handle;
        }
        if (m_owner) m_owner->ApplyMinimumFrameSize();
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_watched && event->type() == QEvent::Expose && m_owner) m_owner->ApplyMinimumFrameSize();
        return QDialog::eventFilter(watched, event);
    }
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override
    {
        std::vector<std::string> paths;
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
        event->acceptProposedAction();
        if (m_owner && m_owner->Live() && !paths.empty()) m_owner->m_handler.OnFilesDropped(paths);
    }

private:
    void NotifySize()
    {
        if (!m_owner || !m_owner->Live()) return;
        const uint32_t type = isMinimized() ? SIZE_KIND_MINIMIZED : isMaximized() ? SIZE_KIND_MAXIMIZED : SIZE_KIND_RESTORED;
        m_owner->m_handler.OnSize(type, width(), height());
    }
};

QtDialog::QtDialog(const DialogTemplate& t, DialogHandler& handler, QtDialog* owner)
    : m_window(new Window(this, owner ? owner->Widget() : nullptr)), m_handler(handler)
{
    Window* w = m_window;
    w->setWindowFlags(FlagsOf(t.frame));
    const QFont font = TemplateFont(t.fontFace, t.pointSize);
    w->setFont(font);
    w->setWindowTitle(QString::fromLatin1(t.caption));
    w->setObjectName(QString::number(t.id));
    m_base = BaseUnitsOf(font);
    QLabel* awaitingBuddy = nullptr;  // a label with an access key, for the control after it
    for (const ControlTemplate& c : t.controls) {
        QWidget* control = CreateControl(c, w);
        if (awaitingBuddy && c.id != NO_ID) {
            awaitingBuddy->setBuddy(control);  // its access key moves the focus there
            awaitingBuddy = nullptr;
        }
        if (auto* label = qobject_cast<QLabel*>(control); label && c.text && std::strchr(c.text, '&')) awaitingBuddy = label;
        control->setFont(font);
        const PixelRect place = MapDialogRect(PixelRect{c.x, c.y, c.width, c.height}, m_base);
        QRect geometry(place.x, place.y, place.width, place.height);
        // A drop-down list's template height includes its open list; closed it is one line.
        if (c.kind == ControlKind::DropDown) geometry.setHeight(control->sizeHint().height());
        if (auto* label = qobject_cast<QLabel*>(control); label && c.kind != ControlKind::Icon) FitOnOneLine(label, c.kind, &geometry);
        control->setGeometry(geometry);
        control->setProperty(CONTROL_ID_PROPERTY, c.id);
        if (c.id != NO_ID) {
            control->setObjectName(QString::number(c.id));
            m_controls[c.id] = control;
        }
        const bool statusLine = qobject_cast<QLabel*>(control) && c.kind != ControlKind::Icon && !(c.text && *c.text);
        if (statusLine) {
            // A label the program writes into (a search result): a screen reader reads its
            // text as its name, and the role describes it.
            control->setAccessibleDescription(QString::fromLatin1(c.role ? c.role : ""));
        } else {
            control->setAccessibleName(c.text && *c.text && c.kind != ControlKind::DropDown
                                           ? PlainText(c.text)
                                           : QString::fromLatin1(c.role ? c.role : ""));
        }
        if (auto* address = qobject_cast<IpAddressControl*>(control)) address->SetAccessibleBaseName(control->accessibleName());
        if (c.style & STYLE_DISABLED) control->setEnabled(false);
        Connect(control, c);
    }
    const PixelRect client = MapDialogRect(PixelRect{0, 0, t.width, t.height}, m_base);
    w->resize(client.width, client.height);
    if (t.frame == DialogFrame::Fixed) w->setFixedSize(w->size());
    // Never smaller than its template: every control, Done among them, stays reachable.
    if (t.frame == DialogFrame::Sizing) w->setMinimumSize(w->size());
    if (t.frame != DialogFrame::Sizing) {
        m_systemMenu = new SystemMenu(w, [this](int command) { return Live() && m_handler.OnSysCommand(command); });
    }
    m_live = true;
}

QtDialog::~QtDialog()
{
    if (!m_window) return;
    m_window->m_owner = nullptr;  // its handler is going: nothing more to tell
    m_window->m_ending = true;
    delete m_window;
}

void QtDialog::Connect(QWidget* control, const ControlTemplate& c)
{
    const int id = c.id;
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QObject::connect(button, &QPushButton::clicked, m_window, [this, id] {
            if (!Live()) return;
            if (id == ID_OK) m_handler.OnOK();
            else if (id == ID_CANCEL) m_handler.OnCancel();
            else m_handler.OnCommand(id);
        });
    } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
        QObject::connect(box, &QCheckBox::clicked, m_window, [this, id] {
            if (Live()) m_handler.OnCommand(id);
        });
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->installEventFilter(new EventHook(edit, QEvent::FocusOut, [this, id] {
            if (Live()) m_handler.OnKillFocus(id);
        }));
        QObject::connect(edit, &QLineEdit::textEdited, m_window, [this, id] {
            if (Live()) m_handler.OnTextChanged(id);
        });
    } else if (auto* slider = qobject_cast<QSlider*>(control)) {
        QObject::connect(slider, &QSlider::valueChanged, m_window, [this, id] {
            if (Live() && !m_quiet) m_handler.OnTrackbarMoved(id);
        });
    } else if (auto* view = qobject_cast<QTreeView*>(control)) {
        if (c.kind == ControlKind::PacketList) {
            auto* model = new PacketListModel(view);
            view->setModel(model);
            m_lists[id] = model;
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);  // Shift and Ctrl pick several lines to copy
            // Thousands of lines: no per-line width measuring. The one column spans the view, or
            // the widest line the summary format gives once there are lines.
            view->header()->setSectionResizeMode(QHeaderView::Fixed);
            view->viewport()->installEventFilter(new EventHook(view, QEvent::Resize, [this, id] { SizeListColumn(id); }));
            QObject::connect(view->verticalScrollBar(), &QScrollBar::valueChanged, m_window, [this, id] { SizeListColumn(id); });
        } else {
            auto* model = new DetailTreeModel(view);
            view->setModel(model);
            m_trees[id] = model;
            QObject::connect(view, &QTreeView::expanded, m_window, [this, id](const QModelIndex& item) {
                if (Live() && !m_quiet) m_handler.OnItemExpanded(id, item.data(ITEM_DATA_ROLE).toUInt(), 2);
            });
            QObject::connect(view, &QTreeView::collapsed, m_window, [this, id](const QModelIndex& item) {
                if (Live() && !m_quiet) m_handler.OnItemExpanded(id, item.data(ITEM_DATA_ROLE).toUInt(), 1);
            });
        }
        QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, m_window, [this, id] {
            if (Live() && !m_quiet) m_handler.OnSelectionChanged(id);
        });
        QObject::connect(view, &QTreeView::doubleClicked, m_window, [this, id] {
            if (Live()) m_handler.OnDoubleClick(id);
        });
    }
}

QDialog* QtDialog::Widget() const { return m_window; }

QWidget* QtDialog::Control(int id) const
{
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

int QtDialog::RunModal()
{
    m_window->m_ending = false;
    return m_window->exec();
}

void QtDialog::EndDialog(int result)
{
    m_window->m_ending = true;
    m_window->done(result);
}

void QtDialog::Show()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void QtDialog::Hide() { m_window->hide(); }

void QtDialog::AcceptFileDrops() { m_window->setAcceptDrops(true); }

void QtDialog::Destroy()
{
    if (!m_window) return;
    m_window->m_ending = true;
    m_window->hide();
    m_window->deleteLater();  // after the current event; its destruction tells the handler
}

void QtDialog::MoveTo(int x, int y)
{
    m_window->move(x, y);
    m_window->raise();
}

PixelRect QtDialog::FrameRect() const
{
    const QRect frame = m_window->frameGeometry();
    return PixelRect{frame.x(), frame.y(), frame.width(), frame.height()};
}

void QtDialog::SetProgramIcon() { m_window->setWindowIcon(ProgramIcon()); }

void QtDialog::SetMinimumFrameSize(int width, int height)
{
    m_minimumFrame = QSize(width, height);
    ApplyMinimumFrameSize();
}

void QtDialog::ApplyMinimumFrameSize()
{
    if (m_minimumFrame.isEmpty()) return;
    // The minimum counts the frame; the frame is known once the window manager framed it.
    // The native window's margins are what the window manager reports; the widget's own
    // frame geometry is refreshed only when the window moves.
    QSize frame(0, 0);
    if (const QWindow* handle = m_window->windowHandle()) {
        const QMargins margins = handle->frameMargins();
        frame = QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
    }
    const QSize client(qMax(m_minimumFrame.width() - frame.width(), 1),
                       qMax(m_minimumFrame.height() - frame.height(), 1));
    if (m_window->minimumSize() != client) m_window->setMinimumSize(client);
}

void QtDialog::AppendSystemMenu(int command, const char* text)
{
    if (!m_systemMenu) return;
    if (text) m_systemMenu->AppendEntry(command, QString::fromLatin1(text));
    else m_systemMenu->AppendSeparator();
}

void QtDialog::SetTimer(int timerId, int periodMs)
{
    QTimer*& timer = m_timers[timerId];
    if (!timer) {
        timer = new QTimer(m_window);
        QObject::connect(timer, &QTimer::timeout, m_window, [this, timerId] {
            if (Live()) m_handler.OnTimer(timerId);
        });
    }
    timer->start(periodMs);
}

void QtDialog::KillTimer(int timerId)
{
    const auto found = m_timers.find(timerId);
    if (found != m_timers.end() && found->second) found->second->stop();
}

namespace {

QKeySequence SequenceOf(const Shortcut& key)
{
    const int code = key.key == KEY_F3 ? Qt::Key_F3 : key.key;  // letters are their own codes
    Qt::KeyboardModifiers modifiers;
    if (key.ctrl) modifiers |= Qt::ControlModifier;
    if (key.shift) modifiers |= Qt::ShiftModifier;
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(code)));
}

}  // namespace

void QtDialog::AddContextCommand(int controlId, const ContextCommand& command)
{
    QWidget* control = controlId == NO_ID ? m_window : Control(controlId);
    if (!control) return;
    const int number = command.command;
    const bool windowHasIt = controlId != NO_ID && std::any_of(m_windowKeys.begin(), m_windowKeys.end(), [&](const ContextCommand& c) {
        return c.command == number && c.key.key == command.key.key && c.key.ctrl == command.key.ctrl &&
               c.key.shift == command.key.shift;
    });
    if (controlId == NO_ID) m_windowKeys.push_back(command);
    if (command.key.key != 0 && !windowHasIt) {
        // A control's key works while it has the focus; a window's anywhere in the window.
        auto* shortcut = new QShortcut(SequenceOf(command.key), control);
        shortcut->setContext(controlId == NO_ID ? Qt::WindowShortcut : Qt::WidgetShortcut);
        QObject::connect(shortcut, &QShortcut::activated, m_window, [this, number] {
            if (Live() && m_handler.IsCommandEnabled(number)) m_handler.OnCommand(number);
        });
    }
    if (!command.text || controlId == NO_ID) return;
    std::vector<ContextCommand>& entries = m_menus[controlId];
    entries.push_back(command);
    if (entries.size() > 1) return;  // the menu is already asked for
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* view = qobject_cast<QAbstractScrollArea*>(control);
    QWidget* area = view ? view->viewport() : control;
    QObject::connect(control, &QWidget::customContextMenuRequested, m_window, [this, area, controlId](const QPoint& at) {
        QMenu menu(m_window);
        for (const ContextCommand& entry : m_menus[controlId]) {
            const int chosen = entry.command;
            QAction* action = menu.addAction(QString::fromLatin1(entry.text), [this, chosen] { m_handler.OnCommand(chosen); });
            action->setEnabled(m_handler.IsCommandEnabled(chosen));
            if (entry.key.key != 0) action->setShortcut(SequenceOf(entry.key));  // shown beside the entry
        }
        menu.exec(area->mapToGlobal(at));
    });
}

void QtDialog::SetText(int id, std::string_view text)
{
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(Latin1(text));
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) plain->setPlainText(Latin1(text));
    else if (auto* label = qobject_cast<QLabel*>(control)) label->setText(Latin1(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(Latin1(text));
}

std::string QtDialog::Text(int id) const
{
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return FromLatin1(edit->text());
    if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) return FromLatin1(plain->toPlainText());
    if (auto* label = qobject_cast<QLabel*>(control)) return FromLatin1(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return FromLatin1(button->text());
    return {};
}

void QtDialog::ReplaceAllText(int id, std::string_view text)
{
    if (auto* edit = ControlAs<QLineEdit>(id)) {
        edit->selectAll();
        edit->insert(Latin1(text));
    } else {
        SetText(id, text);
    }
}

void QtDialog::Focus(int id, bool selectAll)
{
    QWidget* control = Control(id);
    if (!control) return;
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control); edit && selectAll) edit->selectAll();
}

void QtDialog::Enable(int id, bool enabled)
{
    if (QWidget* control = Control(id)) control->setEnabled(enabled);
}

bool QtDialog::IsEnabled(int id) const
{
    QWidget* control = Control(id);
    return control && control->isEnabled();
}

void QtDialog::SetCheck(int id, bool checked)
{
    if (auto* box = ControlAs<QAbstractButton>(id)) box->setChecked(checked);
}

bool QtDialog::IsChecked(int id) const
{
    auto* box = ControlAs<QAbstractButton>(id);
    return box && box->isChecked();
}

void QtDialog::SetAddress(int id, uint32_t hostOrder)
{
    if (auto* address = ControlAs<IpAddressControl>(id)) address->SetAddress(hostOrder);
}

uint32_t QtDialog::Address(int id) const
{
    auto* address = ControlAs<IpAddressControl>(id);
    return address ? address->Address() : 0;
}

void QtDialog::SetSelectedIndex(int id, int index)
{
    if (auto* list = ControlAs<QComboBox>(id)) list->setCurrentIndex(index);
}

int QtDialog::SelectedIndex(int id) const
{
    auto* list = ControlAs<QComboBox>(id);
    return list ? list->currentIndex() : -1;
}

void QtDialog::SetTrackbarRange(int id, int low, int high)
{
    if (auto* slider = ControlAs<QSlider>(id)) {
        const QScopedValueRollback quiet(m_quiet, true);
        slider->setRange(low, high);
    }
}

void QtDialog::SetTrackbarPosition(int id, int position)
{
    if (auto* slider = ControlAs<QSlider>(id)) {
        const QScopedValueRollback quiet(m_quiet, true);
        slider->setValue(position);
    }
}

int QtDialog::TrackbarPosition(int id) const
{
    auto* slider = ControlAs<QSlider>(id);
    return slider ? slider->value() : 0;
}

void QtDialog::SetProgress(int id, int percent)
{
    if (auto* bar = ControlAs<QProgressBar>(id)) bar->setValue(qBound(0, percent, 100));
}

int QtDialog::Progress(int id) const
{
    auto* bar = ControlAs<QProgressBar>(id);
    return bar ? bar->value() : 0;
}

void QtDialog::SetRichText(int id, std::string_view document)
{
    if (auto* edit = ControlAs<QTextEdit>(id))
        SetRichEditText(edit, QByteArray(document.data(), static_cast<qsizetype>(document.size())));
}

void QtDialog::MoveControl(int id, const PixelRect& place)
{
    QWidget* control = Control(id);
    if (!control) return;
    // Extents below zero (a minimised or tiny window) are handed on as empty.
    control->setGeometry(place.x, place.y, qMax(place.width, 0), qMax(place.height, 0));
    control->raise();
}

DetailTree& QtDialog::BeginTree(int id)
{
    DetailTreeModel* model = m_trees.at(id);
    model->BeginRebuild();
    return model->Tree();
}

void QtDialog::EndTree(int id)
{
    DetailTreeModel* model = m_trees.at(id);
    model->EndRebuild();
    const QScopedValueRollback quiet(m_quiet, true);
    ApplyExpandedFlags(ControlAs<QTreeView>(id), *model);
}

const DetailTree& QtDialog::ShownTree(int id) const { return m_trees.at(id)->Tree(); }

NodeId QtDialog::SelectedTreeNode(int id) const
{
    const auto model = m_trees.find(id);
    if (model == m_trees.end()) return NO_NODE;
    return model->second->Node(ControlAs<QTreeView>(id)->currentIndex());
}

void QtDialog::SelectTreeNode(int id, NodeId node)
{
    const auto model = m_trees.find(id);
    if (model == m_trees.end()) return;
    const QModelIndex item = model->second->IndexOf(node);
    if (!item.isValid()) return;
    auto* view = ControlAs<QTreeView>(id);
    const QScopedValueRollback quiet(m_quiet, true);
    for (QModelIndex above = item.parent(); above.isValid(); above = above.parent()) view->expand(above);
    view->setCurrentIndex(item);
    view->scrollTo(item);
}

std::string QtDialog::SelectedItemText(int id) const
{
    auto* view = ControlAs<QTreeView>(id);
    if (!view) return {};
    const QModelIndex current = view->currentIndex();
    return current.isValid() ? FromLatin1(current.data().toString()) : std::string();
}

void QtDialog::SizeListColumn(int id)
{
    // The one column spans the view, or the widest of the lines in view when one is wider:
    // only those are measured, however many lines the list holds.
    auto* view = ControlAs<QTreeView>(id);
    PacketListModel* model = m_lists.at(id);
    const int shown = view->viewport()->width();
    int widest = 0;
    if (model->rowCount() > 0) {
        const QModelIndex top = view->indexAt(QPoint(0, 0));
        const int first = top.isValid() ? top.row() : 0;
        const int rowHeight = qMax(view->sizeHintForRow(first), 1);
        const int last = qMin(model->rowCount() - 1, first + view->viewport()->height() / rowHeight + 1);
        const QFontMetrics metrics = view->fontMetrics();
        for (int row = first; row <= last; ++row)
            widest = qMax(widest, metrics.horizontalAdvance(model->index(row).data().toString()));
        widest += view->indentation() + 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 4;
    }
    if (view->header()->sectionSize(0) != qMax(shown, widest)) view->header()->resizeSection(0, qMax(shown, widest));
}

void QtDialog::ClearList(int id)
{
    m_lists.at(id)->Clear();
    SizeListColumn(id);
}

PacketLines& QtDialog::ListLines(int id) { return m_lists.at(id)->Lines(); }

bool QtDialog::CommitList(int id, bool scrollToLast)
{
    PacketListModel* model = m_lists.at(id);
    if (!model->Commit()) return false;
    if (scrollToLast) ControlAs<QTreeView>(id)->scrollTo(model->index(model->rowCount() - 1));
    SizeListColumn(id);  // new lines in view may be wider
    return true;
}

void QtDialog::SelectListLine(int id, size_t row)
{
    PacketListModel* model = m_lists.at(id);
    if (row >= static_cast<size_t>(model->rowCount())) return;
    auto* view = ControlAs<QTreeView>(id);
    const QModelIndex line = model->index(static_cast<int>(row));
    view->selectionModel()->setCurrentIndex(line, QItemSelectionModel::ClearAndSelect);
    view->scrollTo(line);
}

std::vector<size_t> QtDialog::SelectedListLines(int id) const
{
    // Walked range by range: a million selected lines cost their numbers, not an index each.
    std::vector<size_t> rows;
    for (const QItemSelectionRange& range : ControlAs<QTreeView>(id)->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(static_cast<size_t>(row));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());  // ranges may overlap
    return rows;
}

QtDialog* AsQt(Dialog* dialog) { return static_cast<QtDialog*>(dialog); }

std::unique_ptr<Dialog> QtWindowSystem::NewDialog(const DialogTemplate& dialogTemplate, DialogHandler& handler,
                                                     Dialog* owner)
{
    return std::make_unique<QtDialog>(dialogTemplate, handler, AsQt(owner));
}

int QtWindowSystem::RunMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                               MessageButtons buttons)
{
    // Message texts are UTF-8 (they name files). A box over a window not yet shown (at
    // start-up) stands alone, centred on the screen.
    QWidget* over = owner ? AsQt(owner)->Widget() : nullptr;
    if (over && !over->isVisible()) over = nullptr;
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, Utf8(caption),
                    Utf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, over);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(buttons == MessageButtons::OkCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MESSAGE_OK : MESSAGE_CANCEL;
}

std::string QtWindowSystem::AskSaveFileName(Dialog* owner)
{
    QFileDialog dialog(owner ? AsQt(owner)->Widget() : nullptr, QStringLiteral("Save Packets As"), QString(),
                       QStringLiteral("Capture files (*.pcap);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pcap"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

std::string QtWindowSystem::AskOpenFileName(Dialog* owner)
{
    return QFileDialog::getOpenFileName(owner ? AsQt(owner)->Widget() : nullptr, QStringLiteral("Open Packets"), QString(),
                                        QStringLiteral("Capture files (*.pcap *.pcapng *.cap);;All files (*)"))
        .toStdString();
}

void QtWindowSystem::SetClipboardText(std::string_view text)
{
    // Kept as UTF-8 bytes, not as a string of 16-bit characters: a million copied lines
    // hold their own size on the clipboard, not twice it.
    QByteArray utf8;
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        utf8 = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    else
        utf8 = Latin1(text).toUtf8();
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain;charset=utf-8"), utf8);
    data->setData(QStringLiteral("text/plain"), utf8);  // the same bytes, shared
    QGuiApplication::clipboard()->setMimeData(data);
}

PixelRect QtWindowSystem::WorkArea() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    return PixelRect{area.x(), area.y(), area.width(), area.height()};
}

std::string QtWindowSystem::ApplicationTitle() const
{
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? std::string("kestrine") : QFileInfo(path).completeBaseName().toStdString();
}

std::string QtWindowSystem::LicenceDocument() const
{
    const QByteArray document = LicenceResource();
    return std::string(document.constData(), static_cast<size_t>(document.size()));
}

}  // namespace kestrine
