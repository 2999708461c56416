// The host's platform layer: the few system services the host needs, from
// Qt 6 and POSIX, in one place.  What Win32 gave the original host:
//   module file name       /proc/self/exe
//   profile key            QSettings (INI file named after the application)
//   screen metrics         QScreen
//   fonts                  QFont with the cell-size acceptance rule
//   MessageBeep            QApplication::beep
//   thread priority        setpriority on the thread (nice + 1)
//   SendMessage/PostMessage to the interface thread
//                          ui_call / ui_post: a task queue under a std::mutex,
//                          woken through an eventfd watched by a
//                          QSocketNotifier, so that no Qt object is touched
//                          by another thread
//   clipboard              QClipboard (text, and pictures for Copy)
//   MessageBoxA, GetOpenFileNameA
//                          QMessageBox, QFileDialog
#pragma once

#include <functional>
#include <string>

class QFont;
class QImage;
class QWidget;

namespace host {

// The base name of the executable without directory and extension, or
// "PaneShell" when it cannot be read.
std::string platform_app_name();

// The profile key "PSHLMaximized" of the application's section: non-zero
// starts the frame maximised.
int platform_profile_maximised(const std::string& app_name);

struct DisplayMetrics {
    int width = 0, height = 0;  // pixels
    int colour_count = 256;     // 2^depth, at most 256
};
DisplayMetrics platform_display();

// The font of the character cells: Liberation Mono (standing in for
// "Courier New") made for a cell of cell_width x cell_height; accepted when
// its real average width lies within cell_width - 2 .. cell_width + 1 and
// its height within cell_height - 2 .. cell_height + 2, the cell then
// taking the real values.  Otherwise one more try with the cell recomputed
// from the screen's pixels and cell counts.  Returns false when no font
// was accepted (the cell keeps the default size).
bool platform_choose_font(int screen_width, int screen_height, int* cell_width, int* cell_height, int* pixel_size);
QFont platform_cell_font(int pixel_size);

void platform_beep();
int platform_beep_count();

// Lowers the calling thread's scheduling priority by one step.
void platform_lower_thread_priority();

// The interface thread's task queue.  ui_queue_start runs once on the
// interface thread.  ui_post queues a task and returns; ui_call runs it on
// the interface thread and waits for it (directly when called there).
void ui_queue_start();
void ui_post(std::function<void()> task);
void ui_call(const std::function<void()>& task);

std::string platform_clipboard_text();
bool platform_clipboard_has_text();
// Puts text (UTF-8) or a picture on the clipboard, replacing what was there.
void platform_set_clipboard_text(const std::string& text);
void platform_set_clipboard_image(const QImage& image);

// The standard dialogs, owned by `owner` (may be nullptr).
int platform_message_box(QWidget* owner, const char* text, const char* title, unsigned style);
int platform_choose_file(QWidget* owner, char* buffer, int capacity, const char* title);
// An existing file to open, offered with `filters` ("Name (*.ext);;...",
// the first one selected), from the current folder.
int platform_open_file(QWidget* owner, char* buffer, int capacity, const char* title, const char* filters);
// Cancels every dialog that is open (a message box answers as closed: No,
// or OK), ending its wait.
void platform_close_dialogs();

}  // namespace host
