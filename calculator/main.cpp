// loxnar: lists the lattice planes (hkl) of a crystal's unit cell whose
// spacing lies in a window, with their Bragg angles.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calculation_run.h"
#include "for_diags.h"
#include "for_startup.h"
#include "host.h"

namespace {

const char kUsage[] =
    "Usage: loxnar [--console]\n"
    "Lists the lattice planes (hkl) of a unit cell whose spacing d lies in a\n"
    "window, with each plane's Bragg angle 2-theta.\n"
    "\n"
    "The program asks for an entry name NAME, reads the cases of NAME.dat and\n"
    "writes the stamped listing to NAME.imp.dat (an old one is deleted after\n"
    "a warning). The banner, stamps and plane table also go to the console.\n"
    "\n"
    "When a display is available (DISPLAY or WAYLAND_DISPLAY is set, or\n"
    "QT_QPA_PLATFORM names a platform) the console is a window: type the entry\n"
    "name there; at the end the program asks whether to close the window.\n"
    "Without a display, or with --console, it runs on standard input and\n"
    "output.\n"
    "\n"
    "  --console   run on standard input and output, even with a display\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

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

}  // namespace

int main(int argc, char** argv) {
    // A standard descriptor the program was started without is filled
    // before anything opens one: the window's display connection must not
    // become standard error, where a warning would garble it.
    forrtl::for_occupy_standard_descriptors();
    // The program's own options are taken out of the argument list the
    // run-time sees, where the remaining arguments supply file names that a
    // unit is missing.
    std::vector<char*> runtime_args{argv[0]};
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("loxnar " LOXNAR_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--console") == 0) {
            console = true;
            continue;
        }
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "loxnar: unknown option '%s'\nTry 'loxnar --help'.\n", argv[i]);
            return 2;
        }
        runtime_args.push_back(argv[i]);
    }
    runtime_args.push_back(nullptr);
    const int runtime_argc = static_cast<int>(runtime_args.size()) - 1;
    forrtl::for_install_exception_handlers();
    if (!console && display_available()) {
        const int code = host::run_windowed(runtime_argc, runtime_args.data(), run_program);
        // The calculation thread may still be parked inside the run-time:
        // no static destructors under its feet.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    run_program(runtime_argc, runtime_args.data());
}
