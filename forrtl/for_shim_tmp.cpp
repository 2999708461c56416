#include "for_shim_tmp.h"


namespace forrtl {
int g_threading_level = 2;

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
