// The frame window with its menus and status bar, and the interface-thread
// side of the text windows (creation, first showing, titles, closing,
// coalesced repaints).
#include "frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <vector>

#include "commands.h"
#include "entry_file.h"
#include "for_host.h"
#include "help.h"
#include "host_state.h"
#include "platform.h"
#include "style.h"
#include "text_view.h"
#include "views.h"

#ifndef LOXNAR_VERSION
#define LOXNAR_VERSION "0"
#endif

namespace host {

namespace {

const char kAboutText[] =
    "LOXNAR " LOXNAR_VERSION "\n"
    "Lattice planes (hkl), their spacings d and Bragg angles 2-theta.\n"
    "Windowed console on Qt 6.";

// The status bar: a light grey bar with two sunken panes, the state word on
// the left and the status message on the right.
class StatusBar : public QWidget {
public:
    StatusBar() { setFixedHeight(bar_height()); }

    static int bar_height() {
        const int caption = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
        return std::max(caption, QFontMetrics(QApplication::font()).height() + 6);
    }
    void set_texts(const QString& state, const QString& message) {
        state_ = state;
        message_ = message;
        update();
    }
    const QString& state() const { return state_; }
    const QString& message() const { return message_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int w = width();
        const int h = height();
        const int c = fontMetrics().averageCharWidth();
        p.fillRect(rect(), QColor(192, 192, 192));
        p.setPen(QColor(175, 175, 175));
        p.drawLine(0, 0, w - 1, 0);
        p.setPen(Qt::white);
        p.drawLine(0, 1, w - 1, 1);
        pane(p, QRect(QPoint(c + 1, 3), QPoint(10 * c, h - 1)), state_);
        pane(p, QRect(QPoint(11 * c + 1, 3), QPoint(w - c, h - 1)), message_);
    }

private:
    void pane(QPainter& p, const QRect& r, const QString& text) {
        if (r.width() <= 2) return;
        p.setPen(Qt::black);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(Qt::white);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(Qt::black);
        p.drawText(r.adjusted(3, 1, -2, -1), Qt::AlignVCenter | Qt::AlignLeft, text);
    }

    QString state_;
    QString message_;
};

// A text window's MDI child: the user cannot close it while its unit is
// open; once the unit was closed and the window kept, Close (Ctrl+F4)
// closes it.
class TextSubWindow : public QMdiSubWindow {
public:
    explicit TextSubWindow(WindowPtr window) : window_(std::move(window)) {}

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override {
        // Minimised, the window still takes what is typed, as its view
        // does when shown (unless it is being moved or sized with the
        // keyboard, which holds the keyboard meanwhile).
        if (isMinimized() && widget() && keyboardGrabber() != this) {
            QApplication::sendEvent(widget(), event);
            return;
        }
        QMdiSubWindow::keyPressEvent(event);
    }

private:
    WindowPtr window_;
};

class Frame : public QMainWindow {
public:
    Frame() { setAcceptDrops(true); }

protected:
    // A file dropped on the window answers the program as the entry file
    // item does; the drag is refused when the program waits for nothing.
    void dragEnterEvent(QDragEnterEvent* event) override { take_drag(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { take_drag(event); }
    void dropEvent(QDropEvent* event) override {
        QString path;
        if (!entry_file_of_drop(event->mimeData(), &path)) return;
        event->acceptProposedAction();
        // After the drop has ended: the rule's box, if any, is modal.
        QTimer::singleShot(0, this, [path] { answer_with_entry_file(path); });
    }

private:
    static void take_drag(QDragMoveEvent* event) {
        QString path;
        if (entry_file_of_drop(event->mimeData(), &path)) event->acceptProposedAction();
    }

protected:

    void keyPressEvent(QKeyEvent* event) override {
        // A key no text window took: with none active (the user closed the
        // last one), Ctrl+C still closes the application, as Exit does.
        if (event->key() == Qt::Key_C && event->modifiers() == Qt::ControlModifier) {
            run_command(kMinimalExit);
            return;
        }
        QMainWindow::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        // Closing the frame ends the application at any time: the program
        // stops at its next step, every unit is closed, then the event loop
        // ends.
        event->ignore();
        begin_shutdown();
    }
};

struct FrameState {
    Frame* frame = nullptr;
    QMdiArea* mdi = nullptr;
    StatusBar* status = nullptr;
    QMenu* minimal_file = nullptr;
    QMenu* popups[6] = {};
    bool full_built = false;
    bool full_shown = false;
    std::vector<std::pair<int, QAction*>> actions;
    QAction* state_action = nullptr;
    RunState state_item = RunState::Running;  // what the "&State" item shows
    RunState state = RunState::Running;
    // Status message with one saved message while "Input pending in " is up.
    QString message;
    QString saved_message;
    bool input_message_up = false;
    QTimer* repaint_timer = nullptr;
    std::vector<WindowPtr> repaint_pending;
};

FrameState g;

const char* const kStateWords[] = {"Running", "Paused", "Finished"};

QAction* action_for(int id) {
    for (auto& [command, action] : g.actions) {
        if (command == id) return action;
    }
    return nullptr;
}

void show_status() {
    if (g.status) g.status->set_texts(QString::fromLatin1(kStateWords[static_cast<int>(g.state)]), g.message);
}

// The items' states, computed when a popup opens.
void update_items() {
    for (auto& [id, action] : g.actions) {
        if (action == g.state_action) continue;
        const Command* c = find_command(id);
        action->setEnabled(command_enabled(id));
        if (c && c->checked) action->setChecked(c->checked());
    }
    // The "&State" item follows the state the first time a popup opens
    // after it changed; once Finished it no longer changes.
    const RunState state = run_state();
    if (state != RunState::Finished && state != g.state_item && g.state_action) {
        const Command* c = find_command(state == RunState::Paused ? kResume : kPause);
        g.state_action->setText(QString::fromLatin1(c->text));
        g.state_action->setData(c->id);
        g.state_item = state;
    }
}

QMdiSubWindow* current_sub();

// "&Input" follows the pending read each time the menu bar is entered: by a
// click on it, or from the keyboard (Alt, F10), which gives it the focus.
class MenuBarWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn) {
            if (QAction* input = action_for(1023)) input->setEnabled(command_enabled(1023));
        }
        // A popup opened with the mouse and closed with Escape can leave
        // the bar holding the focus with no title selected: it then takes
        // no key, and the text window would get none until a click.  Such
        // a key goes to the active text window, which takes the focus back;
        // Escape only gives the focus back, as it leaves a menu bar.
        if (event->type() == QEvent::KeyPress && !static_cast<QMenuBar*>(object)->activeAction()) {
            if (QMdiSubWindow* sub = current_sub()) {
                sub->widget()->setFocus();
                if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) QApplication::sendEvent(sub->widget(), event);
                return true;
            }
        }
        return QObject::eventFilter(object, event);
    }
};

void build_full_menu() {
    if (g.full_built) return;
    const char* const titles[] = {"&File", "&Edit", "&View", "&State", "&Window", "&Help"};
    for (int i = 0; i < 6; ++i) {
        g.popups[i] = new QMenu(QString::fromLatin1(titles[i]), g.frame);
        QObject::connect(g.popups[i], &QMenu::aboutToShow, g.frame, [] { update_items(); });
        help_watch_menu(g.popups[i]);  // F1 on the open popup: help mode
    }
    // The "&Window" popup ends with the list of the text windows.
    QMenu* window_popup = g.popups[static_cast<int>(Popup::Window)];
    QObject::connect(window_popup, &QMenu::aboutToShow, g.frame, [window_popup] { fill_window_list(window_popup); });
    for (int i = 0; i < kCommandCount; ++i) {
        const Command& c = kCommands[i];
        if (c.id == kResume) continue;  // shares the "&State" item with Pause
        QAction* action = g.popups[static_cast<int>(c.popup)]->addAction(QString::fromLatin1(c.text));
        action->setData(c.id);
        action->setCheckable(c.checked != nullptr);
        action->setEnabled(c.action != nullptr);
        QObject::connect(action, &QAction::triggered, g.frame, [action] { run_command(action->data().toInt()); });
        g.actions.emplace_back(c.id, action);
        if (c.id == kPause) g.state_action = action;
    }
    // The program's entry file item comes first in "&File".
    if (const EntryFileRule* rule = entry_file_rule()) {
        QMenu* file = g.popups[static_cast<int>(Popup::File)];
        QAction* first = file->actions().value(0);
        auto* open = new QAction(QString::fromUtf8(rule->item_text), file);
        open->setData(kOpenEntryFile);
        open->setEnabled(false);
        file->insertAction(first, open);
        file->insertSeparator(first);
        QObject::connect(open, &QAction::triggered, g.frame, [] { run_command(kOpenEntryFile); });
        g.actions.emplace_back(kOpenEntryFile, open);
    }
    if (QAction* input = action_for(1023)) input->setEnabled(false);
    if (QAction* status = action_for(1015)) status->setChecked(true);
    g.full_built = true;
}

void show_menu(bool full) {
    if (!g.frame || full == g.full_shown) return;
    QMenuBar* bar = g.frame->menuBar();
    bar->clear();
    if (full) {
        build_full_menu();
        for (QMenu* popup : g.popups) bar->addMenu(popup);
    } else {
        bar->addMenu(g.minimal_file);
    }
    g.full_shown = full;
}

void TextSubWindow::closeEvent(QCloseEvent* event) {
    if (!window_->closed.load()) {
        event->ignore();
        return;
    }
    forget_window(window_);
    QMdiSubWindow::closeEvent(event);
    // Once it is gone the bar follows the window active then: the minimal
    // one when this was the last.  (While it closes, the area still names
    // it as its current window.)
    QTimer::singleShot(0, g.frame, [] { show_menu(current_sub() != nullptr); });
}

TextSubWindow* sub_of(const WindowPtr& window) { return static_cast<TextSubWindow*>(window->sub.data()); }

// The active text window's child: the MDI area's current one when it is
// shown (a window is hidden until its first output or input).
QMdiSubWindow* current_sub() {
    QMdiSubWindow* sub = g.mdi ? g.mdi->currentSubWindow() : nullptr;
    return sub && sub->isVisible() ? sub : nullptr;
}

// A dialog, box or window of ours that closes gives the keyboard back to
// the frame.  A window manager does that by itself; without one (a bare X
// server, a kiosk session) the input focus falls back to the root window
// and every key is lost until the user clicks into a text window.  Checked
// once the event loop has seen the hide through, and only when no window
// of the application holds the focus.
class FocusReturn : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Hide && closes_a_window(object)) {
            QTimer::singleShot(0, g.frame, [] { return_focus(); });
        }
        return QObject::eventFilter(object, event);
    }

private:
    // A dialog, a box or another window of ours (the help window), not a
    // menu's popup.
    static bool closes_a_window(QObject* object) {
        auto* widget = qobject_cast<QWidget*>(object);
        return widget && widget != g.frame && widget->isWindow() && widget->windowType() != Qt::Popup &&
               widget->windowType() != Qt::ToolTip;
    }
    static void return_focus() {
        if (!g.frame || !g.frame->isVisible() || shutting_down()) return;
        if (QApplication::activeWindow() || QApplication::activePopupWidget() || QApplication::activeModalWidget()) {
            return;
        }
        g.frame->activateWindow();
        if (g.frame->focusWidget()) return;
        if (QMdiSubWindow* sub = current_sub()) sub->widget()->setFocus();
    }
};

void flush_repaints() {
    std::vector<WindowPtr> pending;
    pending.swap(g.repaint_pending);
    for (const WindowPtr& window : pending) {
        window->repaint_requested.store(false);
        if (window->view) window->view->viewport()->update();
        full_screen_repaint(window);
    }
}

QString title_of(const WindowPtr& window) {
    std::lock_guard lock(window->output_lock);
    return QString::fromStdString(window->title);
}

// Shows a configured window for the first time.
void first_show(const WindowPtr& window) {
    TextSubWindow* sub = sub_of(window);
    if (!sub || window->shown) return;
    window->shown = true;
    const QSize area = g.mdi->viewport()->size();
    const QSize virtual_size = window->view->virtual_size();
    sub->show();
    // The frame around the client area, to keep the child no larger than
    // its virtual screen.
    const QSize extra = sub->size() - window->view->size();
    const QSize limit = virtual_size + extra;
    sub->setMaximumSize(limit);
    sub->resize(QSize(std::min(limit.width(), std::max(area.width() * 4 / 5, 200)),
                      std::min(limit.height(), std::max(area.height() * 4 / 5, 120))));
    if (!current_sub() || current_sub() == sub) {
        g.mdi->setActiveSubWindow(sub);
        window->view->setFocus();
        // The frame takes the input focus itself: without a window manager
        // the X server leaves it on the root window, and typed keys would
        // be lost until a click.
        if (!QApplication::activeWindow()) g.frame->activateWindow();
    }
    window->view->update_scroll_ranges();
    window->view->viewport()->update();
    show_menu(current_sub() != nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------

bool frame_create(const std::string& app_name) {
    g.frame = new Frame;
    g.frame->setWindowTitle(QString::fromStdString(app_name));
    auto* central = new QWidget(g.frame);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    g.mdi = new QMdiArea(central);
    g.mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    g.mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(g.mdi, 1);
    g.status = new StatusBar;
    layout->addWidget(g.status);
    g.frame->setCentralWidget(central);

    g.minimal_file = new QMenu(QStringLiteral("&File"), g.frame);
    QAction* exit = g.minimal_file->addAction(QStringLiteral("E&xit"));
    exit->setData(kMinimalExit);
    QObject::connect(exit, &QAction::triggered, g.frame, [] { run_command(kMinimalExit); });
    help_watch_menu(g.minimal_file);
    g.frame->menuBar()->addMenu(g.minimal_file);
    g.frame->menuBar()->installEventFilter(new MenuBarWatch(g.frame));
    qApp->installEventFilter(new FocusReturn(g.frame));
    g.full_shown = false;

    // The full bar while a text window is active, the minimal one otherwise.
    QObject::connect(g.mdi, &QMdiArea::subWindowActivated, g.frame, [](QMdiSubWindow*) {
        show_menu(current_sub() != nullptr);
    });

    g.repaint_timer = new QTimer(g.frame);
    g.repaint_timer->setSingleShot(true);
    g.repaint_timer->setInterval(16);  // the screen's pace
    QObject::connect(g.repaint_timer, &QTimer::timeout, g.frame, [] { flush_repaints(); });

    show_status();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        g.frame->resize(available.width() * 3 / 4, available.height() * 3 / 4);
        g.frame->move(available.center() - g.frame->rect().center());
    }
    if (platform_profile_maximised(app_name) != 0) {
        g.frame->showMaximized();
    } else {
        g.frame->show();
    }
    return true;
}

void frame_exit() {
    ui_minimal_menu();
    ui_close_frame();
}

void frame_toggle_status_bar() {
    if (!g.status) return;
    g.status->setVisible(!g.status->isVisible());
    if (QAction* action = action_for(1015)) action->setChecked(g.status->isVisible());
}

bool frame_status_bar_visible() { return g.status && g.status->isVisible(); }

void frame_about() {
    show_message_box(kAboutText, facts().app_name.c_str(), forrtl::MB_TASK_MODAL | 0x40);
}

bool frame_full_menu_built() { return g.full_built; }

void frame_release_menus() {
    if (!is_interface_thread() || !g.frame) return;
    g.frame->menuBar()->clear();
    for (QMenu*& popup : g.popups) {
        delete popup;
        popup = nullptr;
    }
    g.actions.clear();
    g.state_action = nullptr;
    g.full_built = false;
    g.full_shown = false;
}

QWidget* ui_frame_widget() { return g.frame; }

QMdiArea* frame_mdi_area() { return g.mdi; }

// ---------------------------------------------------------------------------
// Text windows on the interface thread.

void ui_create_window(const WindowPtr& window) {
    if (!g.mdi || window->sub) return;
    auto* view = new TextView(window);
    auto* sub = new TextSubWindow(window);
    sub->setWidget(view);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(title_of(window));
    // The user cannot close the window of an open unit: no "Close" in its
    // system menu (nor the separator above it) until the unit is closed.
    if (QMenu* menu = sub->systemMenu()) {
        const QList<QAction*> items = menu->actions();
        for (int i = static_cast<int>(items.size()) - 1; i >= 0; --i) {
            if (items[i]->shortcut() == QKeySequence(QKeySequence::Close) ||
                items[i]->text().contains(QStringLiteral("Close"))) {
                menu->removeAction(items[i]);
                if (i > 0 && items[i - 1]->isSeparator()) menu->removeAction(items[i - 1]);
                break;
            }
        }
    }
    set_closable(sub, false);  // nor a close button on its title bar
    g.mdi->addSubWindow(sub);
    sub->hide();  // shown at its first output or input
    window->view = view;
    window->sub = sub;
    bool configured;
    {
        std::lock_guard lock(window->output_lock);
        configured = window->configured;
    }
    if (configured) first_show(window);
}

void ui_window_configured(const WindowPtr& window) { first_show(window); }

void ui_activate_window(const WindowPtr& window) {
    TextSubWindow* sub = sub_of(window);
    if (!sub) return;
    if (!window->shown) first_show(window);
    g.mdi->setActiveSubWindow(sub);
    if (window->view) window->view->setFocus();
}

void ui_window_closed(const WindowPtr& window) {
    full_screen_window_closing(window);
    TextSubWindow* sub = sub_of(window);
    if (!sub) return;
    sub->setWindowTitle(title_of(window));
    if (sub->property("close_item").toBool()) return;
    sub->setProperty("close_item", true);
    set_closable(sub, true);
    // Ctrl+F4 itself reaches the window through its key handling.
    QAction* close = new QAction(QStringLiteral("&Close\tCtrl+F4"), sub);
    QObject::connect(close, &QAction::triggered, sub, [sub] { sub->close(); });
    if (QMenu* menu = sub->systemMenu()) {
        menu->addSeparator();
        menu->addAction(close);
    }
}

void ui_destroy_window(const WindowPtr& window) {
    full_screen_window_closing(window);
    if (TextSubWindow* sub = sub_of(window)) sub->close();
    window_forgotten_for_input(window);
}

void ui_repaint_soon(const WindowPtr& window) {
    g.repaint_pending.push_back(window);
    if (g.repaint_timer && !g.repaint_timer->isActive()) g.repaint_timer->start();
}

WindowPtr ui_active_window() {
    QMdiSubWindow* sub = current_sub();
    auto* view = sub ? dynamic_cast<TextView*>(sub->widget()) : nullptr;
    return view ? view->window() : nullptr;
}

void ui_set_status_message(const std::string& text) {
    if (g.input_message_up) {
        g.saved_message = QString::fromStdString(text);
        return;
    }
    g.message = QString::fromStdString(text);
    show_status();
}

void ui_clear_status_message() { ui_set_status_message(std::string()); }

void ui_set_state_word(RunState state) {
    g.state = state;
    show_status();
}

void ui_input_pending(const WindowPtr& window) {
    if (!g.input_message_up) g.saved_message = g.message;
    g.input_message_up = true;
    g.message = QStringLiteral("Input pending in ") + title_of(window);
    show_status();
    if (QAction* input = action_for(1023)) input->setEnabled(true);
}

void ui_input_done() {
    if (g.input_message_up) {
        g.input_message_up = false;
        g.message = g.saved_message;
        g.saved_message.clear();
        show_status();
    }
    if (QAction* input = action_for(1023)) input->setEnabled(false);
}

void ui_set_paste_pending(bool pending) {
    if (QAction* clear = action_for(1022)) clear->setEnabled(pending);
    if (QAction* paste = action_for(1021)) paste->setEnabled(!pending && platform_clipboard_has_text());
}

void ui_minimal_menu() { show_menu(false); }

void ui_close_frame() {
    if (g.frame) g.frame->close();
}

std::string state_word() {
    std::string word;
    ui_call([&] { word = g.status ? g.status->state().toStdString() : std::string(); });
    return word;
}

std::string status_message() {
    std::string message;
    ui_call([&] { message = g.status ? g.status->message().toStdString() : std::string(); });
    return message;
}

}  // namespace host
