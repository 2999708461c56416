// The program the whole-application host tests run: the run-time's
// initialisation, then loxnar's calculation, as loxnar's own main does.
#pragma once

#include "calculation_run.h"
#include "for_startup.h"

namespace hosttest {

inline void run_program(int argc, char** argv) {
    forrtl::for_rtl_init(argc, argv, 0);
    calculator::calculation_run();
}

}  // namespace hosttest
