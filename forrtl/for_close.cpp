// CLOSE: pending output, the disposition of the file (keep, delete, print
// with lp, submit to /bin/sh), the handle, and the end of the block.  Also
// the exit handler's close of all units and the error exit's unit actions.
#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "for_open_params.h"
#include "for_units.h"
#include "for_wbuf.h"

namespace forrtl {

bool g_exit_running = false;

namespace {

// The name a block holds after its file is closed.
char kUnknownName[] = "\"Unknown\"";

// Hands the file to lp and waits for it: true when lp took it (exit 0).
bool print_file(const char* path, bool default_printer) {
    const char* dest = default_printer ? nullptr : std::getenv("FOR_DEFAULT_PRINT_DEVICE");
    if (dest && *dest) {
        const char* argv[] = {"lp", "-d", dest, "--", path, nullptr};
        return run_command(argv, true, false) == 0;
    }
    const char* argv[] = {"lp", "--", path, nullptr};
    return run_command(argv, true, false) == 0;
}

}  // namespace

const char* for_unit_name(const Lub* lub) { return lub && lub->name ? lub->name : "unknown"; }

Status for_close_connection(Lub* lub, int status_code) {
    if (!lub->connected) return 0;
    Status result = 0;
    DeviceNode* node = lub->device;
    if (node && node->record_pending && node->statement_owner == lub) {
        node->record_pending = false;
        node->statement_owner = nullptr;
        result = for_put_record(lub);
    }
    if (node && lub->carriage == CC_FORTRAN && node->open_after_cr && node->line_open_owner == lub) {
        Status s = for_close_open_line(lub);
        if (result == 0) result = s;
    }
    if (Status s = for_wbuf_detach(lub)) {
        if (result == 0) result = s;
    }

    int disposition = status_code ? status_code : lub->dispose;
    bool del = disposition == DISP_DELETE || disposition == DISP_PRINT_DELETE || disposition == DISP_SUBMIT_DELETE;
    bool print = disposition == DISP_PRINT || disposition == DISP_PRINT_DELETE;
    bool submit = disposition == DISP_SUBMIT || disposition == DISP_SUBMIT_DELETE;
    if (lub->scratch) del = true;

    if (lub->window_unit) {
        if (g_host) {
            int window = lub->device_code == -6 ? lub->handle : g_host->current_window();
            // Without STATUS (or with a deleting one) the window goes; KEEP,
            // and every unit at termination, keeps it marked closed.
            bool keep = status_code == DISP_KEEP || g_exit_running;
            g_host->close_window(window, keep ? 1 : 0);
        }
        lub->handle = -1;
        return result;
    }
    if (lub->std_handle) {
        // Standard handles stay open; read-ahead goes back to standard input.
        if (lub->std_input && lub->rec.ahead_count > 0 && lub->seekable) for_seek_back(lub);
    } else if (lub->handle >= 0) {
        if (close(lub->handle) != 0) {
            lub->system_error = errno;
            if (result == 0) result = status_of(MSG_CLOSE_ERROR);
        }
    }
    lub->handle = -1;

    if (lub->spool_path) {
        if (print_file(lub->spool_path, true)) {
            unlink(lub->spool_path);
        } else {
            // lp could not be started or refused the file: the spool file
            // is kept, and the failure names it as the unit's file.
            if (lub->name != kUnknownName) std::free(lub->name);
            lub->name = lub->spool_path;
            lub->name_length = static_cast<std::uint16_t>(std::strlen(lub->spool_path));
            lub->spool_path = nullptr;
            if (result == 0) result = status_of(MSG_CLOSE_ERROR);
        }
    }
    if (lub->device_code != -1 || !lub->name) return result;

    if (submit) {
        // The job runs through /bin/sh at lower priority, unwaited; the CR of
        // each CR LF line end is dropped on the way so that the commands
        // read as written.  The name is passed as an argument, never pasted
        // into the command text.
        const char* script = del ? "tr -d '\\r' < \"$1\" | /bin/sh && rm -f -- \"$1\"" : "tr -d '\\r' < \"$1\" | /bin/sh";
        const char* argv[] = {"/bin/sh", "-c", script, "sh", lub->name, nullptr};
        run_command(argv, false, true);
        del = false;
    }
    if (print) {
        const bool printed = print_file(lub->name, false);
        if (!printed && result == 0) result = status_of(MSG_CLOSE_ERROR);
        if (del) {
            del = false;
            if (result == 0) result = status_of(MSG_DISPOSITION_MODIFIED);
        }
    }
    if (del && unlink(lub->name) != 0) {
        lub->system_error = errno;
        if (result == 0) result = status_of(MSG_CLOSE_ERROR);
    }
    // Held until the file is deleted: no other process takes it meanwhile.
    for_unshare_file(lub);
    return result;
}

void for_clear_connection(Lub* lub) {
    for_wbuf_detach(lub);
    for_detach_device(lub);
    for_unshare_file(lub);
    if (lub->handle >= 0 && !lub->std_handle && !lub->window_unit) {
        // A connection that failed half-way: a scratch file made for it goes too.
        close(lub->handle);
        if (lub->scratch && lub->name && lub->name != kUnknownName) unlink(lub->name);
    }
    if (lub->spool_path) {
        if (lub->connected) unlink(lub->spool_path);
        std::free(lub->spool_path);
    }
    if (lub->name != kUnknownName) std::free(lub->name);
    std::free(lub->rec.buffer);
    Lub* next = lub->next;
    std::int32_t unit = lub->unit;
    char* internal_area = lub->internal_area;
    std::int32_t internal_length = lub->internal_length;
    std::size_t from = offsetof(Lub, next);
    std::memset(reinterpret_cast<char*>(lub) + from, 0, sizeof(Lub) - from);
    lub->next = next;
    lub->unit = unit;
    lub->internal_area = internal_area;
    lub->internal_length = internal_length;
    lub->handle = -1;
    lub->device_code = -1;
    lub->rec.end_mark = -1;
    lub->name = kUnknownName;
    lub->name_length = sizeof kUnknownName - 1;
}

void for_close_all_units() {
    g_exit_running = true;
    UnitCursor cursor{};
    while (Lub* lub = for_next_unit(cursor)) {
        if (lub->connected) {
            // A failed close (or the information that a print kept the
            // file) is reported with the unit and file, the system's text
            // first; the remaining units are still closed.
            Status s = for_close_connection(lub, 0);
            if (s != 0) {
                if (status_severity(s) >= SEV_ERROR) for_note_exit_failure(s);
                lub->connected = false;
                if (lub->system_error != 0) {
                    for_report_system_error("forrtl", lub->system_error);
                    lub->system_error = 0;
                }
                for_report_and_continue(s, 2, lub->unit, for_unit_name(lub));
            }
        }
        for_release_and_free(lub);
    }
}

Status for_io_error_release(Lub* lub) { return for_release_unit(lub); }

Status for_io_error_clear_release(Lub* lub) {
    for_clear_connection(lub);
    return for_release_unit(lub);
}

Status for_io_error_close(Lub* lub) {
    Status s = for_close_connection(lub, 0);
    for_clear_connection(lub);
    for_release_unit(lub);
    return s;
}

void for_clear_pending(Lub* lub) {
    DeviceNode* node = lub->device;
    if (node && node->statement_owner == lub) {
        node->record_pending = false;
        node->statement_owner = nullptr;
    }
}

void for_console_line_feed(int unit) {
    Lub* lub = for_peek_unit(unit);
    if (!lub || !lub->connected || !lub->device) return;
    DeviceNode* node = lub->device;
    if (!node->open_after_cr && !node->open_after_prompt) return;
    bool shows_diagnostics = g_host ? lub->window_unit
                                    : lub->std_handle && (lub->handle == STDOUT_FILENO || lub->handle == STDERR_FILENO);
    if (!shows_diagnostics) return;
    for_device_write(lub, "\n", 1);
    node->open_after_cr = false;
    node->open_after_prompt = false;
    node->line_open_owner = nullptr;
}

int for_close(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
              const ArgWord* values) {
    (void)control;
    Lub* lub = nullptr;
    Status s = for_lookup_unit(unit, SK_CLOSE, &lub);
    if (s != 0) {
        if (lub) for_release_unit(lub);
        return for_unit_lookup_failure(s, unit, flags);
    }
    for_copy_statement_options(lub, flags);
    // CLOSE of an unconnected unit succeeds and does nothing, whatever its
    // keywords say.
    if (!lub->connected) {
        for_release_unit(lub);
        return 0;
    }

    int status_code = 0;
    ItemCursor cursor{keywords, values};
    for (;;) {
        KeywordEntry e;
        s = read_keyword_entry(cursor, e);
        if (s == 0 && e.end) break;
        if (s == 0 && e.code != KW_DISPOSE) s = status_of(MSG_INVALID_ARGUMENT);
        if (s == 0) {
            OpenParams p{};
            s = apply_open_keyword(p, e, lub->compat_numbering);
            status_code = p.dispose;
        }
        if (s != 0) return for_handle_io_error(IOERR_RELEASE, s, lub);
    }
    if (status_code == DISP_KEEP && lub->scratch)
        return for_handle_io_error(IOERR_RELEASE, status_of(MSG_INCONSISTENT_OPEN_CLOSE), lub);
    if (status_code == DISP_DELETE && lub->read_only && !lub->read_only_by_kind)
        return for_handle_io_error(IOERR_RELEASE, status_of(MSG_INCONSISTENT_OPEN_CLOSE), lub);

    s = for_close_connection(lub, status_code);
    if (s != 0) return for_handle_io_error(IOERR_CLEAR_RELEASE, s, lub);
    for_clear_connection(lub);
    for_release_and_free(lub);
    return 0;
}

}  // namespace forrtl
