// List-directed READ and WRITE: the input's first line names the items
// (letters of fuzz_items.h; S takes the standard-rules option away), the
// rest are the records.  The values are read from an internal file and,
// through unit 21, from a disk file with the same bytes, then written
// list-directed to an internal file and to unit 22.  Every statement has
// its error branch.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "for_stmt.h"
#include "for_units.h"
#include "fuzz_items.h"

namespace {

std::string g_in, g_out;

void close_unit(std::int32_t unit) {
    std::int32_t control = 0;
    const std::uint8_t keywords[4] = {forrtl::ITEM_END_OF_LIST, 0, 0, 0};
    forrtl::for_close(&control, unit, forrtl::SF_ERROR_BRANCH, keywords, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/loxnar-fuzz-list-XXXXXX";
    if (!mkdtemp(dir)) return 0;
    g_in = std::string(dir) + "/values.txt";
    g_out = std::string(dir) + "/written.txt";
    setenv("FORT21", g_in.c_str(), 1);
    setenv("FORT22", g_out.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view codes = fuzz::take_line(rest);
    std::uint32_t flags = fuzz::kFlags;
    if (codes.find('S') != std::string_view::npos) flags &= ~forrtl::SF_STANDARD_RULES;

    fuzz::InternalArea area(rest);
    fuzz::ItemSet internal(codes);
    forrtl::internal_list_read_begin(area.text.data(), area.length, area.records, flags, internal.items.l(),
                                     internal.items.a());

    const int fd = open(g_in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return 0;
    const bool written = write(fd, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size());
    close(fd);
    if (!written) return 0;
    fuzz::ItemSet values(codes);
    forrtl::list_read_begin(21, flags, values.items.l(), values.items.a());
    close_unit(21);

    // What was read, written back in both layouts.
    char out[4 * 80];
    forrtl::internal_list_write_begin(out, 80, 4, flags, values.items.l(), values.items.a());
    forrtl::list_write_begin(22, flags | forrtl::SF_ALT_LIST_LAYOUT, values.items.l(), values.items.a());
    forrtl::list_write_begin(22, flags, internal.items.l(), internal.items.a());
    close_unit(22);
    return 0;
}
