#include "for_host.h"

namespace forrtl {

const HostOps* g_host = nullptr;

void for_register_host(const HostOps* ops) { g_host = ops; }

}  // namespace forrtl
