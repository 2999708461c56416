// The STOP statement: the optional stop line, the exit handler, the host's
// end of program and the end of the process.
#include "for_stop.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "for_io.h"
#include "for_lub.h"
#include "for_reentrancy.h"
#include "for_startup.h"
#include "for_units.h"

namespace forrtl {

namespace {

std::mutex g_stop_mutex;                       // threading level 2 and above
std::atomic<std::int32_t> g_stop_lock{0};      // serialises STOP between threads
std::atomic<std::int32_t> g_stop_once_lock{0}; // held by the STOP that ends the run
std::atomic<long> g_stopping_thread{0};

constexpr char kReturnCode[] = "Return code ";                  // 12 characters
constexpr char kProgramTerminated[] = "Stop - Program terminated."; // 26 characters
constexpr int kStatusUnknown = 4;                                 // STATUS='UNKNOWN'

long this_thread() { return static_cast<long>(pthread_self()); }

void hold_console_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGABRT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

struct StopLocks {
    bool mutex_held = false;
    bool lock_held = false;
    void release() {
        if (lock_held) for_release_lock(g_stop_lock);
        if (mutex_held) g_stop_mutex.unlock();
        lock_held = mutex_held = false;
    }
};

// Statement kind of STOP's unit lookup.
constexpr int kStopStatement = 34;

// Writes the stop line as one record of `unit`: looked up (completing a
// record left pending on its device), connected implicitly when it is not,
// one record begun, filled and put.  Failures are reported; a severe one
// ends the run there with its status code.
void write_stop_line(int unit, std::uint32_t flags, const char* text, int length) {
    Lub* lub = nullptr;
    Status status = for_lookup_unit(unit, kStopStatement, &lub);
    if (status != 0) {
        for_report(status, 2, unit, "unknown");
        return;
    }
    for_copy_statement_options(lub, flags);
    if (!lub->connected) {
        status = for_implicit_open(lub, ACC_SEQUENTIAL, kStatusUnknown, FORM_FORMATTED);
        if (status != 0) {
            for_handle_io_error(IOERR_CLEAR_RELEASE, status, lub);
            return;
        }
    }
    for_writable_on_first_write(lub);
    status = for_begin_output_record(lub);
    // "FORTRAN" carriage control: a blank control character single-spaces
    // the line, so that the text's first character is not taken for one.
    const bool fortran = lub->carriage == CC_FORTRAN;
    if (status == 0) status = for_record_room(lub, length + (fortran ? 1 : 0));
    if (status == 0) {
        if (fortran) lub->rec.buffer[lub->rec.pos++] = ' ';
        std::memcpy(lub->rec.buffer + lub->rec.pos, text, static_cast<std::size_t>(length));
        lub->rec.pos += length;
        lub->rec.end_mark = lub->rec.pos;
        status = lub->form == FORM_FORMATTED ? for_put_record(lub) : for_put_unformatted_record(lub);
    }
    if (status != 0) {
        for_handle_io_error(IOERR_RELEASE, status, lub);
        return;
    }
    for_release_unit(lub);
}

[[noreturn]] void end_run(StopLocks& locks, int stop_code) {
    for_exit_handler();
    const int exit_code = for_exit_code(stop_code);
    locks.release();
    if (g_host && g_host->program_exit) g_host->program_exit(exit_code);
    for_terminate(exit_code);
}

}  // namespace

void for_stop(const char* text, int length, std::uint32_t flags, std::int32_t code, int code_kind) {
    // Another thread is ending the run (a console event, a severe error):
    // this one makes no further statement.
    if (!for_claim_run_end()) for_park_thread();
    StopLocks locks;
    if (g_threading_level >= 2) {
        g_stop_mutex.lock();
        locks.mutex_held = true;
    }
    locks.lock_held = for_take_lock(g_stop_lock) == 0;
    if (g_threading_level >= 1) hold_console_signals();

    if (!for_try_lock(g_stop_once_lock)) {
        locks.release();
        // A STOP is already ending the run.  Called again on the same
        // thread (from inside that STOP), end at once.  On another thread,
        // wait for the first STOP to finish: ending the process here would
        // cut its closing of the units short and replace its exit code.
        if (g_stopping_thread.load() == this_thread()) for_terminate(0);
        for (;;) pause();
    }
    g_stopping_thread.store(this_thread());

    const int exit_code = code_kind == STOP_NUMERIC_CODE ? code : 0;
    if (!text || length < 0) length = 0;
    const bool compat = (flags & SF_COMPAT_NUMBERING) != 0;

    char digits[16];
    int digit_count = 0;
    if (code_kind == STOP_NUMERIC_CODE) digit_count = std::snprintf(digits, sizeof digits, "%d", code);

    if (compat) {
        char line[sizeof kReturnCode + sizeof digits];
        if (code_kind == STOP_NUMERIC_CODE) {
            std::memcpy(line, kReturnCode, sizeof kReturnCode - 1);
            std::memcpy(line + sizeof kReturnCode - 1, digits, digit_count);
            write_stop_line(6, flags, line, static_cast<int>(sizeof kReturnCode - 1) + digit_count);
        } else if (length > 0) {
            write_stop_line(6, flags, text, length);
        } else {
            write_stop_line(6, flags, kProgramTerminated, sizeof kProgramTerminated - 1);
        }
    } else if (length > 0) {
        write_stop_line(0, flags, text, length);
    } else if (code_kind == STOP_NUMERIC_CODE) {
        // The code shows as its digits, as the compiler passes it as text.
        write_stop_line(0, flags, digits, digit_count);
    }
    end_run(locks, exit_code);
}

}  // namespace forrtl
