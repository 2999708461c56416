// Run state (Running, Paused, Finished) with the pause gate, the end of the
// program with its exit prompt, closing the application, the host's error
// boxes with the fatal path, and the run-time's box and file services.
//
// Pausing.  Linux cannot suspend another thread, so Pause closes a gate
// that every calculation thread passes at each host operation and at each
// record transfer: Pause takes the active window's output lock, sets
// Paused, and from then on a calculation thread blocks at its next pass
// until Resume.  A writer checks the gate again once it holds a window's
// output lock, and Pause passes through every window's output lock after
// closing the gate, so once Pause returns no window changes until Resume.
//
// Closing.  The run-time's exit handler closes every unit; it must not run
// while the calculation thread is inside a statement on another thread's
// behalf, so closing the application closes the gate for good: the
// calculation thread runs the exit handler itself at its next pass (or when
// its wait for a line or for the end of the application is released) and
// parks; the interface thread then ends the event loop.  A calculation that
// reaches no gate within a few seconds (a long computation) is not waited
// for: the interface thread runs the exit handler itself.  A console event
// or SIGTERM closes the application the same way (the run-time asks for it
// through close_application), and so does a box or the exit prompt left
// open: it is cancelled.
//
// A calculation thread that waits at the gate or for a typed line counts
// as stopped for the run-time: whichever thread ends the run may close the
// units it holds, and it makes no further statement afterwards.
#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "for_exit_handler.h"
#include "for_host.h"
#include "for_reentrancy.h"
#include "frame.h"
#include "host_state.h"
#include "platform.h"

namespace host {

namespace {

std::mutex g_run_lock;
std::condition_variable g_run_cv;
RunState g_state = RunState::Running;
bool g_explicit_pause = false;
bool g_calculation_running = false;  // a calculation thread was started and has not ended
bool g_exit_code_known = false;
int g_exit_code = 0;
std::atomic<bool> g_gate_closed{false};
std::atomic<bool> g_shutting_down{false};
bool g_shutdown_finished = false;  // interface thread only
// The exit code of a closing that the program did not ask for: 0 for Exit
// and a closed frame, the event's status for a console event or SIGTERM.
int g_close_code = 0;  // interface thread only
int g_final_code = 0;  // the code the application closed with (under the run lock)
bool g_final_code_known = false;
std::atomic<int> g_exit_behaviour{1};
// The display went away: no box can be shown any more.
std::atomic<bool> g_display_lost{false};

// Set on a calculation thread once it does its own part of closing: the
// gate no longer holds it.
thread_local bool t_closing_own_work = false;

const DialogProvider* g_dialogs = nullptr;
std::atomic<ProcessEnd> g_process_end{nullptr};

std::mutex g_hooks_lock;
void (*g_exit_hooks[32])() = {};
int g_exit_hook_count = 0;

constexpr int kShutdownGraceMs = 5000;

const char* const kErrorTexts[] = {
    "",
    "PaneShell Warning",
    "PaneShell Error",
    "PaneShell Fatal Error",
    "Out of Memory",
    "Internal Error - unexpected error",
    "Possible internal inconsistency",
    "INITIALMENU failed",
};

const char* error_text(int code) {
    return code >= 1 && code <= 7 ? kErrorTexts[code] : "";
}

[[noreturn]] void park_forever() {
    for (;;) pause();
}

// The calculation thread's part of closing: close every unit, tell the
// interface thread, park.
[[noreturn]] void close_own_work() {
    t_closing_own_work = true;
    forrtl::for_exit_handler();
    note_calculation_ended(false, 0);
    park_forever();
}

// The code the process ends with: the program's own once it has ended,
// else the closing's; a unit that could not be closed makes it that status.
int closing_exit_code(int closing_code) {
    int code;
    {
        std::lock_guard lock(g_run_lock);
        code = g_exit_code_known ? g_exit_code : closing_code;
    }
    return forrtl::for_exit_code(code);
}

void finish_shutdown() {
    if (g_shutdown_finished) return;
    g_shutdown_finished = true;
    // Nothing left to do when the calculation thread ran it already.
    forrtl::for_exit_handler();
    const int code = closing_exit_code(g_close_code);
    {
        std::lock_guard lock(g_run_lock);
        g_final_code = code;
        g_final_code_known = true;
    }
    QCoreApplication::exit(code);
}

void default_process_end(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

void wait_until_shutdown() {
    std::unique_lock lock(g_run_lock);
    g_run_cv.wait(lock, [] { return g_shutting_down.load(); });
}

void note_program_code(int exit_code) {
    std::lock_guard lock(g_run_lock);
    g_exit_code = exit_code;
    g_exit_code_known = true;
}

// A box that cannot be shown: its text on standard error, and the answer
// its default button gives.
int box_on_stderr(const char* text, unsigned style) {
    const std::string line = text ? text : "";
    std::fputs(line.c_str(), stderr);
    if (line.empty() || line.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
    if ((style & 0x0F) != forrtl::MB_YESNO_BUTTONS) return 1;
    return (style & forrtl::MB_DEFAULT_BUTTON2) ? forrtl::MB_ANSWER_NO : forrtl::MB_ANSWER_YES;
}

// Run by exit() from anywhere but the host's own end, which ends the
// process with _Exit: Qt's display connection calls exit() when the
// display goes away (the X server died).  exit() would skip the exit
// handler and destroy the host's statics under the calculation thread
// (a thread waiting on a destroyed condition variable hangs the process
// for good).  Registered after the application object exists, so that it
// runs before any static of Qt's is destroyed.
void exit_without_the_host() {
    g_display_lost.store(true);
    // The calculation thread may be ending the run itself (a STOP closing
    // the units): its closing is waited for, as the run-time waits for a
    // statement, before the process ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forrtl::kQuiesceTimeoutMs);
    for (;;) {
        {
            std::lock_guard lock(g_run_lock);
            if (!forrtl::for_run_ending_elsewhere() || g_exit_code_known || !g_calculation_running) break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    forrtl::for_exit_handler();
    std::fflush(nullptr);
    // The display's end cut the program short unless it had ended.
    std::_Exit(closing_exit_code(1));
}

}  // namespace

// ---------------------------------------------------------------------------
// Run state and gate.

RunState run_state() {
    std::lock_guard lock(g_run_lock);
    return g_state;
}

bool shutting_down() { return g_shutting_down.load(std::memory_order_acquire); }

bool gate_holds_this_thread() {
    return g_gate_closed.load(std::memory_order_acquire) && !t_closing_own_work && !is_interface_thread();
}

void gate_pass() {
    if (!g_gate_closed.load(std::memory_order_acquire)) return;
    if (t_closing_own_work || is_interface_thread()) return;
    std::unique_lock lock(g_run_lock);
    forrtl::for_input_wait_begin();
    g_run_cv.wait(lock, [] { return g_state != RunState::Paused || g_shutting_down.load(); });
    const bool closing = g_shutting_down.load();
    lock.unlock();
    // Parks here when another thread has closed the units meanwhile.
    forrtl::for_input_wait_end();
    if (closing) close_own_work();
}

void host_transfer_gate() { gate_pass(); }

void pause_program() {
    {
        std::lock_guard lock(g_run_lock);
        if (g_state == RunState::Paused) {
            g_explicit_pause = true;
            return;
        }
        if (g_state == RunState::Finished) return;
    }
    const WindowPtr active = ui_active_window();
    {
        std::unique_lock<std::mutex> output;
        if (active) output = std::unique_lock(active->output_lock);
        std::lock_guard lock(g_run_lock);
        g_state = RunState::Paused;
        g_gate_closed.store(true, std::memory_order_release);
    }
    // A writer that passed the gate before it closed finishes its record
    // under its window's output lock; passing every lock once waits for it.
    for (int slot = 0; slot < kWindowSlots; ++slot) {
        if (const WindowPtr window = window_at_slot(slot)) std::lock_guard lock(window->output_lock);
    }
    ui_set_state_word(RunState::Paused);
}

void resume_program() {
    {
        std::lock_guard lock(g_run_lock);
        if (g_state != RunState::Paused) return;
        if (g_explicit_pause) {
            g_explicit_pause = false;
            return;
        }
        g_state = RunState::Running;
        g_gate_closed.store(g_shutting_down.load(), std::memory_order_release);
    }
    g_run_cv.notify_all();
    ui_set_state_word(RunState::Running);
}

void set_finished() {
    {
        std::lock_guard lock(g_run_lock);
        g_state = RunState::Finished;
        g_explicit_pause = false;
        g_gate_closed.store(g_shutting_down.load(), std::memory_order_release);
    }
    g_run_cv.notify_all();
    if (is_interface_thread()) {
        ui_set_state_word(RunState::Finished);
    } else {
        ui_post([] { ui_set_state_word(RunState::Finished); });
    }
}

int set_exit_behaviour(int behaviour) {
    if (behaviour < 1 || behaviour > 3) return -1;
    g_exit_behaviour.store(behaviour);
    return 0;
}

void calculation_started() {
    std::lock_guard lock(g_run_lock);
    g_calculation_running = true;
}

void note_calculation_ended(bool has_code, int exit_code) {
    {
        std::lock_guard lock(g_run_lock);
        g_calculation_running = false;
        if (has_code) {
            g_exit_code = exit_code;
            g_exit_code_known = true;
        }
    }
    ui_post([] {
        if (shutting_down()) finish_shutdown();
    });
}

int exit_code() {
    std::lock_guard lock(g_run_lock);
    if (g_final_code_known) return g_final_code;
    return g_exit_code_known ? g_exit_code : 0;
}

void begin_shutdown() {
    bool calculation_running;
    {
        std::lock_guard lock(g_run_lock);
        if (g_shutting_down.load()) return;
        g_shutting_down.store(true);
        g_gate_closed.store(true, std::memory_order_release);
        calculation_running = g_calculation_running;
    }
    g_run_cv.notify_all();
    wake_readers_for_shutdown();
    // A box or dialog still waiting for its answer (the exit prompt, a
    // diagnostic) closes as if cancelled: nobody asks anything any more.
    platform_close_dialogs();
    if (!calculation_running) {
        finish_shutdown();
        return;
    }
    QTimer::singleShot(kShutdownGraceMs, qApp, [] { finish_shutdown(); });
}

// ---------------------------------------------------------------------------
// The end of the program.

int host_program_exit(int exit_code) {
    // The program has ended: the process ends with its code, however the
    // application is closed from now on.
    note_program_code(exit_code);
    gate_pass();
    set_finished();
    // The code the process ends with, as the system reports it.
    const int shown = exit_code & 0xFF;
    const int behaviour = g_exit_behaviour.load();
    bool close = behaviour == 2;
    if (behaviour == 1) {
        char digits[16];
        if (std::snprintf(digits, sizeof digits, "%i", shown) <= 0) {
            fatal_box(kErrOutOfMemory, HOST_MODULE, __LINE__);
            return 0;
        }
        const std::string text = std::string("Program Terminated with exit code ") + digits + "\nExit Window?";
        const int answer = show_message_box(text.c_str(), facts().app_name.c_str(),
                                            forrtl::MB_YESNO_BUTTONS | forrtl::MB_ICON_EXCLAMATION |
                                                forrtl::MB_DEFAULT_BUTTON2);
        close = answer == forrtl::MB_ANSWER_YES;
    }
    if (!close && !is_interface_thread()) {
        // No (or keep the windows): the application stays open with all its
        // windows until the user closes it.
        wait_until_shutdown();
    }
    if (is_interface_thread()) {
        if (close) ui_close_frame();
    } else {
        ui_post([] { ui_close_frame(); });
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Boxes and dialogs.

void set_dialog_provider(const DialogProvider* provider) { g_dialogs = provider; }

void host_close_application(int exit_code) {
    ui_post([exit_code] {
        if (shutting_down()) return;
        g_close_code = exit_code;
        frame_exit();
    });
}

void guard_unexpected_exit() {
    static bool registered = false;
    if (!registered) registered = std::atexit(exit_without_the_host) == 0;
}

int show_message_box(const char* text, const char* title, unsigned style) {
    if (g_display_lost.load()) return box_on_stderr(text, style);
    int answer = 0;
    ui_call([&] {
        if (shutting_down()) return;
        if (g_dialogs && g_dialogs->message_box) {
            answer = g_dialogs->message_box(text, title, style);
        } else {
            answer = platform_message_box(ui_frame_widget(), text, title, style);
        }
    });
    return answer;
}

int dialog_provider_open_file(char* buffer, int capacity, const char* title, const char* filters) {
    if (!buffer || capacity <= 0 || shutting_down()) return 0;
    buffer[0] = '\0';
    if (g_dialogs && g_dialogs->open_file) return g_dialogs->open_file(buffer, capacity, title, filters);
    return platform_open_file(ui_frame_widget(), buffer, capacity, title, filters);
}

int host_message_box(const char* text, const char* title, unsigned style) {
    gate_pass();
    constexpr unsigned kSystemModal = 0x1000;
    if (!(style & kSystemModal)) style |= forrtl::MB_TASK_MODAL;
    return show_message_box(text, title, style);
}

int host_choose_file(char* buffer, int capacity, const char* title) {
    gate_pass();
    if (!buffer || capacity <= 0) return 0;
    int chosen = 0;
    ui_call([&] {
        if (shutting_down()) return;
        buffer[0] = '\0';
        if (g_dialogs && g_dialogs->choose_file) {
            chosen = g_dialogs->choose_file(buffer, capacity, title);
        } else {
            chosen = platform_choose_file(ui_frame_widget(), buffer, capacity, title);
        }
    });
    return chosen > 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Error boxes and the fatal path.

const char* module_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

namespace {

void box_for(int code, const char* module, int line, int title, unsigned icon) {
    char text[256];
    std::snprintf(text, sizeof text, "%s\nfile \"%s\", line %d", error_text(code), module, line);
    const int answer = show_message_box(text, error_text(title), forrtl::MB_TASK_MODAL | icon);
    if (answer != 1 && !shutting_down()) fatal(0, module, line);
}

}  // namespace

void warning_box(int code, const char* module, int line) { box_for(code, module, line, 1, forrtl::MB_ICON_EXCLAMATION); }

void error_box(int code, const char* module, int line) { box_for(code, module, line, 2, forrtl::MB_ICON_ERROR); }

void fatal_box(int code, const char* module, int line) { fatal(code, module, line); }

void set_process_end(ProcessEnd end) { g_process_end.store(end); }

int register_exit_hook(void (*hook)()) {
    std::lock_guard lock(g_hooks_lock);
    if (!hook || g_exit_hook_count >= 32) return 0;
    g_exit_hooks[g_exit_hook_count++] = hook;
    return 1;
}

void fatal(int code, const char* module, int line) {
    if (code != 0) {
        char text[256];
        std::snprintf(text, sizeof text, "%s, file \"%s\", line %d", error_text(code), module, line);
        show_message_box(text, error_text(3), forrtl::MB_TASK_MODAL | forrtl::MB_ICON_ERROR);
    }
    ui_call([] { ui_minimal_menu(); });
    int count;
    void (*hooks[32])();
    {
        std::lock_guard lock(g_hooks_lock);
        count = g_exit_hook_count;
        std::memcpy(hooks, g_exit_hooks, sizeof hooks);
    }
    for (int i = 0; i < count; ++i) hooks[i]();
    // On the calculation thread the units can be closed safely (nothing
    // else writes them), so the files keep every record written.
    if (!is_interface_thread()) forrtl::for_exit_handler();
    ProcessEnd end = g_process_end.load();
    (end ? end : default_process_end)(-1);
}

// The run-time's fatal path: the program has ended with `exit_code`.  On a
// calculation thread the process ends from the interface thread, so this
// thread parks; the interface thread cannot park and ends the process.
void runtime_fatal_hook(int exit_code) {
    if (is_interface_thread()) default_process_end(exit_code);
    note_calculation_ended(true, exit_code);
    {
        std::lock_guard lock(g_run_lock);
        if (!g_shutting_down.load()) ui_post([] { ui_close_frame(); });
    }
    park_forever();
}


}  // namespace host
