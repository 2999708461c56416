#include "for_host.h"

namespace forrtl {

const HostOps* g_host = nullptr;

int (*g_host_unit_to_window)(const int* unit) = nullptr;
int (*g_host_window_to_unit)(int window) = nullptr;

void for_register_host(const HostOps* ops) { g_host = ops; }

}  // namespace forrtl
