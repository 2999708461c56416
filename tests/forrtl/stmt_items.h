// Builds the item list and argument block of a statement call, as compiled
// code passes them: two-byte item descriptors (type code, kind) and the
// argument words each kind consumes, ending with a terminator.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "for_desc_item.h"

namespace stmt_test {

using forrtl::ArgWord;

struct Items {
    std::vector<std::uint8_t> list;
    std::vector<ArgWord> args;

    Items& scalar(std::uint8_t type, const void* address) {
        list.push_back(type);
        list.push_back(3);
        args.push_back(reinterpret_cast<ArgWord>(address));
        return *this;
    }
    Items& i4(const std::int32_t* p) { return scalar(forrtl::TYPE_INT4, p); }
    Items& l4(const std::int32_t* p) { return scalar(forrtl::TYPE_LOGICAL4, p); }
    Items& r4(const float* p) { return scalar(forrtl::TYPE_REAL4, p); }
    Items& r8(const double* p) { return scalar(forrtl::TYPE_REAL8, p); }
    // A character scalar of `length` characters.
    Items& chars(const char* p, std::int64_t length) {
        list.push_back(forrtl::TYPE_CHARACTER);
        list.push_back(4);
        args.push_back(static_cast<ArgWord>(length));
        args.push_back(reinterpret_cast<ArgWord>(p));
        return *this;
    }
    // A contiguous array of `bytes` bytes of the type.
    Items& array(std::uint8_t type, const void* p, std::int64_t bytes) {
        list.push_back(type);
        list.push_back(5);
        args.push_back(static_cast<ArgWord>(bytes));
        args.push_back(reinterpret_cast<ArgWord>(p));
        return *this;
    }
    // A character array of `bytes` bytes of elements of `length` characters.
    Items& char_array(const char* p, std::int64_t bytes, std::int64_t length) {
        list.push_back(forrtl::TYPE_CHARACTER);
        list.push_back(6);
        args.push_back(static_cast<ArgWord>(bytes));
        args.push_back(reinterpret_cast<ArgWord>(p));
        args.push_back(static_cast<ArgWord>(length));
        return *this;
    }
    // A section of rank 2: base, then (lower, upper, stride in bytes) per
    // dimension.
    Items& section2(std::uint8_t type, const void* base, std::int64_t l1, std::int64_t u1, std::int64_t s1,
                    std::int64_t l2, std::int64_t u2, std::int64_t s2) {
        list.push_back(type);
        list.push_back(7);
        for (ArgWord w : {ArgWord(2), reinterpret_cast<ArgWord>(base), ArgWord(l1), ArgWord(u1), ArgWord(s1),
                          ArgWord(l2), ArgWord(u2), ArgWord(s2)})
            args.push_back(w);
        return *this;
    }
    Items& end() {
        list.push_back(forrtl::ITEM_END_OF_LIST);
        list.push_back(0);
        return *this;
    }
    Items& more() {
        list.push_back(forrtl::ITEM_MORE_LATER);
        list.push_back(0);
        return *this;
    }
    const std::uint8_t* l() const { return list.data(); }
    const ArgWord* a() const { return args.empty() ? nullptr : args.data(); }
};

// The item calls of a prepared statement's items as begin and item calls
// take them: one item a call, more to come after all but the last (a
// statement without items gets one call with the end only).
template <class Shapes, class Address>
std::vector<Items> item_calls(const Shapes& shapes, const Address* addresses) {
    std::vector<Items> calls(shapes.size() ? shapes.size() : 1);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const auto& shape = shapes[i];
        Items& call = calls[i];
        if (shape.kind == 3) call.scalar(shape.type, addresses[i]);
        if (shape.kind == 4) call.chars(static_cast<const char*>(addresses[i]), shape.element);
        if (shape.kind == 5) call.array(shape.type, addresses[i], std::int64_t(shape.element) * shape.count);
        if (i + 1 < shapes.size()) call.more();
    }
    calls.back().end();
    return calls;
}

// A character area of `records` records of `length` characters, filled with
// '#' so that untouched positions show.
struct Area {
    std::int32_t length;
    std::int32_t records;
    std::string text;
    Area(std::int32_t length_, std::int32_t records_ = 1)
        : length(length_), records(records_), text(static_cast<std::size_t>(length_ * records_), '#') {}
    char* data() { return text.data(); }
    std::string record(int i) const { return text.substr(static_cast<std::size_t>(i * length), length); }
};

}  // namespace stmt_test
