// The window table and the host operations on windows: open, select, the
// current window, activate, keep current, write and close.
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>

#include "host_state.h"
#include "platform.h"

namespace host {

namespace {

std::mutex g_table_lock;
WindowPtr g_slots[kWindowSlots];
// Changed under the table lock whenever a slot changes, so that a thread
// can keep the window it looked up last while the table stays the same.
std::atomic<unsigned> g_table_generation{0};
int g_default_window = kFirstWindow;
// The window selected last by any thread: the interface thread's current
// window.
std::atomic<int> g_last_selected{kFirstWindow};
std::atomic<int> g_code_page{1252};

// The calling thread's current window (0 until its first call into the
// host: the per-thread I/O record).
thread_local int t_current = 0;

bool valid_number(int number) { return number >= kFirstWindow && number < kFirstWindow + kWindowSlots; }

WindowPtr new_record(int slot, const char* title) {
    auto record = std::make_shared<WindowRecord>();
    record->number = kFirstWindow + slot;
    if (title) {
        record->title = title;
    } else {
        record->title = "Graphic" + std::to_string(slot + 1);
    }
    record->open_title = record->title;
    return record;
}

// Under the table lock: the first free slot gets a new window.
WindowPtr open_locked(const char* title) {
    for (int slot = 0; slot < kWindowSlots; ++slot) {
        if (!g_slots[slot]) {
            g_slots[slot] = new_record(slot, title);
            g_table_generation.fetch_add(1, std::memory_order_release);
            return g_slots[slot];
        }
    }
    return nullptr;
}

void announce(const WindowPtr& record) {
    if (record) ui_post([record] { ui_create_window(record); });
}

// The per-thread I/O record: the current window starts as 1024 and is
// validated as window -1 is (a new default window when 1024 is gone).
void ensure_thread_record() {
    if (t_current != 0) return;
    t_current = kFirstWindow;
    if (!is_interface_thread()) select_window(-1);
}

}  // namespace

bool is_interface_thread() {
    // Asked on every write: the answer is kept per thread once the
    // application exists.
    thread_local int known = -1;
    if (known < 0) {
        const QCoreApplication* app = QCoreApplication::instance();
        if (!app) return false;
        known = QThread::currentThread() == app->thread() ? 1 : 0;
    }
    return known == 1;
}

Encoding current_encoding() {
    return g_code_page.load(std::memory_order_relaxed) == 65001 ? Encoding::Utf8 : Encoding::SingleByte;
}

const WindowPtr& window_for(int number) {
    // The calling thread's last look-up, kept while the table is unchanged.
    struct LastLookup {
        int number = 0;
        unsigned generation = 0;
        WindowPtr window;
    };
    thread_local LastLookup last;
    static const WindowPtr kNone;
    if (!valid_number(number)) return kNone;
    const unsigned generation = g_table_generation.load(std::memory_order_acquire);
    if (last.number == number && last.generation == generation) return last.window;
    std::lock_guard lock(g_table_lock);
    last.window = g_slots[number - kFirstWindow];
    last.number = number;
    last.generation = g_table_generation.load(std::memory_order_relaxed);
    return last.window;
}

WindowPtr window_at_slot(int slot) {
    if (slot < 0 || slot >= kWindowSlots) return nullptr;
    std::lock_guard lock(g_table_lock);
    return g_slots[slot];
}

int open_window(const char* title) {
    WindowPtr record;
    {
        std::lock_guard lock(g_table_lock);
        record = open_locked(title);
    }
    if (!record) return -1;
    announce(record);
    return record->number;
}

int select_window(int number) {
    if (number == -1) {
        WindowPtr created;
        int chosen;
        {
            std::lock_guard lock(g_table_lock);
            const WindowPtr& current = g_slots[g_default_window - kFirstWindow];
            if (!current || current->closed.load()) {
                created = open_locked(nullptr);
                if (!created) return 0;
                g_default_window = created->number;
            }
            chosen = g_default_window;
        }
        announce(created);
        t_current = chosen;
        g_last_selected.store(chosen);
        return 1;
    }
    const WindowPtr record = window_for(number);
    if (!record || record->closed.load()) return 0;
    t_current = number;
    g_last_selected.store(number);
    return 1;
}

void configure_if_needed(WindowRecord& window) {
    if (window.configured) return;
    const HostFacts& f = facts();
    window.screen.reset(std::max(1, f.screen_width / f.cell_width), std::max(1, f.screen_height / f.cell_height));
    window.cursor_shape_first = 0;
    window.cursor_shape_last = 7;
    window.configured = true;
}

void configure_window(const WindowPtr& window) {
    bool first_configuration = false;
    {
        std::lock_guard lock(window->output_lock);
        if (!window->configured) {
            configure_if_needed(*window);
            first_configuration = true;
        }
    }
    if (!first_configuration) return;
    if (is_interface_thread()) {
        ui_window_configured(window);
    } else {
        ui_post([window] { ui_window_configured(window); });
    }
}

void request_repaint(const WindowPtr& window) {
    if (window->repaint_requested.load(std::memory_order_relaxed) || window->repaint_requested.exchange(true)) return;
    if (is_interface_thread()) {
        ui_repaint_soon(window);
    } else {
        ui_post([window] { ui_repaint_soon(window); });
    }
}

int draw_text(const WindowPtr& window, const char* bytes, int count) {
    const bool calculation = !is_interface_thread();
    bool first_configuration = false;
    {
        std::unique_lock lock(window->output_lock);
        // A pause that began after this writer passed the gate holds it
        // here, before anything is drawn (the pause took this lock).
        while (calculation && gate_holds_this_thread()) {
            lock.unlock();
            gate_pass();
            lock.lock();
        }
        if (window->closed.load()) return -1;
        if (!window->configured) {
            configure_if_needed(*window);
            first_configuration = true;
        }
        window->screen.write(bytes, count, current_encoding());
    }
    if (first_configuration) {
        if (is_interface_thread()) {
            ui_window_configured(window);
        } else {
            ui_post([window] { ui_window_configured(window); });
        }
    }
    request_repaint(window);
    return count;
}

void forget_window(const WindowPtr& window) {
    {
        std::lock_guard lock(g_table_lock);
        const int slot = window->number - kFirstWindow;
        if (g_slots[slot] == window) {
            g_slots[slot].reset();
            g_table_generation.fetch_add(1, std::memory_order_release);
        }
    }
    window_forgotten_for_input(window);
}

// ---------------------------------------------------------------------------
// The host operations on windows.

int host_write_text(const char* text, int length, int window, int mode) {
    gate_pass();
    ensure_thread_record();
    const WindowPtr& record = window_for(window);  // the thread's copy: no other look-up below
    if (!record || record->closed.load() || length < 0) return -1;
    if (mode == 1) return set_line_buffer(text, length);
    if (record->keep_current.load()) {
        t_current = window;
        g_last_selected.store(window);
    }
    return draw_text(record, text, length);
}

int host_open_window(const char* title) {
    gate_pass();
    ensure_thread_record();
    return open_window(title);
}

int host_select_window(int window) {
    gate_pass();
    if (t_current == 0) t_current = kFirstWindow;
    return select_window(window);
}

int host_current_window() {
    gate_pass();
    { std::lock_guard lock(g_table_lock); }  // a selection in progress completes first
    if (is_interface_thread()) return g_last_selected.load();
    ensure_thread_record();
    return t_current;
}

int host_activate_window(int window) {
    gate_pass();
    const WindowPtr record = window_for(window);
    if (!record || record->closed.load()) return -1;
    ui_post([record] { ui_activate_window(record); });
    return 0;
}

int host_keep_window_current(int window) {
    gate_pass();
    const WindowPtr record = window_for(window);
    if (!record) return 0;
    record->keep_current.store(true);
    g_last_selected.store(window);
    return 1;
}

int host_close_window(int window, int keep) {
    gate_pass();
    ensure_thread_record();
    const WindowPtr record = window_for(window);
    if (!record) return -1;
    if (g_last_selected.load() == window && record->keep_current.load()) {
        std::lock_guard lock(g_table_lock);
        g_last_selected.store(g_default_window);
    }
    if (keep) {
        {
            std::lock_guard lock(record->output_lock);
            if (!record->closed.load()) record->title += "-Closed";
            record->closed.store(true);
        }
        ui_post([record] { ui_window_closed(record); });
    } else {
        {
            std::lock_guard lock(g_table_lock);
            g_slots[window - kFirstWindow].reset();
            g_table_generation.fetch_add(1, std::memory_order_release);
        }
        record->closed.store(true);
        ui_post([record] { ui_destroy_window(record); });
    }
    if (t_current == window) select_window(-1);
    return 0;
}

int host_set_code_page(int code_page) {
    g_code_page.store(code_page);
    return 0;
}

}  // namespace host
