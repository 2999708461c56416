// Item descriptors: the type-code table and the reading of each item's
// argument words.
#include "for_desc_item.h"

namespace forrtl {

namespace {

// Storage size of one value by type code: 0 invalid, -1 length from the
// item (character and special items).  Terminators 1 and 2 are not items.
constexpr signed char kTypeSize[64] = {
    0,  0,  0,  0,  0,  1,  1,  2,  2,  4,  //  0- 9
    4,  8,  8,  4,  1,  2,  4,  8,  0,  0,  // 10-19
    0,  0,  0,  0,  0,  4,  4,  0,  8,  8,  // 20-29
    0,  8,  0,  0,  0,  0,  0,  0,  0,  0,  // 30-39
    16, 0,  16, 16, 16, 8,  8,  0,  8,  0,  // 40-49
    16, 0,  0,  0,  0,  0,  -1, 0,  0,  0,  // 50-59
    -1, -1, -1, -1,                         // 60-63
};

constexpr bool is_pair(std::uint8_t type) { return type >= 28 && type <= 44; }

constexpr std::uint8_t kMaxTypeCode = 63;

// Argument words read as signed values (bounds, strides, lengths).
inline std::int64_t signed_word(ArgWord word) { return static_cast<std::int64_t>(static_cast<std::intptr_t>(word)); }
inline void* address_word(ArgWord word) { return reinterpret_cast<void*>(word); }

Status internal_failure() { return status_of(MSG_INTERNAL_CHECK); }

}  // namespace

int type_element_size(std::uint8_t type) {
    return type <= kMaxTypeCode ? kTypeSize[type] : 0;
}

Status read_item_descriptor(ItemCursor& cursor, Item& item) {
    const std::uint8_t type = cursor.list[0];
    const std::uint8_t kind = cursor.list[1];
    if (type > kMaxTypeCode) return status_of(MSG_INVALID_ARGUMENT);
    // Only the fields of this item are set; dims beyond the rank keep
    // whatever they held.
    item.type = type;
    item.kind = kind;
    item.address = nullptr;
    item.length = 0;
    item.element_size = 0;
    item.char_length = 0;
    item.rank = 0;
    if (type == ITEM_END_OF_LIST || type == ITEM_MORE_LATER) return 0;

    const int size = kTypeSize[type];
    if (size == 0 || kind == 0 || kind == 2 || kind == 9 || kind > 10) return internal_failure();
    const bool sized = size > 0;  // numeric and logical types
    const ArgWord* args = cursor.args;
    std::int64_t element = sized ? size : 0;

    switch (kind) {
    case 1: {  // the value, inline in ceil(size / word) words
        if (!sized) return internal_failure();
        item.address = const_cast<ArgWord*>(args);
        item.length = size;
        args += (size + sizeof(ArgWord) - 1) / sizeof(ArgWord);
        break;
    }
    case 3:
    case 10:  // address of a scalar
        if (!sized) return internal_failure();
        item.address = address_word(args[0]);
        item.length = size;
        args += 1;
        break;
    case 4:  // length, address
    case 5:  // total length, address
        item.length = signed_word(args[0]);
        item.address = address_word(args[1]);
        if (!sized) element = item.length;
        args += 2;
        break;
    case 6:  // total length, address, element length
        item.length = signed_word(args[0]);
        item.address = address_word(args[1]);
        item.char_length = static_cast<std::int32_t>(signed_word(args[2]));
        if (!sized) element = item.char_length;
        args += 3;
        break;
    case 7:  // rank, base, (lower, upper, stride) per dimension
    case 8: {  // rank, base, element length, (lower, upper, stride) per dimension
        const std::int64_t rank = signed_word(args[0]);
        if (rank < 1 || rank > kMaxRank) return internal_failure();
        item.rank = static_cast<std::int32_t>(rank);
        item.address = address_word(args[1]);
        args += 2;
        if (kind == 8) {
            item.char_length = static_cast<std::int32_t>(signed_word(args[0]));
            if (!sized) element = item.char_length;
            args += 1;
        } else if (!sized) {
            return internal_failure();  // no element length for a character array
        }
        if (element < 0) element = 0;
        std::int64_t count = 1;
        for (int k = 0; k < item.rank; ++k) {
            Item::Dim& dim = item.dims[k];
            dim.lower = signed_word(args[0]);
            dim.upper = signed_word(args[1]);
            dim.stride = signed_word(args[2]);
            args += 3;
            std::int64_t extent = 0;
            if (dim.upper >= dim.lower && __builtin_sub_overflow(dim.upper, dim.lower, &extent))
                return internal_failure();
            extent = dim.upper >= dim.lower ? extent + 1 : 0;
            if (__builtin_mul_overflow(count, extent, &count)) return internal_failure();
        }
        if (__builtin_mul_overflow(count, element, &item.length)) return internal_failure();
        break;
    }
    default:
        return internal_failure();
    }
    // A negative length is an empty item.
    if (item.length < 0) item.length = 0;
    if (element < 0) element = 0;
    if (item.char_length < 0) item.char_length = 0;
    item.element_size = static_cast<std::int32_t>(is_pair(type) ? element / 2 : element);
    cursor.list += 2;
    cursor.args = args;
    return 0;
}

Status next_keyword_item(ItemCursor& cursor, Item& item, std::uint8_t& keyword) {
    keyword = 0;
    ItemCursor entry = cursor;
    if (Status status = read_item_descriptor(entry, item)) return status;
    if (item.type == ITEM_END_OF_LIST || item.type == ITEM_MORE_LATER) return 0;
    keyword = cursor.list[2];
    cursor.list += 4;
    cursor.args = entry.args;
    return 0;
}

ItemsRemain items_remain(const ItemCursor& cursor) {
    ItemCursor ahead = cursor;
    for (;;) {
        Item item;
        // A descriptor that cannot be read counts as an item: reading it for
        // real reports the failure.
        if (read_item_descriptor(ahead, item)) return ITEMS_FOLLOW;
        if (item.type == ITEM_END_OF_LIST) return ITEMS_END;
        if (item.type == ITEM_MORE_LATER) return ITEMS_UNKNOWN;
        if (item.length > 0) return ITEMS_FOLLOW;
    }
}

}  // namespace forrtl
