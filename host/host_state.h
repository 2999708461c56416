// The host's shared state: the window records, the window table, the run
// state with its gate, the line-input state, and the functions the host's
// parts call on one another.  Internal to host/.
//
// Threads: the interface thread (the thread that ran host_initialise; it
// owns every Qt object) and the calculation thread(s), which only call the
// host operations.  A calculation thread never touches a Qt object: what it
// needs done on the interface thread goes through ui_post / ui_call
// (platform.h).  Locks, all std::mutex:
//   table lock   the window table, the default window          (brief)
//   output lock  per window: its TextScreen, title, flags        (brief)
//   read lock    per window: one line read at a time             (a read)
//   input lock   the line-input state and the per-window events  (brief)
//   run lock     run state, gate, shut-down progress             (brief)
// No thread waits for the interface thread while it holds one of them, so
// the interface thread may take any of them without deadlock.
#pragma once

#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "host.h"
#include "text_screen.h"

class QMdiSubWindow;
class QWidget;

namespace host {

class TextView;

constexpr int kFirstWindow = 1024;
constexpr int kWindowSlots = 40;

// A text window's selection (interface thread only).  Points are 0-based
// cells of the virtual screen in a text selection, pixels of it in a
// graphics selection.
struct Selection {
    enum Kind { None, Text, Graphics };
    Kind kind = None;
    bool mark_mode = false;   // entered by Select Text or Select Graphics
    bool select_all = false;  // entered by Select All
    bool started = false;     // the first click or Shift movement fixed an anchor
    bool marked = false;      // an area is marked: Copy may take it
    bool dragging = false;    // the left button is down, the end follows the pointer
    int anchor_x = -1, anchor_y = -1;
    int end_x = -1, end_y = -1;

    bool active() const { return kind != None; }
};

// One text window (the Part's window record).
struct WindowRecord {
    int number = 0;  // 1024 + slot

    // Guarded by the output lock.
    std::mutex output_lock;
    TextScreen screen;
    std::string title;       // shown in the caption (with "-Closed" once closed)
    std::string open_title;  // the title given at open time
    bool configured = false;
    std::atomic<bool> closed{false};  // the unit was closed and the window kept (set under the output lock)
    std::uint8_t cursor_shape_first = 0;  // scan lines of the caret (of 8)
    std::uint8_t cursor_shape_last = 7;

    std::mutex read_lock;  // one line read at a time in this window

    // Guarded by the input lock.
    bool reading = false;     // a line read is in progress here
    bool line_ready = false;  // the window's event: set when the line is finished

    std::atomic<bool> keep_current{false};
    std::atomic<bool> repaint_requested{false};

    // Interface thread only.
    QPointer<TextView> view;
    QPointer<QMdiSubWindow> sub;
    bool shown = false;
    Selection selection;
    bool fitted = false;  // Size To Fit: the whole virtual screen in the client area
};

using WindowPtr = std::shared_ptr<WindowRecord>;

enum class RunState { Running = 0, Paused = 1, Finished = 2 };

// ---------------------------------------------------------------------------
// Process-wide host facts fixed at initialisation (read-only afterwards).
struct HostFacts {
    std::string app_name = "PaneShell";
    int screen_width = 0;   // pixels
    int screen_height = 0;
    int cell_width = 8;     // accepted font metrics
    int cell_height = 16;
    int font_pixel_size = 14;
    int colour_count = 256;
};
const HostFacts& facts();

// ---------------------------------------------------------------------------
// Windows (windows.cpp).
// The window of a number (null when invalid or empty).  The reference is
// the calling thread's own copy, valid until its next call.
const WindowPtr& window_for(int number);
WindowPtr window_at_slot(int slot);
int open_window(const char* title);               // -1 when no slot is free
// Draws bytes into the window (configuring it on first use) and asks for a
// repaint.  -1 when the window is closed.  Any thread; takes the output lock.
int draw_text(const WindowPtr& window, const char* bytes, int count);
void configure_if_needed(WindowRecord& window);  // under the output lock
// Configures the window if it is not yet (a read before any output).
void configure_window(const WindowPtr& window);
Encoding current_encoding();
void request_repaint(const WindowPtr& window);
int select_window(int number);                    // host_select_window
// Forgets the window's slot and its pending read (interface thread, when
// the user closes a closed-and-kept window).
void forget_window(const WindowPtr& window);
bool is_interface_thread();

// The host operations (the run-time's HostOps).
int host_write_text(const char* text, int length, int window, int mode);
int host_read_line(char* buffer, int capacity, int window);
int host_open_window(const char* title);
int host_select_window(int window);
int host_activate_window(int window);
int host_current_window();
int host_keep_window_current(int window);
int host_close_window(int window, int keep);
int host_message_box(const char* text, const char* title, unsigned style);
int host_choose_file(char* buffer, int capacity, const char* title);
int host_program_exit(int exit_code);
int host_set_code_page(int code_page);
void host_transfer_gate();
void host_close_application(int exit_code);

// ---------------------------------------------------------------------------
// Interface-thread side of the windows (frame.cpp, text_view.cpp).
void ui_create_window(const WindowPtr& window);
void ui_window_configured(const WindowPtr& window);
void ui_activate_window(const WindowPtr& window);
void ui_window_closed(const WindowPtr& window);   // title with "-Closed", Close allowed
void ui_destroy_window(const WindowPtr& window);
void ui_repaint_soon(const WindowPtr& window);
WindowPtr ui_active_window();                     // the active text window, if any
void ui_set_status_message(const std::string& text);
void ui_clear_status_message();
void ui_set_state_word(RunState state);
// A read waits in the window: "Input pending in " + title, "&Input" enabled.
void ui_input_pending(const WindowPtr& window);
void ui_input_done();
void ui_set_paste_pending(bool pending);
void ui_minimal_menu();
QWidget* ui_frame_widget();
void ui_close_frame();

// ---------------------------------------------------------------------------
// Run state (run_state.cpp).
RunState run_state();
// The gate a calculation thread passes at each host operation and record
// transfer: returns at once unless the program is paused or the host is
// shutting down; blocks while paused; on shut-down it ends the calling
// calculation thread's work (never returns).  No-op on the interface thread.
void gate_pass();
// True when the gate is closed for the calling thread (paused or shutting
// down, and the thread is a calculation thread not itself shutting down).
bool gate_holds_this_thread();
bool shutting_down();
void pause_program();                 // command 1008 (interface thread)
void resume_program();                // command 1009
void set_finished();
void begin_shutdown();                // close the application (interface thread)
void calculation_started();
// The calculation thread has ended its work (with the program's exit code
// when it has one); when the application is closing, it now closes.
void note_calculation_ended(bool has_code, int exit_code);
// Installed as the run-time's fatal hook: the program ended with exit_code.
void runtime_fatal_hook(int exit_code);

// ---------------------------------------------------------------------------
// Line input (line_input.cpp).
void route_key(const WindowPtr& window, const std::string& character);  // one typed character (UTF-8)
// Types `line` and Enter into the read that waits, as the user would, in
// place of what was typed so far.  False when no read waits or the
// program is not running.  Interface thread.
bool type_answer(const std::string& line);
void paste_command(const WindowPtr& window);   // 1021
void clear_paste_command();                    // 1022
bool paste_pending();
// host_write_text's mode 1: the bytes become the line being typed, not drawn.
int set_line_buffer(const char* bytes, int count);
WindowPtr pending_input_window();
void wake_readers_for_shutdown();
void window_forgotten_for_input(const WindowPtr& window);

// ---------------------------------------------------------------------------
// Error boxes (run_state.cpp).
enum ErrorCode { kErrOutOfMemory = 4, kErrInternal = 5, kErrInconsistency = 6, kErrInitialMenu = 7 };
void warning_box(int code, const char* module, int line);
void error_box(int code, const char* module, int line);
void fatal_box(int code, const char* module, int line);
// The base name of a source file path, for the error boxes.
const char* module_name(const char* path);
#define HOST_MODULE ::host::module_name(__FILE__)

// Message box through the dialog provider, on the interface thread.
int show_message_box(const char* text, const char* title, unsigned style);
// The file dialog of the entry file item through the dialog provider
// (interface thread): 1 with the chosen file's path in `buffer`, else 0.
int dialog_provider_open_file(char* buffer, int capacity, const char* title, const char* filters);

}  // namespace host
