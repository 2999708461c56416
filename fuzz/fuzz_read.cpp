// Formatted READ: the input's first line is format text, the second names
// the items (letters of fuzz_items.h), the rest are the records.  The
// records are read from an internal file and, through unit 20, from a disk
// file holding the same bytes; every statement has its error branch.
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

std::string g_file;

void close_unit(std::int32_t unit) {
    std::int32_t control = 0;
    const std::uint8_t keywords[4] = {forrtl::ITEM_END_OF_LIST, 0, 0, 0};
    forrtl::for_close(&control, unit, forrtl::SF_ERROR_BRANCH, keywords, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/loxnar-fuzz-read-XXXXXX";
    if (!mkdtemp(dir)) return 0;
    g_file = std::string(dir) + "/records.txt";
    setenv("FORT20", g_file.c_str(), 1);
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

    const int fd = open(g_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return 0;
    const bool written = write(fd, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size());
    close(fd);
    if (!written) return 0;
    fuzz::ItemSet first(codes), second(codes);
    forrtl::format_read_begin(20, flags, program, length, first.items.l(), first.items.a());
    // A second statement goes on from where the first one left the file.
    forrtl::format_read_begin(20, flags, program, length, second.items.l(), second.items.a());
    close_unit(20);
    return 0;
}
