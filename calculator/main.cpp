// loxnar: lists the lattice planes (hkl) of a crystal's unit cell whose
// spacing lies in a window, with their Bragg angles.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "calculation_run.h"
#include "command_line.h"
#include "for_diags.h"
#include "for_startup.h"
#include "host.h"

namespace {

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The window needs a display: a Qt platform named explicitly (offscreen, for
// instance), or an X server or Wayland compositor that answers.  A display
// that is named but gone (a stale DISPLAY) is said once on standard error,
// and the program runs on the console instead.
bool display_available() {
    if (set("QT_QPA_PLATFORM")) return true;
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return false;
    if (host::display_answers()) return true;
    std::fputs("loxnar: the display does not answer; running on the console\n", stderr);
    return false;
}

// The calculation: the run-time's initialisation, then the main program.
// The calculator's floating-point option word is 0: every exception stays
// masked.
void run_program(int argc, char** argv) {
    forrtl::for_rtl_init(argc, argv, 0);
    calculator::calculation_run();
}

// In the window, File > Open Entry File... and a dropped file answer the
// prompt as the command line's ENTRY does.
const host::EntryFileRule kEntryFileRule = {
    "&Open Entry File...",
    "Open Entry File",
    "Entry data files (*.dat);;All Files (*)",
    calculator::accept_entry_file,
};

}  // namespace

int main(int argc, char** argv) {
    // A standard descriptor the program was started without is filled
    // before anything opens one: the window's display connection must not
    // become standard error, where a warning would garble it.
    forrtl::for_occupy_standard_descriptors();
    const calculator::CommandLine line = calculator::parse_command_line(argc, argv);
    switch (line.action) {
    case calculator::Action::Help: std::fputs(calculator::kUsage, stdout); return 0;
    case calculator::Action::Version: std::puts("loxnar " LOXNAR_VERSION); return 0;
    case calculator::Action::Error:
        std::fprintf(stderr, "loxnar: %s\nTry 'loxnar --help'.\n", line.error.c_str());
        return 2;
    case calculator::Action::Run: break;
    }
    // An entry given on the command line: the program works in its folder
    // and its name answers the prompt.
    if (const std::string error = calculator::enter_entry_folder(line); !error.empty()) {
        std::fprintf(stderr, "loxnar: %s\n", error.c_str());
        return 2;
    }
    if (!line.entry_given.empty()) {
        forrtl::for_preset_console_answer(line.entry.name.data(), static_cast<int>(line.entry.name.size()));
    }
    // The run-time sees no argument of the program's own: the arguments it
    // is given supply file names that a unit is missing.
    static char* runtime_args[] = {argv[0], nullptr};
    forrtl::for_install_exception_handlers();
    if (!line.console && display_available()) {
        host::set_entry_file_rule(&kEntryFileRule);
        const int code = host::run_windowed(1, runtime_args, run_program);
        // The calculation thread may still be parked inside the run-time:
        // no static destructors under its feet.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    run_program(1, runtime_args);
}
