#include "for_diags.h"

#include "for_exit_handler.h"
#include "for_lub.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace forrtl {

namespace {
FatalHook g_fatal_hook = nullptr;

const char* const kSeverityPrefix[] = {"forrtl", "forrtl: info", "forrtl: warning", "forrtl: error",
                                       "forrtl: severe"};

void show_line(Status code, const char* text, int shown_number) {
    unsigned sev = status_severity(code);
    const char* prefix = kSeverityPrefix[sev >= 2 ? sev + 1 : sev];
    std::fprintf(stderr, "%s (%i): %s", prefix, shown_number, text);
    std::fflush(stderr);
}
}  // namespace

void for_set_fatal_hook(FatalHook hook) { g_fatal_hook = hook; }

void for_terminate(int exit_code) {
    if (g_fatal_hook) g_fatal_hook(exit_code);
    std::exit(exit_code);
}

void for_report(Status code, int nargs, ...) {
    char message[396];
    const char* text = catalogue_text(code);
    if (!text) text = "Message not found\n";
    if (nargs > 0) {
        va_list ap;
        va_start(ap, nargs);
        std::vsnprintf(message, sizeof message, text, ap);
        va_end(ap);
    } else {
        std::snprintf(message, sizeof message, "%s", text);
    }
    show_line(code, message, static_cast<std::int16_t>(status_number(code)));
    if (status_severity(code) == SEV_SEVERE) {
        for_exit_handler();
        for_terminate(static_cast<int>(code));
    }
}

void for_report_alternate(int index, int nargs, ...) {
    (void)nargs;
    for_report(status_of(540 + index), 0);
}

void for_report_math_error(int number, const char* text, int facility) {
    (void)facility;
    std::fprintf(stderr, "\r\nrun-time error M%i: MATH\r\n- %s\r\n", number, text);
    std::fflush(stderr);
    for_terminate(3);
}

void for_report_system_error(const char* prefix, int err) {
    std::fprintf(stderr, "%s: %s\n", prefix, std::strerror(err));
    std::fflush(stderr);
}

IoErrorHooks g_io_error_hooks{};

int for_handle_io_error(int action, Status code, Lub* lub) {
    // Interim common exit until the full diagnostics land: error and end
    // branches, the console line feed, the kept system error, the message
    // with unit and file, then the unit action, through the unit layer's
    // hooks.
    int number = static_cast<int>(status_number(code));
    int result = number;
    bool eof = number == MSG_END_OF_FILE || number == MSG_EOF_ENCOUNTERED;
    bool eor = number == MSG_END_OF_RECORD || number == MSG_EOR_ENCOUNTERED;
    if (lub && g_io_error_hooks.clear_pending) g_io_error_hooks.clear_pending(lub);
    if (lub && lub->error_branch) {
        lub->system_error = 0;
        result = eof ? -1 : eor ? -2 : number;
    } else if (lub && lub->end_branch && (eof || number == MSG_TOO_MANY_RECORDS)) {
        result = -1;
    } else if (lub && lub->eor_branch && eor) {
        result = -2;
    } else {
        if (g_io_error_hooks.console_line_feed) {
            for (int u : {6, -2, 0, -1}) g_io_error_hooks.console_line_feed(u);
        }
        if (lub && lub->system_error) {
            for_report_system_error("forrtl", lub->system_error);
            lub->system_error = 0;
        }
        for_report(code, 2, lub ? lub->unit : 0, lub && lub->name ? lub->name : "unknown");
    }
    if (lub && action > IOERR_KEEP && action <= IOERR_CLOSE && g_io_error_hooks.action[action])
        g_io_error_hooks.action[action](lub);
    return result;
}

}  // namespace forrtl
