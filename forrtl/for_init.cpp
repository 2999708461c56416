// Run-time initialisation, the main program's entry checks (division check,
// threading level) and the console control events.
#include "for_startup.h"

#include <atomic>
#include <cerrno>
#include <cfenv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <fcntl.h>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "for_reentrancy.h"
#include "for_io.h"
#include "for_lub.h"

namespace forrtl {

std::uint32_t g_fp_option_word = 0;

namespace {

std::atomic<std::int32_t> g_init_done_lock{0};

}  // namespace

// ---------------------------------------------------------------------------
// Floating-point control.

void for_set_fp_control(std::uint32_t option_word) {
    std::feclearexcept(FE_ALL_EXCEPT);
    int unmask = 0;
    if (option_word & FPO_TRAP_UNDERFLOW) unmask |= FE_UNDERFLOW;
    if (option_word & FPO_TRAP_OVERFLOW) unmask |= FE_OVERFLOW;
    if (option_word & FPO_TRAP_DIVIDE) unmask |= FE_DIVBYZERO;
    if (option_word & FPO_TRAP_INVALID) unmask |= FE_INVALID;
    // Inexact and every exception not asked for stay masked; the denormal
    // operand mask is not part of FE_ALL_EXCEPT and is left as it is.
    fedisableexcept(FE_ALL_EXCEPT & ~unmask);
    if (unmask) feenableexcept(unmask);
#if defined(__x86_64__) || defined(__i386__)
    // Underflow that continues with zero, unless underflows are counted
    // (counting needs the trap to happen).
    const bool flush = (option_word & FPO_UNDERFLOW_TO_ZERO) && !(option_word & FPO_COUNT_UNDERFLOW);
    _MM_SET_FLUSH_ZERO_MODE(flush ? _MM_FLUSH_ZERO_ON : _MM_FLUSH_ZERO_OFF);
#endif
}

// ---------------------------------------------------------------------------
// Code page.

int for_code_page_for_codeset(const char* codeset) {
    struct Row { const char* name; int code_page; };
    static const Row kCodesets[] = {
        {"UTF-8", 65001},  {"UTF8", 65001},    {"SHIFT_JIS", 932}, {"SJIS", 932},
        {"EUC-JP", 932},   {"GB2312", 936},    {"GBK", 936},       {"GB18030", 936},
        {"EUC-CN", 936},   {"EUC-KR", 949},    {"BIG5", 950},      {"BIG5-HKSCS", 950},
    };
    if (codeset) {
        for (const Row& row : kCodesets) {
            if (strcasecmp(codeset, row.name) == 0) return row.code_page;
        }
    }
    return 1252;  // every single-byte set (ASCII, ISO-8859-x, CP1252)
}

namespace {

// The code page of the user's locale, without changing the program's own
// locale.  A failed locale lookup leaves errno as it found it: it is not the
// program's error.
int current_code_page() {
    const int saved_errno = errno;
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    int code_page = for_code_page_for_codeset(nullptr);
    if (loc != static_cast<locale_t>(nullptr)) {
        code_page = for_code_page_for_codeset(nl_langinfo_l(CODESET, loc));
        freelocale(loc);
    }
    errno = saved_errno;
    return code_page;
}

}  // namespace

// A standard descriptor the program was started without is taken by
// /dev/null opened the other way round (input for writing, output for
// reading).  So the run-time's own descriptors (the console-event pipe) and
// the files that units open later never land on 0, 1 or 2, where the
// console units would take them for the console, and those units still
// find the descriptor unusable: a read from a closed standard input fails
// (39) instead of waiting on a pipe, a write to a closed standard output
// fails (38).
void for_occupy_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int stand_in = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (stand_in >= 0 && stand_in != fd) {
            dup2(stand_in, fd);
            close(stand_in);
        }
    }
}

namespace {

// The signals the run-time set to be ignored (bit n for signal n), given
// back to their default in the child processes it starts.
std::atomic<std::uint64_t> g_ignored_by_us{0};

// Ignores `signal_number` unless the program has a disposition of its own
// for it (a handler, or ignoring it already).
void ignore_if_default(int signal_number) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(signal_number, &ignore, nullptr) == 0) g_ignored_by_us.fetch_or(std::uint64_t(1) << signal_number);
}

}  // namespace

void for_default_signals_for_child() {
    const std::uint64_t ignored = g_ignored_by_us.load();
    for (int signal_number = 1; signal_number < 64; ++signal_number) {
        if (!(ignored & (std::uint64_t(1) << signal_number))) continue;
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal_number, &dfl, nullptr);
    }
}

// ---------------------------------------------------------------------------
// Initialisation.

Status for_rtl_init(int argc, char** argv, std::uint32_t fp_options) {
    // 1. The unit table initialises itself on the first statement.
    // 2. Once per process: the lock is never released.
    Status status = for_take_lock(g_init_done_lock);
    if (status != 0) return status;
    // Before any descriptor of the run-time is made.
    for_occupy_standard_descriptors();
    // A write past the file size limit fails (EFBIG, so 38 for the record
    // that crosses it), and a write to a pipe nobody reads any more fails
    // (EPIPE, 38 on the console unit), instead of killing the process with
    // its records held back.
    ignore_if_default(SIGXFSZ);
    ignore_if_default(SIGPIPE);
    // 3. The thread's last system error.
    errno = 0;
    // 4. Console control events.
    for_install_console_handler();
    // 5. The host's queries, for a host that may register later.
    g_host_unit_to_window = for_unit_to_window;
    g_host_window_to_unit = for_window_to_unit;
    // 6. FOR_NOERROR_DIALOGS turns off the system's own error boxes; a Linux
    //    process has none (the system reports such failures as errno values
    //    or signals), so the switch has nothing to turn off here.
    // 7. Pending exceptions cleared, the floating-point environment reset
    //    (rounding to nearest, all exceptions masked).
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(FE_DFL_ENV);
    // 8. The code page for the host.
    if (g_host && g_host->set_code_page) g_host->set_code_page(current_code_page());
    // 9. The command-line arguments, for missing file names.
    for_set_command_line(argc > 0 && argv ? argc : 0, argv);
    // 10. Exception masks and flush-to-zero from the option word.
    g_fp_option_word = fp_options;
    for_set_fp_control(fp_options);
    return 0;
}

// ---------------------------------------------------------------------------
// Division check.

double for_division_residue(double dividend, double divisor) {
    // volatile: the compiler must not fold the check away at compile time.
    volatile double a = dividend;
    volatile double b = divisor;
    volatile double quotient = a / b;
    volatile double product = quotient * b;
    return (0.0 - product) + a;
}

void for_check_division_result(double residue) {
    if (residue != 0.0 && !for_env_switch("FOR_RUN_FLAWED_PENTIUM")) {
        for_report(status_of(MSG_FDIV_FLAW), 0);
    }
}

void for_check_processor() { for_check_division_result(for_division_residue(4195835.0, 3145727.0)); }

// ---------------------------------------------------------------------------
// Threading level.

int for_set_threading_level(const int* level) {
    int previous = g_threading_level;
    if (level && *level != 3) g_threading_level = *level;
    return previous;
}

int for_threading_level() { return g_threading_level; }

// ---------------------------------------------------------------------------
// Console control events.
//
// The signal handler only writes the event number into a pipe: reporting,
// closing the units and telling the host take locks and allocate, which a
// signal handler must not do.  A watcher thread reads the pipe and ends the
// program, much as the system runs a console control handler on a thread of
// its own.  It claims the end of the run first, so that the calculation
// thread stops at its next statement boundary (or where it waits for
// input) and makes no further statement while the units are closed.
// SIGTERM takes the same way.

namespace {

constexpr int kTerminationEvent = 15;

struct ConsoleSignal {
    int signal_number;
    int event;
};
constexpr ConsoleSignal kConsoleSignals[] = {
    {SIGINT, 0},                   // control-C
    {SIGQUIT, 1},                  // control-BREAK
    {SIGHUP, 2},                   // close
    {SIGTERM, kTerminationEvent},  // a request to end the run
};

int g_event_pipe[2] = {-1, -1};

extern "C" void console_signal_handler(int signal_number) {
    const int saved_errno = errno;
    unsigned char event = 0xFF;
    for (const ConsoleSignal& cs : kConsoleSignals) {
        if (cs.signal_number == signal_number) event = static_cast<unsigned char>(cs.event);
    }
    if (write(g_event_pipe[1], &event, 1) != 1) _exit(event);
    errno = saved_errno;
}

extern "C" void* console_event_watcher(void*) {
    unsigned char event;
    for (;;) {
        ssize_t n = read(g_event_pipe[0], &event, 1);
        if (n == 1 && event == kTerminationEvent) for_termination_request();
        else if (n == 1) for_console_event(event == 0xFF ? 3 : event);
        if (n == 0 || (n < 0 && errno != EINTR)) return nullptr;
    }
}

const char* event_text(int event) {
    switch (event) {
    case 0: return "control-C";
    case 1: return "control-BREAK";
    case 2: return "menu-CLOSE";
    default: return "unknown";
    }
}

// Ends the run after the event's message: every unit closed, the host told.
[[noreturn]] void end_after_event(int event_code) {
    for_exit_handler();
    const int exit_code = for_exit_code(event_code);
    if (g_host && g_host->program_exit) g_host->program_exit(exit_code);
    // Other threads are parked or still computing: end at once without
    // running the process's exit procedures under their feet, after
    // flushing stdio.
    std::fflush(nullptr);
    std::_Exit(exit_code);
}

// A windowed program has no console: an event (the session ending, a
// kill) closes the application as its Exit command does, without a box or
// a question, and the process ends with the event's status.  The message
// goes to standard error, where a windowed program's log is kept; once the
// program has ended by itself (its exit prompt, the windows kept) there is
// no run left to abort and no message, and the process ends with the
// program's code.  The host stops the program at its next step and runs
// the exit handler; this thread claims nothing, so that the program's own
// end (a STOP under way) still finishes.
bool handed_to_host(Status message, int nargs, const char* text, int exit_code) {
    if (!g_host || !g_host->close_application) return false;
    if (!for_run_ending_elsewhere()) for_report_on_stderr(message, nargs, text);
    g_host->close_application(exit_code);
    return true;
}

}  // namespace

void for_console_event(int event) {
    if (handed_to_host(status_of(MSG_ABORT_EVENT), 1, event_text(event), event)) return;
    // A STOP or a severe error already ending the run finishes it.
    if (!for_claim_run_end()) return;
    for_quiesce_statements(kQuiesceTimeoutMs);
    for_report(status_of(MSG_ABORT_EVENT), 1, event_text(event));
    end_after_event(event);
}

void for_termination_request() {
    if (handed_to_host(status_of(MSG_KILLED_SIGTERM), 0, nullptr, kTerminationExitCode)) return;
    if (!for_claim_run_end()) return;
    for_quiesce_statements(kQuiesceTimeoutMs);
    for_report(status_of(MSG_KILLED_SIGTERM), 0);
    end_after_event(kTerminationExitCode);
}

void for_install_console_handler() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    if (pipe2(g_event_pipe, O_CLOEXEC) != 0) return;

    // The watcher takes no signals, so that they land on the program's
    // threads and the handler never interrupts the watcher's own work.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t watcher;
    const bool started = pthread_create(&watcher, &attr, console_event_watcher, nullptr) == 0;
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started) return;

    for (const ConsoleSignal& cs : kConsoleSignals) {
        struct sigaction current;
        if (sigaction(cs.signal_number, nullptr, &current) != 0) continue;
        // The program's own handler, or an ignored signal (a background
        // job), stays as it is: the event is the program's.
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL) {
            struct sigaction ours {};
            ours.sa_handler = console_signal_handler;
            sigemptyset(&ours.sa_mask);
            ours.sa_flags = SA_RESTART;
            sigaction(cs.signal_number, &ours, nullptr);
        }
    }
}

}  // namespace forrtl

namespace forrtl {

// ---------------------------------------------------------------------------
// The host's queries.

namespace {

constexpr int kNoPaneShell = MSG_NO_PANESHELL - 540;
constexpr int kUnitToWindowStatement = 4;  // statement kind of the query's lookup
constexpr int kStatusUnknown = 4;          // STATUS='UNKNOWN'

bool host_active() { return g_host != nullptr; }

}  // namespace

// The window a unit writes to.  The console units 0, 5 and 6 are connected
// here when the program has not used them yet, so that the host can find
// the console window before the first output.
int for_unit_to_window(const int* unit) {
    if (!host_active()) {
        for_report_alternate(kNoPaneShell, 0);
        return -1;
    }
    if (!unit) return -1;
    HostQueryScope query;
    Lub* lub = nullptr;
    if (for_lookup_unit(*unit, kUnitToWindowStatement, &lub) != 0) return -1;
    bool connected = lub->connected;
    if (!connected && (*unit == 0 || *unit == 5 || *unit == 6)) {
        lub->options |= SF_COMPAT_NUMBERING;
        lub->compat_numbering = true;
        connected = for_implicit_open(lub, ACC_SEQUENTIAL, kStatusUnknown, FORM_FORMATTED) == 0;
    }
    int window = -1;
    if (connected) {
        if (lub->device_code >= 0 && lub->device_code <= 2) {
            window = g_host->current_window ? g_host->current_window() : -1;
        } else if (lub->window_unit) {
            window = lub->handle;
        }
    }
    for_release_unit(lub);
    return window;
}

// The unit connected to a window: 0 for the current window, else the first
// window unit in table order whose window it is.
int for_window_to_unit(int window) {
    if (!host_active()) {
        for_report_alternate(kNoPaneShell, 0);
        return -1;
    }
    if (g_host->current_window && window == g_host->current_window()) return 0;
    HostQueryScope query;
    int unit = -1;
    UnitCursor cursor{};
    while (Lub* lub = for_next_unit(cursor)) {
        // Only window units: a file unit's handle is a descriptor, which
        // may happen to equal a window number.
        const bool match = lub->connected && lub->window_unit && lub->handle == window;
        if (match) unit = lub->unit;
        for_release_unit(lub);
        if (match) break;
    }
    return unit;
}

}  // namespace forrtl
