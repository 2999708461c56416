#include <gtest/gtest.h>

#include <cstring>

#include "for_desc_item.h"

using namespace forrtl;

namespace {

ArgWord word_of(const void* address) { return reinterpret_cast<ArgWord>(address); }
ArgWord word_of(std::int64_t value) { return static_cast<ArgWord>(static_cast<std::intptr_t>(value)); }

}  // namespace

// The calculator's items: a 4-byte integer by address (9, 3) and a
// 20-character variable (56, 4 with the words 20 and its address).
TEST(ItemDescriptor, ScalarAndCharacterVariable) {
    std::int32_t number = 7;
    char name[20] = {};
    const std::uint8_t list[] = {9, 3, 56, 4, 26, 3, 1, 0};
    float real = 1.5f;
    const ArgWord args[] = {word_of(&number), 20, word_of(name), word_of(&real)};
    ItemCursor cursor{list, args};
    Item item;

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.type, 9);
    EXPECT_EQ(item.kind, 3);
    EXPECT_EQ(item.address, &number);
    EXPECT_EQ(item.length, 4);
    EXPECT_EQ(item.element_size, 4);
    EXPECT_EQ(cursor.list, list + 2);
    EXPECT_EQ(cursor.args, args + 1);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.type, 56);
    EXPECT_EQ(item.address, name);
    EXPECT_EQ(item.length, 20);
    EXPECT_EQ(item.element_size, 20);
    EXPECT_EQ(cursor.args, args + 3);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.address, &real);
    EXPECT_EQ(item.length, 4);

    // The terminator consumes nothing; reading again gives it again.
    const ItemCursor at_end = cursor;
    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.type, ITEM_END_OF_LIST);
    EXPECT_EQ(cursor.list, at_end.list);
    EXPECT_EQ(cursor.args, at_end.args);
}

// Kind 1 values lie inline in ceil(size / word) words; complex types give
// the size of one part as element size.
TEST(ItemDescriptor, InlineValues) {
    const std::int32_t two = 2;
    const double parts[2] = {1.25, -3.5};
    ArgWord args[4] = {};
    std::memcpy(&args[0], &two, sizeof two);
    std::memcpy(&args[1], parts, sizeof parts);  // 16 bytes: two words
    const std::uint8_t list[] = {9, 1, 40, 1, 2, 0};
    ItemCursor cursor{list, args};
    Item item;

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.length, 4);
    std::int32_t value = 0;
    std::memcpy(&value, item.address, sizeof value);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(cursor.args, args + 1);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.length, 16);
    EXPECT_EQ(item.element_size, 8);
    double imaginary = 0;
    std::memcpy(&imaginary, static_cast<const char*>(item.address) + 8, sizeof imaginary);
    EXPECT_EQ(imaginary, -3.5);
    EXPECT_EQ(cursor.args, args + 1 + (16 + sizeof(ArgWord) - 1) / sizeof(ArgWord));

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.type, ITEM_MORE_LATER);
}

TEST(ItemDescriptor, ArraysAndSections) {
    float reals[10] = {};
    char names[3][10] = {};
    std::int32_t matrix[4][5] = {};
    char labels[4][6] = {};
    const std::uint8_t list[] = {26, 5, 56, 6, 9, 7, 56, 8, 9, 7, 1, 0};
    const ArgWord args[] = {
        40, word_of(reals),                                  // kind 5
        30, word_of(names), 10,                              // kind 6
        2, word_of(&matrix[0][1]), word_of(std::int64_t(1)), word_of(std::int64_t(3)), 8,
        word_of(std::int64_t(-1)), word_of(std::int64_t(0)), 40,  // kind 7: 3 x 2 of every other column
        1, word_of(labels), 6, word_of(std::int64_t(1)), word_of(std::int64_t(4)), 12,  // kind 8
        1, word_of(reals), word_of(std::int64_t(5)), word_of(std::int64_t(4)), 4,      // kind 7: empty
    };
    ItemCursor cursor{list, args};
    Item item;

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.address, reals);
    EXPECT_EQ(item.length, 40);
    EXPECT_EQ(item.element_size, 4);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.address, names);
    EXPECT_EQ(item.length, 30);
    EXPECT_EQ(item.element_size, 10);
    EXPECT_EQ(item.char_length, 10);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.kind, 7);
    EXPECT_EQ(item.rank, 2);
    EXPECT_EQ(item.address, &matrix[0][1]);
    EXPECT_EQ(item.length, 6 * 4);
    EXPECT_EQ(item.element_size, 4);
    EXPECT_EQ(item.dims[0].lower, 1);
    EXPECT_EQ(item.dims[0].upper, 3);
    EXPECT_EQ(item.dims[0].stride, 8);
    EXPECT_EQ(item.dims[1].lower, -1);
    EXPECT_EQ(item.dims[1].upper, 0);
    EXPECT_EQ(item.dims[1].stride, 40);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.kind, 8);
    EXPECT_EQ(item.rank, 1);
    EXPECT_EQ(item.char_length, 6);
    EXPECT_EQ(item.element_size, 6);
    EXPECT_EQ(item.length, 24);
    EXPECT_EQ(item.dims[0].stride, 12);

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.length, 0);  // upper below lower: no element

    ASSERT_EQ(read_item_descriptor(cursor, item), 0u);
    EXPECT_EQ(item.type, ITEM_END_OF_LIST);
    EXPECT_EQ(cursor.args, args + sizeof args / sizeof args[0]);
}

TEST(ItemDescriptor, Failures) {
    std::int32_t number = 0;
    struct Row {
        const char* label;
        std::uint8_t type, kind;
        unsigned message;
    };
    const Row rows[] = {
        {"type 64", 64, 3, 48},          {"type 255", 255, 3, 48},
        {"type 0", 0, 3, 8},             {"type 3", 3, 3, 8},
        {"type 18", 18, 3, 8},           {"type 27", 27, 3, 8},
        {"type 57", 57, 4, 8},           {"kind 0", 9, 0, 8},
        {"kind 2", 9, 2, 8},             {"kind 9", 9, 9, 8},
        {"kind 11", 9, 11, 8},           {"character by address alone", 56, 3, 8},
        {"character inline", 56, 1, 8},  {"character array without length", 56, 7, 8},
        {"special inline", 60, 1, 8},
    };
    const ArgWord args[] = {word_of(&number), word_of(&number), 4, 4};
    for (const Row& row : rows) {
        const std::uint8_t list[] = {row.type, row.kind, 1, 0};
        ItemCursor cursor{list, args};
        Item item;
        EXPECT_EQ(status_number(read_item_descriptor(cursor, item)), row.message) << row.label;
        EXPECT_EQ(cursor.list, list) << row.label;
        EXPECT_EQ(cursor.args, args) << row.label;
    }
    // A rank outside 1..7 cannot be described.
    for (std::int64_t rank : {0, 8, -1}) {
        const std::uint8_t list[] = {9, 7, 1, 0};
        const ArgWord ranked[] = {word_of(rank), word_of(&number)};
        ItemCursor cursor{list, ranked};
        Item item;
        EXPECT_EQ(status_number(read_item_descriptor(cursor, item)), 8u) << "rank " << rank;
    }
}

TEST(ItemDescriptor, TypeSizes) {
    struct Row {
        std::uint8_t type;
        int size;
    };
    const Row rows[] = {
        {5, 1},  {6, 1},  {7, 2},   {8, 2},   {9, 4},   {10, 4},  {11, 8},  {12, 8},  {13, 4},
        {14, 1}, {15, 2}, {16, 4},  {17, 8},  {25, 4},  {26, 4},  {28, 8},  {29, 8},  {31, 8},
        {40, 16}, {42, 16}, {43, 16}, {44, 16}, {45, 8}, {46, 8},  {48, 8},  {50, 16}, {56, -1},
        {60, -1}, {63, -1}, {0, 0},   {1, 0},   {2, 0},  {27, 0},  {30, 0},  {47, 0},  {64, 0},
    };
    for (const Row& row : rows) EXPECT_EQ(type_element_size(row.type), row.size) << "type " << int(row.type);
}

// items_remain looks ahead without consuming: items of zero length do not
// count, the terminator 2 leaves the answer to a later call.
TEST(ItemDescriptor, ItemsRemain) {
    char text[4] = {};
    std::int32_t number = 0;
    const ArgWord args[] = {0, word_of(text), word_of(&number)};
    struct Row {
        const char* label;
        std::uint8_t list[6];
        ItemsRemain answer;
    };
    const Row rows[] = {
        {"terminator 1 alone", {1, 0}, ITEMS_END},
        {"terminator 2 alone", {2, 0}, ITEMS_UNKNOWN},
        {"empty string, then end", {56, 4, 1, 0}, ITEMS_END},
        {"empty string, then more later", {56, 4, 2, 0}, ITEMS_UNKNOWN},
        {"empty string, then an integer", {56, 4, 9, 3, 1, 0}, ITEMS_FOLLOW},
        {"an unreadable item", {99, 3, 1, 0}, ITEMS_FOLLOW},
    };
    for (const Row& row : rows) {
        const ItemCursor cursor{row.list, args};
        EXPECT_EQ(items_remain(cursor), row.answer) << row.label;
    }
}

// The OPEN list of the calculator: FILE (13) and STATUS (26) as character,
// BLANK (6) as the inline integer 2.
TEST(ItemDescriptor, KeywordList) {
    char file[12] = "quartz.dat";
    char status[3] = {'O', 'L', 'D'};
    const std::uint8_t list[] = {56, 4, 13, 0, 56, 4, 26, 0, 9, 1, 6, 0, 1, 0, 0, 0};
    ArgWord args[] = {10, word_of(file), 3, word_of(status), 0};
    const std::int32_t null_blank = 2;
    std::memcpy(&args[4], &null_blank, sizeof null_blank);
    ItemCursor cursor{list, args};
    Item item;
    std::uint8_t keyword = 0;

    ASSERT_EQ(next_keyword_item(cursor, item, keyword), 0u);
    EXPECT_EQ(keyword, 13);
    EXPECT_EQ(item.address, file);
    EXPECT_EQ(item.length, 10);
    ASSERT_EQ(next_keyword_item(cursor, item, keyword), 0u);
    EXPECT_EQ(keyword, 26);
    EXPECT_EQ(item.length, 3);
    ASSERT_EQ(next_keyword_item(cursor, item, keyword), 0u);
    EXPECT_EQ(keyword, 6);
    std::int32_t value = 0;
    std::memcpy(&value, item.address, sizeof value);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(cursor.list, list + 12);
    EXPECT_EQ(cursor.args, args + 5);
    ASSERT_EQ(next_keyword_item(cursor, item, keyword), 0u);
    EXPECT_EQ(item.type, ITEM_END_OF_LIST);
    EXPECT_EQ(cursor.list, list + 12);
}
