#include "views.h"

#include <QApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include "frame.h"
#include "text_view.h"

namespace host {

// ---------------------------------------------------------------------------
// The stretched picture.

QRect StretchedPicture::paint(QPainter& painter, const QRect& target, WindowRecord& window, const CellFont& font,
                              bool caret_on) {
    const HostFacts& f = facts();
    bool changed = false;
    int columns = 0, rows = 0, cursor_column = 0, cursor_row = 0, shape_first = 0, shape_last = 7;
    {
        std::lock_guard lock(window.output_lock);
        if (window.configured) {
            const TextScreen& screen = window.screen;
            columns = screen.columns();
            rows = screen.rows();
            const std::size_t count = static_cast<std::size_t>(columns) * rows;
            if (cells_.size() != count) {
                cells_.assign(count, Cell{U' ', 0, 0, 0});
                changed = true;
            }
            const std::size_t row_bytes = static_cast<std::size_t>(columns) * sizeof(Cell);
            for (int row = 1; row <= rows; ++row) {
                Cell* mine = &cells_[static_cast<std::size_t>(row - 1) * columns];
                if (std::memcmp(mine, screen.row_cells(row), row_bytes) != 0) {
                    std::memcpy(mine, screen.row_cells(row), row_bytes);
                    changed = true;
                }
            }
            cursor_column = screen.cursor_abs_column();
            cursor_row = screen.cursor_abs_row();
            shape_first = window.cursor_shape_first;
            shape_last = window.cursor_shape_last;
        } else if (!cells_.empty()) {
            cells_.clear();
            changed = true;
        }
    }
    const QSize size(f.screen_width, f.screen_height);
    if (image_.size() != size || changed) {
        if (image_.size() != size) image_ = QImage(size, QImage::Format_RGB32);
        image_.fill(Qt::black);
        QPainter picture(&image_);
        paint_cells(picture, font, cells_.data(), columns, rows, QPoint(0, 0));
    }
    // Smoothed, so that shrunken text stays legible.
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
    painter.restore();
    if (cursor_row == 0 || shape_last < shape_first) return QRect();
    const double sx = static_cast<double>(target.width()) / size.width();
    const double sy = static_cast<double>(target.height()) / size.height();
    const int top = shape_first * font.cell_height / 8;
    const int bottom = (shape_last + 1) * font.cell_height / 8;
    const QRect caret = QRectF(target.x() + (cursor_column - 1) * font.cell_width * sx,
                               target.y() + ((cursor_row - 1) * font.cell_height + top) * sy, font.cell_width * sx,
                               (bottom - top) * sy)
                            .toAlignedRect();
    if (caret_on) {
        painter.save();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(caret, Qt::white);
        painter.restore();
    }
    return caret;
}

// ---------------------------------------------------------------------------
// Size To Fit.

void fit_command(const WindowPtr& window) {
    if (!window || !window->view || window->selection.active()) return;
    window->fitted = !window->fitted;
    window->view->set_fitted(window->fitted);
}

// ---------------------------------------------------------------------------
// Full Screen.

namespace {

class FullScreenView : public QWidget {
public:
    FullScreenView(WindowPtr window, QWidget* owner)
        : QWidget(owner, Qt::Window | Qt::FramelessWindowHint), window_(std::move(window)), font_(CellFont::make()) {
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_InputMethodEnabled);
        setFocusPolicy(Qt::StrongFocus);
        setWindowTitle(QString::fromStdString(facts().app_name));
        caret_timer_.setInterval(std::max(100, QApplication::cursorFlashTime() / 2));
        connect(&caret_timer_, &QTimer::timeout, this, [this] {
            caret_on_ = !caret_on_;
            update(caret_);
        });
        caret_timer_.start();
    }

    const WindowPtr& window() const { return window_; }
    bool leaving = false;  // closed by leave_full_screen, not by the user

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        caret_ = picture_.paint(painter, rect(), *window_, font_, caret_on_ && hasFocus());
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        const bool alt_enter = (key == Qt::Key_Return || key == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier);
        if (alt_enter || key == Qt::Key_Escape) {
            leave_full_screen();
            return;
        }
        // Typed as in the text window, the Ctrl keys as the characters
        // they make.
        if (TextView::type_key(window_, event)) {
            caret_on_ = true;
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) leave_full_screen();
    }
    void closeEvent(QCloseEvent* event) override {
        // Closed through the window system: the application closes too.
        if (!leaving) ui_close_frame();
        QWidget::closeEvent(event);
    }

private:
    WindowPtr window_;
    CellFont font_;
    StretchedPicture picture_;
    QTimer caret_timer_;
    bool caret_on_ = true;
    QRect caret_;
};

QPointer<FullScreenView> g_full;

}  // namespace

void full_screen_command(const WindowPtr& window) {
    if (g_full) {
        leave_full_screen();
        return;
    }
    if (!window || window->selection.active()) return;
    QWidget* frame = ui_frame_widget();
    auto* view = new FullScreenView(window, frame);
    g_full = view;
    QScreen* screen = frame ? frame->screen() : QGuiApplication::primaryScreen();
    if (screen) view->setGeometry(screen->geometry());
    view->showFullScreen();
    view->raise();
    view->activateWindow();
    view->setFocus();
}

bool full_screen_shown() { return g_full != nullptr; }

void leave_full_screen() {
    FullScreenView* view = g_full;
    if (!view) return;
    g_full = nullptr;
    view->leaving = true;
    const WindowPtr window = view->window();
    view->close();
    if (QWidget* frame = ui_frame_widget()) {
        frame->raise();
        frame->activateWindow();
    }
    if (window->sub && window->sub->isVisible()) ui_activate_window(window);
}

void full_screen_window_closing(const WindowPtr& window) {
    if (g_full && g_full->window() == window) leave_full_screen();
}

void full_screen_repaint(const WindowPtr& window) {
    if (g_full && g_full->window() == window) g_full->update();
}

// ---------------------------------------------------------------------------
// Arranging the windows.

void cascade_command() {
    // The windows that are neither minimised nor hidden, each one title
    // bar below and right of the one before, the active one last (on top);
    // all of one size, so that the last one reaches the area's far corner.
    QMdiArea* mdi = frame_mdi_area();
    if (!mdi) return;
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : mdi->subWindowList(QMdiArea::CreationOrder)) {
        if (sub->isHidden() || sub->isMinimized()) continue;
        if (sub->isMaximized()) sub->showNormal();
        subs.append(sub);
    }
    if (subs.isEmpty()) return;
    if (QMdiSubWindow* active = mdi->activeSubWindow(); active && subs.removeOne(active)) subs.append(active);
    const int step = mdi->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, subs.front()) + 4;
    const QSize area = mdi->viewport()->size();
    const int n = static_cast<int>(subs.size());
    const QSize size(std::max(area.width() - step * (n - 1), area.width() / 2),
                     std::max(area.height() - step * (n - 1), area.height() / 2));
    // Many windows start over from the top-left corner.
    const int room = std::min(area.width() - size.width(), area.height() - size.height());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* sub = subs[i];
        const int offset = room > 0 ? i * step % (room + 1) : 0;
        sub->setGeometry(QRect(QPoint(offset, offset), size.boundedTo(sub->maximumSize())));
        sub->raise();
    }
}

void tile_command() {
    if (QMdiArea* mdi = frame_mdi_area()) mdi->tileSubWindows();
}

void arrange_icons_command() {
    // The minimised windows in a row along the bottom edge, from the left,
    // further rows above it.
    QMdiArea* mdi = frame_mdi_area();
    if (!mdi) return;
    const int width = mdi->viewport()->width();
    int x = 0, bottom = mdi->viewport()->height(), row_height = 0;
    for (QMdiSubWindow* sub : mdi->subWindowList(QMdiArea::CreationOrder)) {
        if (sub->isHidden() || !sub->isMinimized()) continue;
        const QSize size = sub->size();
        if (x > 0 && x + size.width() > width) {
            x = 0;
            bottom -= row_height;
            row_height = 0;
        }
        sub->move(x, bottom - size.height());
        x += size.width();
        row_height = std::max(row_height, size.height());
    }
}

namespace {

const char kListItem[] = "loxnar_window_list";

void activate_sub(QMdiSubWindow* sub) {
    QMdiArea* mdi = frame_mdi_area();
    if (!sub || !mdi) return;
    mdi->setActiveSubWindow(sub);
    if (QWidget* view = sub->widget()) view->setFocus();
}

}  // namespace

void fill_window_list(QMenu* popup) {
    for (QAction* action : popup->actions()) {
        if (!action->property(kListItem).toBool()) continue;
        popup->removeAction(action);
        delete action;
    }
    QMdiArea* mdi = frame_mdi_area();
    if (!mdi) return;
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : mdi->subWindowList(QMdiArea::CreationOrder)) {
        if (!sub->isHidden()) subs.append(sub);
    }
    if (subs.isEmpty()) return;
    popup->addSeparator()->setProperty(kListItem, true);
    // The first nine by number, the others through a list.
    constexpr int kListed = 9;
    for (int i = 0; i < std::min<int>(static_cast<int>(subs.size()), kListed); ++i) {
        QPointer<QMdiSubWindow> sub = subs[i];
        QString title = sub->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* item = popup->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(title));
        item->setProperty(kListItem, true);
        item->setCheckable(true);
        item->setChecked(sub == mdi->activeSubWindow());
        QObject::connect(item, &QAction::triggered, mdi, [sub] { activate_sub(sub); });
    }
    if (subs.size() > kListed) {
        QAction* more = popup->addAction(QStringLiteral("&More Windows..."));
        more->setProperty(kListItem, true);
        QObject::connect(more, &QAction::triggered, mdi, [] {
            QMdiArea* area = frame_mdi_area();
            if (!area) return;
            QList<QPointer<QMdiSubWindow>> shown;
            QStringList titles;
            int current = 0;
            for (QMdiSubWindow* sub : area->subWindowList(QMdiArea::CreationOrder)) {
                if (sub->isHidden()) continue;
                if (sub == area->activeSubWindow()) current = static_cast<int>(titles.size());
                shown.append(sub);
                titles.append(sub->windowTitle());
            }
            bool ok = false;
            const QString chosen = QInputDialog::getItem(ui_frame_widget(), QStringLiteral("Select Window"),
                                                         QStringLiteral("&Select Window:"), titles, current, false, &ok);
            const int index = static_cast<int>(titles.indexOf(chosen));
            if (ok && index >= 0) activate_sub(shown[index]);
        });
    }
}

}  // namespace host
