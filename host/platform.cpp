#include "platform.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "for_host.h"

namespace host {

// ---------------------------------------------------------------------------
// Application name and profile.

std::string platform_app_name() {
    char path[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0) return "PaneShell";
    path[n] = '\0';
    std::string name = path;
    const auto slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? "PaneShell" : name;
}

int platform_profile_maximised(const std::string& app_name) {
    // The profile is an INI file named after the application in the user's
    // configuration folder; the section is the application name.
    const QString app = QString::fromStdString(app_name);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app, app);
    bool ok = false;
    const int value = settings.value(app + "/PSHLMaximized", 0).toInt(&ok);
    return ok ? value : 0;
}

// ---------------------------------------------------------------------------
// Display and font.

DisplayMetrics platform_display() {
    DisplayMetrics m;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        m.width = screen->size().width();
        m.height = screen->size().height();
        const int depth = screen->depth();
        m.colour_count = depth >= 8 ? 256 : (1 << std::max(depth, 1));
    }
    if (m.width <= 0) m.width = 640;
    if (m.height <= 0) m.height = 480;
    return m;
}

QFont platform_cell_font(int pixel_size) {
    QFont font(QStringLiteral("Liberation Mono"));
    font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    font.setFixedPitch(true);
    font.setPixelSize(pixel_size);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setKerning(false);
    return font;
}

namespace {

// The largest pixel size whose font is no taller than the cell.
int pixel_size_for_height(int cell_height) {
    for (int px = cell_height; px > 1; --px) {
        if (QFontMetrics(platform_cell_font(px)).height() <= cell_height) return px;
    }
    return 1;
}

bool accept_font(int px, int* cell_width, int* cell_height) {
    const QFontMetrics m(platform_cell_font(px));
    const int width = m.averageCharWidth();
    const int height = m.height();
    if (width < *cell_width - 2 || width > *cell_width + 1) return false;
    if (height < *cell_height - 2 || height > *cell_height + 2) return false;
    *cell_width = width;
    *cell_height = height + m.leading();
    return true;
}

}  // namespace

bool platform_choose_font(int screen_width, int screen_height, int* cell_width, int* cell_height, int* pixel_size) {
    int px = pixel_size_for_height(*cell_height);
    if (accept_font(px, cell_width, cell_height)) {
        *pixel_size = px;
        return true;
    }
    // Once more, with the cell recomputed from the pixels and cell counts.
    const int columns = std::max(1, screen_width / *cell_width);
    const int rows = std::max(1, screen_height / *cell_height);
    *cell_width = std::max(1, screen_width / columns);
    *cell_height = std::max(1, screen_height / rows);
    px = pixel_size_for_height(*cell_height);
    if (accept_font(px, cell_width, cell_height)) {
        *pixel_size = px;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Beep and thread priority.

namespace {
std::atomic<int> g_beeps{0};
}

void platform_beep() {
    g_beeps.fetch_add(1, std::memory_order_relaxed);
    QApplication::beep();
}

int platform_beep_count() { return g_beeps.load(std::memory_order_relaxed); }

void platform_lower_thread_priority() {
    // On Linux the nice value belongs to the thread: one step below the
    // interface thread, as THREAD_PRIORITY_BELOW_NORMAL is.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    if (errno == 0) setpriority(PRIO_PROCESS, tid, std::min(current + 1, 19));
}

// ---------------------------------------------------------------------------
// The interface thread's task queue.

namespace {

struct TaskQueue {
    std::mutex mutex;
    std::condition_variable done_cv;
    std::deque<std::function<void()>> tasks;
    int event_fd = -1;
    QSocketNotifier* notifier = nullptr;
    std::atomic<bool> started{false};
};

TaskQueue& queue() {
    static TaskQueue* q = new TaskQueue;  // lives until the process ends
    return *q;
}

void run_queued_tasks() {
    TaskQueue& q = queue();
    std::uint64_t count;
    while (read(q.event_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    // One task at a time: a task that opens a dialog runs a nested event
    // loop, in which the tasks queued after it go on being served.
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(q.mutex);
            if (q.tasks.empty()) return;
            task = std::move(q.tasks.front());
            q.tasks.pop_front();
        }
        task();
    }
}

}  // namespace

void ui_queue_start() {
    TaskQueue& q = queue();
    if (q.started.load()) return;
    q.event_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    q.notifier = new QSocketNotifier(q.event_fd, QSocketNotifier::Read, qApp);
    QObject::connect(q.notifier, &QSocketNotifier::activated, qApp, [] { run_queued_tasks(); });
    q.started.store(true);
}

void ui_post(std::function<void()> task) {
    TaskQueue& q = queue();
    bool wake;
    {
        std::lock_guard lock(q.mutex);
        wake = q.tasks.empty();
        q.tasks.push_back(std::move(task));
    }
    if (wake) {
        const std::uint64_t one = 1;
        while (write(q.event_fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void ui_call(const std::function<void()>& task) {
    if (QCoreApplication::instance() && QThread::currentThread() == qApp->thread()) {
        task();
        return;
    }
    TaskQueue& q = queue();
    bool done = false;
    ui_post([&] {
        task();
        std::lock_guard lock(q.mutex);
        done = true;
        q.done_cv.notify_all();
    });
    std::unique_lock lock(q.mutex);
    q.done_cv.wait(lock, [&] { return done; });
}

// ---------------------------------------------------------------------------
// Clipboard.

std::string platform_clipboard_text() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text().toStdString() : std::string();
}

bool platform_clipboard_has_text() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasText();
}

void platform_set_clipboard_text(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdString(text));
}

void platform_set_clipboard_image(const QImage& image) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setImage(image);
}

// ---------------------------------------------------------------------------
// Standard dialogs.

namespace {

// Windows texts separate lines with CR, CR LF or LF.
QString box_text(const char* text) {
    QString s = QString::fromUtf8(text ? text : "");
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

}  // namespace

int platform_message_box(QWidget* owner, const char* text, const char* title, unsigned style) {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromUtf8(title ? title : ""));
    box.setText(box_text(text));
    switch (style & 0xF0) {
    case forrtl::MB_ICON_ERROR: box.setIcon(QMessageBox::Critical); break;
    case 0x20: box.setIcon(QMessageBox::Question); break;
    case forrtl::MB_ICON_EXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case 0x40: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    // Task-modal: the whole application waits for the answer.
    box.setWindowModality(Qt::ApplicationModal);
    if ((style & 0x0F) == forrtl::MB_YESNO_BUTTONS) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        box.setDefaultButton((style & forrtl::MB_DEFAULT_BUTTON2) ? no : yes);
        box.exec();
        return box.clickedButton() == yes ? forrtl::MB_ANSWER_YES : forrtl::MB_ANSWER_NO;
    }
    box.addButton(QMessageBox::Ok);
    box.exec();
    return 1;
}

namespace {

// Runs the dialog; 1 with the chosen file's name in `buffer`, else 0 (also
// for a name that does not fit).
int take_chosen_file(QFileDialog& dialog, char* buffer, int capacity) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return 0;
    const QByteArray name = dialog.selectedFiles().first().toLocal8Bit();
    if (name.isEmpty() || name.size() >= capacity) return 0;
    std::memcpy(buffer, name.constData(), static_cast<std::size_t>(name.size()) + 1);
    return 1;
}

}  // namespace

int platform_choose_file(QWidget* owner, char* buffer, int capacity, const char* title) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = '\0';
    QFileDialog dialog(owner, QString::fromUtf8(title ? title : ""));
    dialog.setNameFilters({QStringLiteral("Text files(*.txt)"), QStringLiteral("Data Files(*.dat)"),
                           QStringLiteral("All Files(*.*)")});
    dialog.selectNameFilter(QStringLiteral("Text files(*.txt)"));
    // A name that does not exist yet may be given: the unit creates it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return take_chosen_file(dialog, buffer, capacity);
}

int platform_open_file(QWidget* owner, char* buffer, int capacity, const char* title, const char* filters) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = '\0';
    QFileDialog dialog(owner, QString::fromUtf8(title ? title : ""));
    dialog.setNameFilter(QString::fromUtf8(filters ? filters : ""));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return take_chosen_file(dialog, buffer, capacity);
}

void platform_close_dialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible()) dialog->reject();
    }
}

}  // namespace host
