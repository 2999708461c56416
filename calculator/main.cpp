// loxnar: lists the lattice planes (hkl) of a crystal's unit cell whose
// spacing lies in a window, with their Bragg angles.
#include <cstdio>
#include <cstring>
#include <vector>

#include "calculation_run.h"
#include "for_diags.h"
#include "for_startup.h"

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
    "  --console   run on standard input and output (the default)\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    // The program's own options are taken out of the argument list the
    // run-time sees, where the remaining arguments supply file names that a
    // unit is missing.
    std::vector<char*> runtime_args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("loxnar " LOXNAR_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--console") == 0) continue;
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "loxnar: unknown option '%s'\nTry 'loxnar --help'.\n", argv[i]);
            return 2;
        }
        runtime_args.push_back(argv[i]);
    }
    runtime_args.push_back(nullptr);
    forrtl::for_install_exception_handlers();
    // The calculator's floating-point option word is 0: every exception
    // stays masked.
    forrtl::for_rtl_init(static_cast<int>(runtime_args.size()) - 1, runtime_args.data(), 0);
    calculator::calculation_run();
}
