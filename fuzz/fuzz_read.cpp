// Formatted READ: the input's first line is format text, the second names
// the items (letters of fuzz_items.h), the rest are the records.  The
// records are read from an internal file and, through unit 20, from a disk
// file holding the same bytes; every statement has its error branch.
#include <cstddef>
#include <cstdint>
#include <string>

#include "for_stmt.h"
#include "fuzz_items.h"

namespace {
std::string g_file;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_file = fuzz::file_of_unit(20, "records.txt");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string format(fuzz::take_line(rest));
    const std::string_view codes = fuzz::take_line(rest);
    const auto* program = reinterpret_cast<const std::uint8_t*>(format.data());
    const auto length = static_cast<std::int32_t>(format.size());
    std::uint32_t flags = fuzz::kFlags | forrtl::SF_FORMAT_TEXT;
    if (codes.find('S') != std::string_view::npos) flags &= ~forrtl::SF_STANDARD_RULES;

    fuzz::InternalArea area(rest);
    fuzz::ItemSet internal(codes);
    forrtl::internal_read_begin(area.text.data(), area.length, area.records, flags, program, length,
                                internal.items.l(), internal.items.a());

    if (!fuzz::put_file(g_file, rest)) return 0;
    fuzz::ItemSet first(codes), second(codes);
    forrtl::format_read_begin(20, flags, program, length, first.items.l(), first.items.a());
    // A second statement goes on from where the first one left the file.
    forrtl::format_read_begin(20, flags, program, length, second.items.l(), second.items.a());
    fuzz::close_unit(20);
    return 0;
}
