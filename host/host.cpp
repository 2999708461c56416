// The host's entry: initialisation in the order of start-up (frame, menus,
// status bar, the display's metrics and the cell font, the first text
// window, the host operations registered with the run-time), the
// calculation thread, and the application's event loop.
#include "host.h"

#include <QApplication>
#include <QIcon>
#include <QMdiSubWindow>

#include <thread>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "frame.h"
#include "host_state.h"
#include "platform.h"
#include "style.h"
#include "text_view.h"

// The resources of a static library are linked in only when named.
static void init_resources() { Q_INIT_RESOURCE(loxnar); }

namespace host {

namespace {

HostFacts g_facts;
bool g_initialised = false;

const forrtl::HostOps kHostOps = {
    host_write_text,     host_read_line,    host_open_window,      host_select_window,
    host_activate_window, host_current_window, host_keep_window_current, host_close_window,
    host_message_box,    host_choose_file,  host_program_exit,     host_set_code_page,
    host_transfer_gate,  host_close_application,
};

}  // namespace

const HostFacts& facts() { return g_facts; }

int initialise() {
    if (g_initialised) {
        warning_box(kErrInconsistency, HOST_MODULE, __LINE__);
        return -1;
    }
    g_facts.app_name = platform_app_name();
    install_host_style();
    // The program's icon on every window and box, and the desktop entry
    // that task bars and Wayland match the windows with.
    init_resources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/loxnar/loxnar.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("loxnar"));
    ui_queue_start();
    if (!frame_create(g_facts.app_name)) return -1;

    // The text windows: the display's size, the cell font, then window 1024
    // (unconfigured until its first output or input).
    const DisplayMetrics display = platform_display();
    g_facts.screen_width = display.width;
    g_facts.screen_height = display.height;
    g_facts.colour_count = display.colour_count;
    int cell_width = 8, cell_height = 16, pixel_size = 14;
    if (!platform_choose_font(display.width, display.height, &cell_width, &cell_height, &pixel_size)) {
        error_box(kErrInternal, HOST_MODULE, __LINE__);
    }
    g_facts.cell_width = cell_width;
    g_facts.cell_height = cell_height;
    g_facts.font_pixel_size = pixel_size;

    if (!register_exit_hook(frame_release_menus)) fatal(kErrInternal, HOST_MODULE, __LINE__);
    forrtl::for_set_fatal_hook(runtime_fatal_hook);
    forrtl::for_register_host(&kHostOps);
    if (select_window(-1) != 1) fatal(kErrInternal, HOST_MODULE, __LINE__);
    ui_minimal_menu();
    g_initialised = true;
    return 0;
}

void start_calculation(Program program, int argc, char** argv) {
    calculation_started();
    std::thread([program, argc, argv] {
        platform_lower_thread_priority();
        program(argc, argv);
        // The main program returned without STOP: the units are closed and
        // the program ends with code 0.
        forrtl::for_exit_handler();
        host_program_exit(0);
        note_calculation_ended(true, 0);
    }).detach();
}

int run_windowed(int argc, char** argv, Program program) {
    static int qt_argc;
    qt_argc = argc;
    // Never destroyed: the process ends right after (the calculation thread
    // may still be parked inside the run-time).
    auto* app = new QApplication(qt_argc, argv);
    guard_unexpected_exit();
    if (initialise() != 0) return 0;
    start_calculation(program, qt_argc, argv);
    app->exec();
    return exit_code();
}

// ---------------------------------------------------------------------------
// Observations.

std::string window_text(int window) {
    const WindowPtr record = window_for(window);
    if (!record) return std::string();
    std::lock_guard lock(record->output_lock);
    return record->screen.text(1, record->screen.rows(), "\n");
}

std::string window_title(int window) {
    const WindowPtr record = window_for(window);
    if (!record) return std::string();
    std::lock_guard lock(record->output_lock);
    return record->title;
}

bool window_cursor(int window, int* column, int* row) {
    const WindowPtr record = window_for(window);
    if (!record) return false;
    std::lock_guard lock(record->output_lock);
    *column = record->screen.cursor_column();
    *row = record->screen.cursor_row();
    return true;
}

bool window_shown(int window) {
    const WindowPtr record = window_for(window);
    if (!record) return false;
    bool shown = false;
    ui_call([&] { shown = record->shown && record->sub && record->sub->isVisible(); });
    return shown;
}

QWidget* window_view(int window) {
    const WindowPtr record = window_for(window);
    return record ? record->view.data() : nullptr;
}

int beep_count() { return platform_beep_count(); }

}  // namespace host
