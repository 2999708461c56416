// The calculator's record I/O statements, as calls of the run-time: a begin
// call with the first item, one call per further item, the last item
// followed by the end-of-list marker.  Items are passed by address (kind 3),
// character values as length and address (kind 4), arrays as total length
// and address (kind 5).  The WRITE statements with formats are prepared
// (listing.h): one call with the items' addresses.
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

inline ItemArg int_ref(const std::int32_t& v) { return {forrtl::TYPE_INT4, 3, 1, {address_word(&v), 0}}; }
inline ItemArg real_ref(const float& v) { return {forrtl::TYPE_REAL4, 3, 1, {address_word(&v), 0}}; }
inline ItemArg chars(const char* text, std::int32_t length) {
    return {forrtl::TYPE_CHARACTER, 4, 2, {static_cast<ArgWord>(length), address_word(text)}};
}
inline ItemArg int_array(const std::int32_t* v, std::int32_t count) {
    return {forrtl::TYPE_INT4, 5, 2, {static_cast<ArgWord>(count * 4), address_word(v)}};
}
inline ItemArg real_array(const float* v, std::int32_t count) {
    return {forrtl::TYPE_REAL4, 5, 2, {static_cast<ArgWord>(count * 4), address_word(v)}};
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

inline constexpr std::uint8_t kNoItems[2] = {forrtl::ITEM_END_OF_LIST, 0};

using BeginFn = int (*)(int, std::uint32_t, const std::uint8_t*, std::int32_t, const std::uint8_t*,
                        const ArgWord*);
using ItemFn = int (*)(const std::uint8_t*, const ArgWord*);

template <class... Items>
void formatted_statement(BeginFn begin, ItemFn next, int unit, const std::uint8_t* format, Items... items) {
    const ItemArg all[] = {items...};
    constexpr int n = sizeof...(Items);
    if constexpr (n == 0) {
        begin(unit, kFlags, format, 0, kNoItems, nullptr);
    } else {
        OneItem first = one_item(all[0], n == 1);
        begin(unit, kFlags, format, 0, first.list, first.args);
        for (int i = 1; i < n; ++i) {
            OneItem it = one_item(all[i], i == n - 1);
            next(it.list, it.args);
        }
    }
}

// WRITE (unit, format) items, prepared: the items' addresses in the order
// of the statement's item shapes.
template <const auto& Statement, class... Items>
void write_prepared(int unit, const Items*... items) {
    forrtl::prepared_write<Statement>(unit, kFlags, {static_cast<const void*>(items)...});
}

// READ (unit, format) items
template <class... Items>
void read_formatted(int unit, const std::uint8_t* format, Items... items) {
    formatted_statement(forrtl::format_read_begin, forrtl::format_read_item, unit, format, items...);
}

using ListBeginFn = int (*)(int, std::uint32_t, const std::uint8_t*, const ArgWord*);

template <class... Items>
void list_statement(ListBeginFn begin, ItemFn next, int unit, Items... items) {
    const ItemArg all[] = {items...};
    constexpr int n = sizeof...(Items);
    OneItem first = one_item(all[0], n == 1);
    begin(unit, kFlags, first.list, first.args);
    for (int i = 1; i < n; ++i) {
        OneItem it = one_item(all[i], i == n - 1);
        next(it.list, it.args);
    }
}

// WRITE (unit, *) items
template <class... Items>
void write_list(int unit, Items... items) {
    list_statement(forrtl::list_write_begin, forrtl::list_write_item, unit, items...);
}

// READ (unit, *) items
template <class... Items>
void read_list(int unit, Items... items) {
    list_statement(forrtl::list_read_begin, forrtl::list_read_item, unit, items...);
}

}  // namespace calculator
