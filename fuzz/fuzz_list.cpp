// List-directed READ and WRITE: the input's first line names the items
// (letters of fuzz_items.h; S takes the standard-rules option away), the
// rest are the records.  The values are read from an internal file and,
// through unit 21, from a disk file with the same bytes, then written
// list-directed to an internal file and to unit 22.  Every statement has
// its error branch.
#include <cstddef>
#include <cstdint>
#include <string>

#include "for_stmt.h"
#include "fuzz_items.h"

namespace {
std::string g_in;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_in = fuzz::file_of_unit(21, "values.txt");
    fuzz::file_of_unit(22, "written.txt");
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

    if (!fuzz::put_file(g_in, rest)) return 0;
    fuzz::ItemSet values(codes);
    forrtl::list_read_begin(21, flags, values.items.l(), values.items.a());
    fuzz::close_unit(21);

    // What was read, written back in both layouts.
    char out[4 * 80];
    forrtl::internal_list_write_begin(out, 80, 4, flags, values.items.l(), values.items.a());
    forrtl::list_write_begin(22, flags | forrtl::SF_ALT_LIST_LAYOUT, values.items.l(), values.items.a());
    forrtl::list_write_begin(22, flags, internal.items.l(), internal.items.a());
    fuzz::close_unit(22);
    return 0;
}
