// Item descriptors: the two-byte type-and-kind code of each item a transfer
// call passes, read in step with the call's argument block.  The same
// encoding, with a keyword code added, carries the keyword arguments of
// OPEN, CLOSE and INQUIRE.
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

// One word of an argument block.  Addresses take one word; on this 64-bit
// platform a word is pointer-sized.  Every address, length, rank, bound and
// stride is one word (bounds, strides and lengths read as signed).  An item
// of kind 1 carries its value inline: the value's bytes lie at the start of
// ceil(size / sizeof(ArgWord)) consecutive words (a 4-byte integer or an
// 8-byte complex takes one word, a 16-byte complex two), and the item's
// address points at them.
using ArgWord = std::uintptr_t;

enum ItemTerminator : std::uint8_t {
    ITEM_END_OF_LIST = 1,   // the statement's item list ends here
    ITEM_MORE_LATER = 2,    // no further item in this call
};

// Type codes the calculator passes.
enum : std::uint8_t {
    TYPE_INT4 = 9,
    TYPE_LOGICAL4 = 16,
    TYPE_REAL4 = 26,
    TYPE_REAL8 = 45,
    TYPE_CHARACTER = 56,
};

constexpr int kMaxRank = 7;

struct Item {
    std::uint8_t type;   // type code, or 1 / 2 for a terminator
    std::uint8_t kind;
    void* address;       // first element
    std::int64_t length; // total length in bytes
    std::int32_t element_size;  // size of one element (one part for complex)
    std::int32_t char_length;   // element length of a character array (kinds 6, 8)
    std::int32_t rank;          // kinds 7, 8
    struct Dim {
        std::int64_t lower, upper, stride;
    } dims[kMaxRank];
};

struct ItemCursor {
    const std::uint8_t* list;  // next descriptor
    const ArgWord* args;       // next argument word
};

// Reads the next descriptor and consumes its argument words.  Errors: 48 for
// a type code above 63, 8 for an invalid type or kind (also for a kind that
// cannot size its item: a character or special item by address alone or
// inline, a character array of kind 7, a rank outside 1..7, an element count
// that overflows).  On failure the cursor does not move.  A terminator
// (type 1 or 2) consumes nothing, so reading again returns it again.
Status read_item_descriptor(ItemCursor& cursor, Item& item);

// A keyword list entry: read_item_descriptor, then the keyword code; the list
// advances by the full 4-byte entry.
Status next_keyword_item(ItemCursor& cursor, Item& item, std::uint8_t& keyword);

enum ItemsRemain { ITEMS_FOLLOW = 0, ITEMS_END = 1, ITEMS_UNKNOWN = 2 };
ItemsRemain items_remain(const ItemCursor& cursor);

// Storage size of one value of a type code (both parts for complex types;
// 0 for invalid codes, -1 for character and special items whose length comes
// from the item).  Item::element_size holds one part for complex types.
int type_element_size(std::uint8_t type);

}  // namespace forrtl
