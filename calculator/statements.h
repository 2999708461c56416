// The calculator's record I/O statements, as calls of the run-time.  The
// READ statements and the WRITE statements with formats are prepared
// (listing.h): one call with the items' addresses.  The list-directed
// WRITE is a begin call with the first item, one call per further item, the
// last item followed by the end-of-list marker; character values are
// passed as length and address (kind 4).
#pragma once

#include <cstdint>

#include "for_desc_item.h"
#include "for_lub.h"
#include "for_prepared.h"
#include "for_stmt.h"

namespace calculator {

using forrtl::ArgWord;

// Every statement of the calculator passes the same flag word.
constexpr std::uint32_t kFlags = forrtl::kCalculatorFlags;

struct ItemArg {
    std::uint8_t type;
    std::uint8_t kind;
    std::uint8_t words;
    ArgWord arg[2];
};

inline ArgWord address_word(const void* p) { return reinterpret_cast<ArgWord>(p); }

inline ItemArg chars(const char* text, std::int32_t length) {
    return {forrtl::TYPE_CHARACTER, 4, 2, {static_cast<ArgWord>(length), address_word(text)}};
}

// One call's item list: the descriptor and its terminator (2 when more items
// follow in later calls, 1 after the statement's last item).
struct OneItem {
    std::uint8_t list[4];
    ArgWord args[2];
};

inline OneItem one_item(const ItemArg& item, bool last) {
    return {{item.type, item.kind, static_cast<std::uint8_t>(last ? 1 : 2), 0}, {item.arg[0], item.arg[1]}};
}

// WRITE (unit, format) items, prepared: the items' addresses in the order
// of the statement's item shapes.
template <const auto& Statement, class... Items>
void write_prepared(int unit, const Items*... items) {
    forrtl::prepared_write<Statement>(unit, kFlags, {static_cast<const void*>(items)...});
}

// READ (unit, format) items or READ (unit, *) items, prepared: the items'
// addresses in the order of the statement's item shapes.
template <const auto& Statement, class... Items>
void read_prepared(int unit, Items*... items) {
    forrtl::prepared_read<Statement>(unit, kFlags, {static_cast<void*>(items)...});
}

// WRITE (unit, *) items
template <class... Items>
void write_list(int unit, Items... items) {
    const ItemArg all[] = {items...};
    constexpr int n = sizeof...(Items);
    OneItem first = one_item(all[0], n == 1);
    forrtl::list_write_begin(unit, kFlags, first.list, first.args);
    for (int i = 1; i < n; ++i) {
        OneItem it = one_item(all[i], i == n - 1);
        forrtl::list_write_item(it.list, it.args);
    }
}

}  // namespace calculator
