// Whole runs of loxnar on entry data files: the input is the entry data
// file.  Each run types the entry name on standard input (a pipe), reads
// the cases and writes the results file in a folder of the harness; the end
// of the run (STOP, a severe error, a math error) comes back here through
// the run-time's fatal hook, and the units the run left connected are
// closed before the next input.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "calculation_run.h"
#include "for_diags.h"
#include "for_io.h"
#include "for_startup.h"
#include "fuzz_items.h"

namespace {

struct RunEnded {
    int code;
};

[[noreturn]] void end_of_run(int code) { throw RunEnded{code}; }

int g_typed = -1;  // the writing end of standard input

// Index bounds in the thousands (or 140.q6, 140 million) make a run walk for
// minutes: that is the program's arithmetic, not a fault of its I/O.  An
// entry with a number above 130 in magnitude (angles of 120 stay), or with
// more records than six cases take, is skipped.
bool small_run(std::string_view text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    if (lines > 24) return false;
    std::string number;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        const bool part = std::strchr("0123456789.+-eEdDqQ", c) != nullptr && c != 0;
        if (part) {
            // The exponent letters of list-directed input, as strtod reads them.
            number += std::strchr("dDqQ", c) ? 'e' : c;
            continue;
        }
        if (!number.empty() && std::fabs(std::strtod(number.c_str(), nullptr)) > 130) return false;
        number.clear();
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    char dir[] = "/tmp/loxnar-fuzz-run-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
    int typed[2];
    if (pipe(typed) != 0) std::abort();
    dup2(typed[0], STDIN_FILENO);
    close(typed[0]);
    g_typed = typed[1];
    forrtl::for_set_fatal_hook(end_of_run);
    forrtl::for_install_exception_handlers();
    forrtl::for_rtl_init(*argc > 0 ? 1 : 0, *argv, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (size > 2048 || !small_run(text)) return 0;
    if (!fuzz::put_file("fuzz.dat", text)) return 0;
    unlink("fuzz.imp.dat");
    if (write(g_typed, "fuzz\n", 5) != 5) return 0;
    try {
        calculator::calculation_run();
    } catch (const RunEnded&) {
    }
    // The exit handler closes the units once per process: here they are
    // closed after every run.
    forrtl::for_close_all_units();
    forrtl::g_exit_running = false;
    return 0;
}
