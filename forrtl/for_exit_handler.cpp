#include "for_exit_handler.h"

#include <atomic>

namespace forrtl {

void (*g_close_all_units)() = nullptr;

void for_exit_handler() {
    static std::atomic<bool> done{false};
    if (done.exchange(true)) return;
    if (g_close_all_units) g_close_all_units();
}

}  // namespace forrtl
