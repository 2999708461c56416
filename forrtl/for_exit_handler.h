// Termination: the exit handler closes every connected unit once.
#pragma once

namespace forrtl {

// Runs once per process (a second call does nothing): closes every connected
// unit with the dispositions that stand.
void for_exit_handler();

// Set by the unit table when it is first used: closes every connected unit
// in table order, reporting failures and going on.
extern void (*g_close_all_units)();

}  // namespace forrtl
