#include "for_diags.h"

#include "for_exit_handler.h"
#include "for_host.h"
#include "for_lub.h"
#include "for_reentrancy.h"
#include "for_wbuf.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

namespace forrtl {

namespace {

FatalHook g_fatal_hook = nullptr;

// Severity prefixes: severities 2 and 3 move up one place, so "forrtl:
// warning" is never chosen by a status code.
const char* const kSeverityPrefix[5] = {"forrtl", "forrtl: info", "forrtl: warning", "forrtl: error",
                                        "forrtl: severe"};

const char* severity_prefix(Status code) {
    unsigned sev = status_severity(code);
    return kSeverityPrefix[sev >= SEV_ERROR ? sev + 1 : sev];
}

// Facility texts of the math-error form.
const char* const kFacility[18] = {
    ": (",         ": CLOSE(",           ": WRITE(",         ": ENDFILE(",        ": INQUIRE(",
    ": LOCKING(",  ": OPEN(",            ": READ(",          ": REWIND(",         ": BACKSPACE(",
    ": EOF(",      ": $DEBUG\r\n- ",     ": ALLOCATE\r\n- ", ": DEALLOCATE\r\n- ", ": BEGINTHREAD\r\n- ",
    ": MATH\r\n- ", "\r\n- ",            ": PSHL\r\n- ",
};

// Alternate numbers of messages 540..759, added to 6000.  The messages fall
// into groups of one kind; each group takes a run of consecutive numbers
// from the start of its hundred: run-time checks from 96, I/O against OPEN
// options and edit descriptors from 200, OPEN specifiers from 300, array
// allocation from 400, file operations from 500, input values from 600,
// format syntax from 700, the newer I/O specifiers ending at 804, the
// intrinsic procedure and pointer checks from 900 and the graphics and host
// messages ending at 998.
constexpr int kFirstAlternate = 540;
constexpr int kAlternateCount = 220;
const std::int16_t kAlternate[kAlternateCount] = {
    // 540-550 run-time checks
    96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106,
    // 551-561 I/O not consistent with OPEN options, edit descriptor expected
    200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210,
    // 562-581 OPEN specifiers
    300, 301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311,
    312, 313, 314, 315, 316, 317, 318, 319,
    // 582-585 array allocation
    400, 401, 402, 403,
    // 586-612 file operations
    500, 501, 502, 503, 504, 505, 506, 507, 508, 509, 510, 511,
    512, 513, 514, 515, 516, 517, 518, 519, 520, 521, 522, 523,
    524, 525, 526,
    // 613-633 input values and records
    600, 601, 602, 603, 604, 605, 606, 607, 608, 609, 610, 611,
    612, 613, 614, 615, 616, 617, 618, 619, 620,
    // 634-652 format syntax
    700, 701, 702, 703, 704, 705, 706, 707, 708, 709, 710, 711,
    712, 713, 714, 715, 716, 717, 718,
    // 653-655 graphics and host
    996, 997, 998,
    // 656-747 intrinsic procedures, pointers, allocation
    900, 901, 902, 903, 904, 905, 906, 907, 908, 909, 910, 911,
    912, 913, 914, 915, 916, 917, 918, 919, 920, 921, 922, 923,
    924, 925, 926, 927, 928, 929, 930, 931, 932, 933, 934, 935,
    936, 937, 938, 939, 940, 941, 942, 943, 944, 945, 946, 947,
    948, 949, 950, 951, 952, 953, 954, 955, 956, 957, 958, 959,
    960, 961, 962, 963, 964, 965, 966, 967, 968, 969, 970, 971,
    972, 973, 974, 975, 976, 977, 978, 979, 980, 981, 982, 983,
    984, 985, 986, 987, 988, 989, 990, 991,
    // 748-759 I/O specifiers, binary and octal input, end of record
    793, 794, 795, 796, 797, 798, 799, 800, 801, 802, 803, 804,
};

constexpr const char* kNotFound = "Message not found\n";
constexpr const char* kBoxTitle = "Velstra run-time error ";
constexpr unsigned kBoxStyle = MB_TASK_MODAL | MB_ICON_ERROR | MB_OK_BUTTON;
// The catalogue text passes through a buffer of this size; a longer text
// counts as missing.
constexpr std::size_t kTextBuffer = 393;
// The formatted message holds at most this many characters.
constexpr std::size_t kMessageMax = 395;
constexpr Status kVersionRecord = make_status(SEV_INFO, 6);

// ---- FORT0 redirection -------------------------------------------------

std::atomic<std::int32_t> g_fort0_lock{0};
std::atomic<bool> g_fort0_done{false};
// FORT0 as it stood when the exception handlers were installed: a signal
// handler cannot read the environment safely.
char g_fort0_saved[4096];

// Points standard error at `path`, opened to append.  Standard error is
// left as it is when the file cannot be opened (only async-signal-safe
// calls here).
void append_stderr_to(const char* path) {
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    if (fd != STDERR_FILENO) {
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
}

// On the first diagnostic of the process, standard error is reopened to
// append to the file named by FORT0; later calls do nothing.  When the lock
// is contended the redirection is left for the next diagnostic.
void redirect_fort0() {
    if (g_fort0_done.load(std::memory_order_acquire)) return;
    if (for_take_lock(g_fort0_lock) != 0) return;
    if (!g_fort0_done.load(std::memory_order_relaxed)) {
        const char* path = std::getenv("FORT0");
        if (path && *path) {
            std::fflush(stderr);
            append_stderr_to(path);
        }
        g_fort0_done.store(true, std::memory_order_release);
    }
    for_release_lock(g_fort0_lock);
}

void redirect_fort0_in_handler() {
    if (g_fort0_done.load(std::memory_order_acquire)) return;
    if (!for_try_lock(g_fort0_lock)) return;
    if (!g_fort0_done.load(std::memory_order_relaxed)) {
        if (g_fort0_saved[0]) append_stderr_to(g_fort0_saved);
        g_fort0_done.store(true, std::memory_order_release);
    }
    for_release_lock(g_fort0_lock);
}

// ---- forming and showing -------------------------------------------------

// The catalogue text of `code` as it comes out of the message formatter:
// a missing code, the version record and a text longer than the buffer all
// give "Message not found\n".
const char* lookup_text(Status code) {
    if (code == kVersionRecord) return kNotFound;
    const char* text = catalogue_text(code);
    if (!text || std::strlen(text) + 1 > kTextBuffer) return kNotFound;
    return text;
}

// Fills `out` (kMessageMax + 1 bytes) with the message.  A message cut at
// the limit still ends with CR LF, so that the next line starts afresh.
void form_message(const char* text, int nargs, va_list ap, char* out) {
    if (nargs <= 0) {
        std::snprintf(out, kMessageMax + 1, "%s", text);
        return;
    }
    int n = std::vsnprintf(out, kMessageMax + 1, text, ap);
    if (n < 0) {
        std::snprintf(out, kMessageMax + 1, "%s", text);
    } else if (static_cast<std::size_t>(n) > kMessageMax) {
        out[kMessageMax - 2] = '\r';
        out[kMessageMax - 1] = '\n';
        out[kMessageMax] = '\0';
    }
}

// Shows `text` in the host's message box; when the text cannot be
// allocated the box shows `number` alone.
void show_in_box(const char* format, int number, const char* prefix, const char* message,
                 const char* title, unsigned style) {
    int n = std::snprintf(nullptr, 0, format, prefix, number, message);
    char* text = n >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1)) : nullptr;
    if (text) {
        std::snprintf(text, static_cast<std::size_t>(n) + 1, format, prefix, number, message);
        g_host->message_box(text, title, style);
        std::free(text);
    } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%i", number);
        g_host->message_box(digits, title, style);
    }
}

bool host_has_box() { return g_host && g_host->message_box; }

void write_line_to_stderr(Status code, int shown_number, const char* message) {
    redirect_fort0();
    std::fprintf(stderr, "%s (%i): %s", severity_prefix(code), shown_number, message);
    std::fflush(stderr);
}

// The diagnostic line "%s (%i): %s", to standard error or the host.
void show_line(Status code, int shown_number, const char* message) {
    // Every record written so far is in its file when the message appears.
    for_wbuf_flush_all();
    if (host_has_box()) {
        redirect_fort0();
        show_in_box("%s (%i): %s", shown_number, severity_prefix(code), message, kBoxTitle, kBoxStyle);
        return;
    }
    write_line_to_stderr(code, shown_number, message);
}

// The end of the program after a severe error or a math error.  When
// another thread is already ending the run, this one stops here.
[[noreturn]] void end_program(int exit_code, unsigned number) {
    if (!for_claim_run_end()) for_park_thread();
    for_exit_handler();
    if (number != 169 && for_env_switch("FOR_GENERATE_DEBUG_EXCEPTION")) std::raise(SIGTRAP);
    const char* dump = std::getenv("f77_dump_flag");
    if (!dump) dump = std::getenv("kesfort_dump_flag");
    if (dump && (dump[0] == 'Y' || dump[0] == 'y')) std::abort();
    if (g_host && g_host->program_exit) g_host->program_exit(exit_code);
    for_terminate(exit_code);
}

// Forms and shows the message; true when the program must end (the caller
// ends it after va_end, so that no argument list is left open).
bool report_v(Status code, int shown_number, int nargs, va_list ap) {
    char message[kMessageMax + 1];
    form_message(lookup_text(code), nargs, ap, message);
    show_line(code, shown_number, message);
    return status_severity(code) == SEV_SEVERE;
}

// The conversions of a catalogue text in order, one letter each: 'd' for
// an int, 's' for a string, anything else '?'.
void conversion_kinds(const char* text, char* kinds, std::size_t capacity) {
    std::size_t k = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0123456789.*l", *p)) ++p;
        if (!*p) break;
        char kind = (*p == 'd' || *p == 'i') ? 'd' : (*p == 's' ? 's' : '?');
        if (k + 1 < capacity) kinds[k++] = kind;
    }
    kinds[k] = '\0';
}

thread_local LastError t_last_error{};

}  // namespace

IoErrorHooks g_io_error_hooks{};

void for_set_fatal_hook(FatalHook hook) { g_fatal_hook = hook; }

void for_terminate(int exit_code) {
    if (g_fatal_hook) {
        // A test observes the end and goes on: the run is not ending.
        for_release_run_end();
        g_fatal_hook(exit_code);
    }
    std::exit(exit_code);
}

bool for_env_switch(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return false;
    char first = value[0];
    if (first == 'T' || first == 't' || first == 'Y' || first == 'y') return true;
    bool nonzero = false;
    for (const char* p = value; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (*p != '0') nonzero = true;
    }
    return nonzero;
}

void for_report(Status code, int nargs, ...) {
    va_list ap;
    va_start(ap, nargs);
    bool severe = report_v(code, static_cast<std::int16_t>(status_number(code)), nargs, ap);
    va_end(ap);
    if (severe) end_program(static_cast<int>(code), status_number(code));
}

void for_report_on_stderr(Status code, int nargs, ...) {
    char message[kMessageMax + 1];
    va_list ap;
    va_start(ap, nargs);
    form_message(lookup_text(code), nargs, ap, message);
    va_end(ap);
    write_line_to_stderr(code, static_cast<std::int16_t>(status_number(code)), message);
}

void for_report_and_continue(Status code, int nargs, ...) {
    va_list ap;
    va_start(ap, nargs);
    report_v(code, static_cast<std::int16_t>(status_number(code)), nargs, ap);
    va_end(ap);
}

int for_alternate_number(unsigned message) {
    if (message < kFirstAlternate || message >= kFirstAlternate + kAlternateCount) return -1;
    return 6000 + kAlternate[message - kFirstAlternate];
}

void for_report_alternate(int index, int nargs, ...) {
    if (index < 0 || index >= kAlternateCount) {
        for_report(status_of(MSG_INTERNAL_CHECK), 2, "for_diags.cpp", __LINE__);
        return;
    }
    unsigned number = static_cast<unsigned>(kFirstAlternate + index);
    Status code = status_of(number);
    va_list ap;
    va_start(ap, nargs);
    bool severe = report_v(code, for_alternate_number(number), nargs, ap);
    va_end(ap);
    if (severe) end_program(static_cast<int>(code), number);
}

void for_report_math_error(int number, const char* text, int facility) {
    if (facility < 0 || facility > 17) facility = 16;
    if (!text) text = "";
    for_wbuf_flush_all();
    redirect_fort0();
    if (host_has_box()) {
        int n = std::snprintf(nullptr, 0, "%s%i%s%s", "M", number, kFacility[facility], text);
        char* box = n >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1)) : nullptr;
        if (box) {
            std::snprintf(box, static_cast<std::size_t>(n) + 1, "%s%i%s%s", "M", number, kFacility[facility],
                          text);
            g_host->message_box(box, "run-time error ", MB_TASK_MODAL | MB_ICON_ERROR);
            std::free(box);
        } else {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%i", number);
            g_host->message_box(digits, "run-time error ", MB_TASK_MODAL | MB_ICON_ERROR);
        }
    } else {
        std::fputs("\r\n", stderr);
        std::fputs("run-time error ", stderr);
        std::fprintf(stderr, "%s%i", "M", number);
        std::fputs(kFacility[facility], stderr);
        std::fprintf(stderr, "%s\r\n", text);
        std::fflush(stderr);
    }
    end_program(3, 0);
}

namespace {
// The system's text for an errno value, or nullptr when it has none.
const char* system_text(int err) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    return strerrordesc_np(err);
#else
    return std::strerror(err);
#endif
}
}  // namespace

void for_report_system_error(const char* prefix, int err) {
    if (!prefix) prefix = "forrtl";
    // The system text gets the catalogue's line end, so the run-time
    // message that usually follows starts on a line of its own.
    char text[1024];
    const char* desc = system_text(err);
    if (desc)
        std::snprintf(text, sizeof text, "%s\r\n", desc);
    else
        std::snprintf(text, sizeof text, "FormatMessage failed for sysmem message number %i\r\n", err);
    for_wbuf_flush_all();
    redirect_fort0();
    if (host_has_box()) {
        int n = std::snprintf(nullptr, 0, "%s: %s", prefix, text);
        char* box = n >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1)) : nullptr;
        if (box) {
            std::snprintf(box, static_cast<std::size_t>(n) + 1, "%s: %s", prefix, text);
            g_host->message_box(box, kBoxTitle, kBoxStyle);
            std::free(box);
        } else {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%i", err);
            g_host->message_box(digits, kBoxTitle, kBoxStyle);
        }
        return;
    }
    std::fprintf(stderr, "%s: %s", prefix, text);
    std::fflush(stderr);
}

const LastError& for_last_error() { return t_last_error; }

int for_handle_io_error(int action, Status code, Lub* lub) {
    // 1. The unit and file name for the message.
    char name[264];
    int unit = 0;
    if (lub && lub->name) {
        std::size_t len = lub->name_length ? lub->name_length : std::strlen(lub->name);
        if (len > sizeof name - 1) len = sizeof name - 1;
        std::memcpy(name, lub->name, len);
        name[len] = '\0';
    } else {
        std::snprintf(name, sizeof name, "%s", "unknown");
    }
    if (lub) {
        unit = lub->unit;
        if (g_io_error_hooks.clear_pending) g_io_error_hooks.clear_pending(lub);
    }
    const int kept_error = lub ? lub->system_error : 0;

    // 2. The thread's last-error record.
    t_last_error = LastError{{static_cast<std::int32_t>(code), kept_error, 0, unit, 0}};

    const unsigned number = status_number(code);
    const bool returns_conversion =
        lub && lub->return_conversion_errors && code == make_status(SEV_ERROR, MSG_OUTPUT_CONVERSION);
    int result = 0;
    if (lub && (lub->error_branch || returns_conversion)) {
        // 3. The statement takes the error itself.
        lub->system_error = 0;
        if (number == MSG_END_OF_FILE || number == MSG_EOF_ENCOUNTERED)
            result = -1;
        else if (number == MSG_END_OF_RECORD || number == MSG_EOR_ENCOUNTERED)
            result = -2;
        else
            result = static_cast<int>(number);
    } else if (lub && lub->end_branch &&
               (number == MSG_END_OF_FILE || number == MSG_TOO_MANY_RECORDS || number == MSG_EOF_ENCOUNTERED)) {
        // 4. End branch.
        result = -1;
    } else if (lub && lub->eor_branch && (number == MSG_END_OF_RECORD || number == MSG_EOR_ENCOUNTERED)) {
        result = -2;
    } else {
        // 5. Report: an open console line first gets its LF, then the kept
        // system error, then the run-time message with unit and file.
        if (g_io_error_hooks.console_line_feed) {
            for (int u : {6, -2, 0, -1}) g_io_error_hooks.console_line_feed(u);
        }
        if (kept_error) {
            for_report_system_error("forrtl", kept_error);
            lub->system_error = 0;
        }
        // The unit and name go in only where the text asks for them in that
        // order; any other text is shown without arguments rather than fed
        // the wrong types.
        char kinds[8];
        conversion_kinds(lookup_text(code), kinds, sizeof kinds);
        if (std::strcmp(kinds, "ds") == 0 || std::strcmp(kinds, "d") == 0)
            for_report(code, 2, unit, name);
        else
            for_report(code, 0);
        // Reported and not severe: the program goes on, and a statement
        // without an error branch has no message number to return.
        result = 0;
    }

    // 6. The action on the unit.
    if (lub && action > IOERR_KEEP && action <= IOERR_CLOSE && g_io_error_hooks.action[action])
        g_io_error_hooks.action[action](lub);

    // 7. The statement's result.
    return result;
}

void for_report_trap(int parameter) {
    // Messages of the parameters -1 to -18.
    static const unsigned kTrapMessage[18] = {70,  71,  72,  73,  74,  65,  140, 141, 142,
                                              143, 144, 145, 146, 147, 148, 149, 150, 154};
    Status code;
    if (parameter <= -1 && parameter >= -18) {
        code = status_of(kTrapMessage[-parameter - 1]);
        for_report(code, 0);
    } else if (parameter <= -19 && parameter >= -25) {
        code = status_of(155);
        for_report(code, 1, -parameter - 18);
    } else {
        code = status_of(156);
        // The hexadecimal form shows the 32-bit word.
        for_report(code, 2, static_cast<long>(static_cast<std::uint32_t>(parameter)), static_cast<long>(parameter));
    }
    // The floating traps are errors: the trap still ends the run.
    end_program(static_cast<int>(code), status_number(code));
}

void for_report_trap_counts(std::uint32_t option_word, const TrapCounts& counts) {
    struct Kind {
        unsigned bit;
        int TrapCounts::*count;
        unsigned message;
    };
    static const Kind kKinds[] = {
        {9, &TrapCounts::underflow, 300},
        {8, &TrapCounts::overflow, 298},
        {10, &TrapCounts::divide_by_zero, 299},
        {11, &TrapCounts::invalid, 297},
    };
    for (const Kind& k : kKinds) {
        int n = counts.*k.count;
        if ((option_word >> k.bit) & 1u && n != 0) for_report(status_of(k.message), 1, n);
    }
}

// ---- processor exceptions -------------------------------------------------

unsigned for_signal_message(int signo, int si_code) {
    switch (signo) {
    case SIGSEGV: return 157;
    case SIGBUS: return 158;
    case SIGILL: return 168;
    case SIGFPE:
        switch (si_code) {
        case FPE_FLTDIV: return 73;
        case FPE_FLTINV: return 65;
        case FPE_FLTOVF: return 72;
        case FPE_FLTUND: return 74;
        case FPE_FLTRES: return 140;
        case FPE_INTDIV: return 164;
        case FPE_INTOVF: return 165;
        case FPE_FLTSUB: return 161;
        default: return 75;  // "floating point exception": a SIGFPE sent, not trapped
        }
    default: return 0;
    }
}

namespace {

const int kHandledSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGBUS};

struct LineBuffer {
    char data[kMessageMax + 64];
    std::size_t length = 0;
    void put(const char* s) {
        while (*s && length < sizeof data) data[length++] = *s++;
    }
    void put_int(int value) {
        char digits[12];
        int n = 0;
        unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (value < 0 && length < sizeof data) data[length++] = '-';
        while (n > 0 && length < sizeof data) data[length++] = digits[--n];
    }
};

void write_all(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Masks the inexact trap in the interrupted context and clears its flag, so
// that the instruction runs again without trapping.
void mask_inexact(void* context) {
#if defined(__x86_64__) && defined(__linux__)
    auto* uc = static_cast<ucontext_t*>(context);
    if (uc && uc->uc_mcontext.fpregs) {
        uc->uc_mcontext.fpregs->mxcsr |= 0x1000u;         // PM: inexact masked
        uc->uc_mcontext.fpregs->mxcsr &= ~0x20u;          // PE flag
        uc->uc_mcontext.fpregs->cwd |= 0x20u;             // x87 PM
        uc->uc_mcontext.fpregs->swd &= ~0x20u;
    }
#else
    (void)context;
#endif
}

// The run-time's handler: only async-signal-safe calls (the catalogue
// lookup reads constant tables).
void exception_handler(int signo, siginfo_t* info, void* context) {
    int saved_errno = errno;
    unsigned number = for_signal_message(signo, info ? info->si_code : 0);
    Status code = status_of(number);
    const char* text = catalogue_text(code);
    // The run ends here without the exit handler: the records held back
    // for disk files are written out first (floating inexact goes on).
    if (number != 140) for_wbuf_flush_in_signal();
    redirect_fort0_in_handler();
    LineBuffer line;
    line.put(severity_prefix(code));
    line.put(" (");
    line.put_int(static_cast<std::int16_t>(number));
    line.put("): ");
    line.put(text ? text : kNotFound);
    write_all(STDERR_FILENO, line.data, line.length);
    if (number == 140) {
        // Floating inexact: execution continues.
        mask_inexact(context);
        errno = saved_errno;
        return;
    }
    ::_exit(static_cast<int>(code));
}

bool is_program_handler(const struct sigaction& sa) {
    if (sa.sa_flags & SA_SIGINFO) return sa.sa_sigaction != exception_handler;
    return sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN && sa.sa_handler != SIG_ERR;
}

// An alternate signal stack for the calling thread, so that a stack
// overflow can still be reported.  A stack already set up is kept.
void ensure_alternate_stack() {
    stack_t current;
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    constexpr std::size_t kSize = 64 * 1024;
    void* memory = std::malloc(kSize);
    if (!memory) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kSize;
    if (::sigaltstack(&stack, nullptr) != 0) std::free(memory);
}

}  // namespace

void for_install_exception_handlers() {
    if (const char* fort0 = std::getenv("FORT0"))
        std::snprintf(g_fort0_saved, sizeof g_fort0_saved, "%s", fort0);
    if (for_env_switch("FOR_IGNORE_EXCEPTIONS")) return;
    ensure_alternate_stack();
    for (int signo : kHandledSignals) {
        struct sigaction current {};
        if (::sigaction(signo, nullptr, &current) != 0) continue;
        if (is_program_handler(current)) continue;  // the program's own handler runs
        struct sigaction sa {};
        sa.sa_sigaction = exception_handler;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        ::sigaction(signo, &sa, nullptr);
    }
}

}  // namespace forrtl
