#include "for_shim_tmp.h"

#include <cctype>
#include <cstdlib>
#include <sched.h>

namespace forrtl {
int g_threading_level = 2;

Status for_take_lock(std::atomic<std::int32_t>& word) {
    for (int attempt = 0; attempt < 50000; ++attempt) {
        if (attempt % 100 == 99) sched_yield();
        if (word.exchange(1) == 0) return 0;
    }
    return status_of(MSG_LOCK_CONTENTION);
}
bool for_try_lock(std::atomic<std::int32_t>& word) { return word.exchange(1) == 0; }
void for_release_lock(std::atomic<std::int32_t>& word) { word.store(0); }

bool for_env_switch(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return false;
    if (*v == 'T' || *v == 't' || *v == 'Y' || *v == 'y') return true;
    bool nonzero = false;
    for (const char* p = v; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        if (*p != '0') nonzero = true;
    }
    return nonzero;
}
}  // namespace forrtl

#include <unistd.h>
namespace forrtl {
Status for_tmp_write_record(int unit, const char* text, int length) {
    int fd = unit == 0 ? 2 : 1;
    if (length > 0 && write(fd, text, length) != length) return status_of(MSG_WRITE_ERROR);
    if (write(fd, "\r\n", 2) != 2) return status_of(MSG_WRITE_ERROR);
    return 0;
}
}  // namespace forrtl
