// The format compiler and the walk of its programs: the input is format
// text.  A program that compiles is walked descriptor by descriptor (a few
// thousand steps at most), then used by an internal WRITE and an internal
// READ of a fixed item list, every statement with its error branch.
#include <cstddef>
#include <cstdint>
#include <string>

#include "for_format.h"
#include "for_stmt.h"
#include "fuzz_items.h"

namespace {

void count_move(void* context, std::uint8_t, std::int32_t n) { *static_cast<std::int64_t*>(context) += n; }

void walk(const std::uint8_t* program) {
    forrtl::FormatState state{};
    forrtl::format_state_begin(state, program);
    std::int64_t moved = 0;
    forrtl::FormatPositioner positioner{count_move, &moved, nullptr};
    for (int step = 0; step < 4000; ++step) {
        state.item_waiting = (step & 1) == 0;
        const forrtl::FormatStep s = forrtl::next_descriptor(state, &positioner);
        if (s.status) return;
        if (s.category == forrtl::FC_FORMAT_END && !state.data_met) return;
        // A data descriptor takes one item per repetition.
        if (state.repeat > 1) state.repeat = 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto length = static_cast<std::int32_t>(size);
    std::uint8_t* program = nullptr;
    if (forrtl::compile_format(text.data(), length, &program) == 0) {
        walk(program);
        forrtl::release_format(program);
    }
    const auto* format = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint32_t flags = fuzz::kFlags | forrtl::SF_FORMAT_TEXT;
    fuzz::ItemSet written("ihrdclaAzu");
    std::int32_t* i = reinterpret_cast<std::int32_t*>(written.slots[0].bytes);
    *i = -12345;
    double* d = reinterpret_cast<double*>(written.slots[3].bytes);
    *d = 6.02214076e23;
    std::memcpy(written.slots[6].bytes, "characters here.", 16);
    char area[3 * 80];
    forrtl::internal_write_begin(area, 80, 3, flags, format, length, written.items.l(), written.items.a());
    fuzz::ItemSet read("ihrdclaAzu");
    forrtl::internal_read_begin(area, 80, 3, flags, format, length, read.items.l(), read.items.a());
    return 0;
}
