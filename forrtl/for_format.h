// Format programs: the compiled form of a format and the interpreter state
// that walks it.  A program is a byte string of 4-byte aligned items; the
// first byte of each item is its opcode, and the opcode table gives its
// layout class, size and category (the edit descriptor it stands for).
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

// Descriptor categories (for opcodes 0 to 51 the opcode equals the category).
enum FmtCategory : std::uint8_t {
    FC_INVALID = 0,
    FC_FORMAT_BEGIN = 1,
    FC_FORMAT_END = 2,
    FC_GROUP_BEGIN = 3,
    FC_GROUP_END = 4,
    FC_BN = 5,
    FC_BZ = 6,
    FC_SP = 7,
    FC_SS = 8,
    FC_S = 9,
    FC_P = 10,
    FC_X = 11,
    FC_T = 12,
    FC_TL = 13,
    FC_TR = 14,
    FC_Q = 15,
    FC_DOLLAR = 16,
    FC_COLON = 17,
    FC_SLASH = 18,
    FC_A0 = 19,  // 19..27: A, D, E, F, G, I, L, O, Z without width
    FC_D0 = 20,
    FC_E0 = 21,
    FC_F0 = 22,
    FC_G0 = 23,
    FC_I0 = 24,
    FC_L0 = 25,
    FC_O0 = 26,
    FC_Z0 = 27,
    FC_LITERAL = 28,
    FC_A = 29,
    FC_D = 30,
    FC_E = 31,
    FC_EE = 32,
    FC_F = 33,
    FC_G = 34,
    FC_GE = 35,
    FC_I = 36,
    FC_IM = 37,
    FC_L = 38,
    FC_O = 39,
    FC_OM = 40,
    FC_Z = 41,
    FC_ZM = 42,
    FC_B0 = 43,
    FC_B = 44,
    FC_BM = 45,
    FC_EN0 = 46,
    FC_EN = 47,
    FC_ENE = 48,
    FC_ES0 = 49,
    FC_ES = 50,
    FC_ESE = 51,
};

// Layout classes of the opcode table.  Long items (opcodes 0 to 51) are 12
// bytes, 28 when they carry variable format expressions; a literal item is
// 4 bytes of header plus its text rounded up to a multiple of 4; short items
// (opcodes 52 to 95) are 4 bytes, classes 6 to 10 saying what their operand
// bytes hold.
enum FmtLayout : std::uint8_t {
    LAYOUT_LONG = 1,      // op, flags, e, d, repeat (32), w (32) [, 4 expression refs]
    LAYOUT_LITERAL = 2,   // 28, 0, length (16), text, zero fill
    LAYOUT_NONE = 6,      // no operand
    LAYOUT_REPEAT = 7,    // bytes 2-3: 16-bit repeat count
    LAYOUT_WIDTH = 8,     // bytes 2-3: 16-bit width field
    LAYOUT_REPEAT_W = 9,  // byte 1: repeat; bytes 2-3: 16-bit w
    LAYOUT_REPEAT_WD = 10 // byte 1: repeat; byte 2: w; byte 3: d
};

struct FmtOpcodeInfo {
    std::uint8_t layout;    // FmtLayout
    std::uint8_t size;      // bytes (long items without expressions; literal header)
    std::uint8_t category;  // FmtCategory
};

constexpr int kFmtOpcodeCount = 96;

// Opcodes of the short items used by prepared programs.
enum FmtShortOpcode : std::uint8_t {
    OP_SHORT_FORMAT_BEGIN = 54,
    OP_SHORT_FORMAT_END = 55,
    OP_SHORT_GROUP_BEGIN = 56,
    OP_SHORT_GROUP_END = 57,
    OP_SHORT_DOLLAR = 69,
    OP_SHORT_COLON = 70,
    OP_SHORT_SLASH = 71,
};

// Expression flags of a long item (byte 1): the operand comes from a
// variable format expression; the item is then 28 bytes, bytes 12 to 27
// holding the references for repeat, w, d and e in that order.
enum : std::uint8_t { VFE_REPEAT = 1, VFE_W = 2, VFE_D = 4, VFE_E = 8 };
constexpr int kLongItemSize = 12;
constexpr int kLongItemVfeSize = 28;
// A program is addressed by 16-bit offsets.
constexpr int kFormatMaxProgram = 65535;

constexpr FmtOpcodeInfo fmt_long_entry(std::uint8_t category) { return {LAYOUT_LONG, kLongItemSize, category}; }
constexpr FmtOpcodeInfo fmt_short_entry(std::uint8_t layout, std::uint8_t category) { return {layout, 4, category}; }

// The opcode table: layout class, size and category of each opcode.
inline constexpr FmtOpcodeInfo kFmtOpcodes[kFmtOpcodeCount] = {
    // 0 to 51: long items, opcode = category; 28 is the literal item.
    fmt_long_entry(0), fmt_long_entry(1), fmt_long_entry(2), fmt_long_entry(3), fmt_long_entry(4),
    fmt_long_entry(5), fmt_long_entry(6), fmt_long_entry(7), fmt_long_entry(8), fmt_long_entry(9),
    fmt_long_entry(10), fmt_long_entry(11), fmt_long_entry(12), fmt_long_entry(13), fmt_long_entry(14),
    fmt_long_entry(15), fmt_long_entry(16), fmt_long_entry(17), fmt_long_entry(18), fmt_long_entry(19),
    fmt_long_entry(20), fmt_long_entry(21), fmt_long_entry(22), fmt_long_entry(23), fmt_long_entry(24),
    fmt_long_entry(25), fmt_long_entry(26), fmt_long_entry(27), {LAYOUT_LITERAL, 4, FC_LITERAL}, fmt_long_entry(29),
    fmt_long_entry(30), fmt_long_entry(31), fmt_long_entry(32), fmt_long_entry(33), fmt_long_entry(34),
    fmt_long_entry(35), fmt_long_entry(36), fmt_long_entry(37), fmt_long_entry(38), fmt_long_entry(39),
    fmt_long_entry(40), fmt_long_entry(41), fmt_long_entry(42), fmt_long_entry(43), fmt_long_entry(44),
    fmt_long_entry(45), fmt_long_entry(46), fmt_long_entry(47), fmt_long_entry(48), fmt_long_entry(49),
    fmt_long_entry(50), fmt_long_entry(51),
    // 52 to 95: short items.
    fmt_short_entry(LAYOUT_NONE, FC_INVALID),         // 52
    fmt_short_entry(LAYOUT_NONE, FC_INVALID),         // 53
    fmt_short_entry(LAYOUT_NONE, FC_FORMAT_BEGIN),    // 54
    fmt_short_entry(LAYOUT_NONE, FC_FORMAT_END),      // 55
    fmt_short_entry(LAYOUT_REPEAT, FC_GROUP_BEGIN),   // 56
    fmt_short_entry(LAYOUT_NONE, FC_GROUP_END),       // 57
    fmt_short_entry(LAYOUT_NONE, FC_BN),              // 58
    fmt_short_entry(LAYOUT_NONE, FC_BZ),              // 59
    fmt_short_entry(LAYOUT_NONE, FC_SP),              // 60
    fmt_short_entry(LAYOUT_NONE, FC_SS),              // 61
    fmt_short_entry(LAYOUT_NONE, FC_S),               // 62
    fmt_short_entry(LAYOUT_WIDTH, FC_P),              // 63
    fmt_short_entry(LAYOUT_REPEAT, FC_X),             // 64
    fmt_short_entry(LAYOUT_WIDTH, FC_T),              // 65
    fmt_short_entry(LAYOUT_WIDTH, FC_TL),             // 66
    fmt_short_entry(LAYOUT_WIDTH, FC_TR),             // 67
    fmt_short_entry(LAYOUT_NONE, FC_Q),               // 68
    fmt_short_entry(LAYOUT_NONE, FC_DOLLAR),          // 69
    fmt_short_entry(LAYOUT_NONE, FC_COLON),           // 70
    fmt_short_entry(LAYOUT_REPEAT, FC_SLASH),         // 71
    fmt_short_entry(LAYOUT_REPEAT, FC_A0),            // 72
    fmt_short_entry(LAYOUT_REPEAT, FC_D0),            // 73
    fmt_short_entry(LAYOUT_REPEAT, FC_E0),            // 74
    fmt_short_entry(LAYOUT_REPEAT, FC_F0),            // 75
    fmt_short_entry(LAYOUT_REPEAT, FC_G0),            // 76
    fmt_short_entry(LAYOUT_REPEAT, FC_I0),            // 77
    fmt_short_entry(LAYOUT_REPEAT, FC_L0),            // 78
    fmt_short_entry(LAYOUT_REPEAT, FC_O0),            // 79
    fmt_short_entry(LAYOUT_REPEAT, FC_Z0),            // 80
    fmt_short_entry(LAYOUT_REPEAT_W, FC_A),           // 81
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_D),          // 82
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_E),          // 83
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_F),          // 84
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_G),          // 85
    fmt_short_entry(LAYOUT_REPEAT_W, FC_I),           // 86
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_IM),         // 87
    fmt_short_entry(LAYOUT_REPEAT_W, FC_L),           // 88
    fmt_short_entry(LAYOUT_REPEAT_W, FC_O),           // 89
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_OM),         // 90
    fmt_short_entry(LAYOUT_REPEAT_W, FC_Z),           // 91
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_ZM),         // 92
    fmt_short_entry(LAYOUT_REPEAT, FC_B0),            // 93
    fmt_short_entry(LAYOUT_REPEAT_W, FC_B),           // 94
    fmt_short_entry(LAYOUT_REPEAT_WD, FC_BM),         // 95
};


enum BlankMode : std::uint8_t { BLANK_NONE = 0, BLANK_BN = 1, BLANK_BZ = 2 };
enum SignMode : std::uint8_t { SIGN_NONE = 0, SIGN_SP = 1, SIGN_SS = 2, SIGN_S = 3 };

// One entry of a statement's expression table, for variable format
// expressions.  Kind 3 reads the 4-byte integer at `address`; kind 10 calls
// `routine(context)`.
struct FormatExpression {
    const std::int32_t* address;
    std::int32_t (*routine)(void* context);
    void* context;
};

constexpr int kFormatMaxDepth = 8;

// Positioning, as the drivers carry it out: nX and TRn move right, TLn
// left but never before the record start, Tn to position n; a count below
// 0 moves by 0, and a position farther than this is held here, so that the
// next transfer fails on room.
constexpr std::int32_t kFormatPositionLimit = INT32_MAX / 2;

// The interpreter state of one unit (cleared when a formatted statement
// begins).
struct FormatState {
    const std::uint8_t* program;  // the format-begin item
    const std::uint8_t* current;  // the next item to read
    std::uint16_t reversion;      // offset of the reversion point
    std::uint8_t depth;           // open groups, 0..8
    struct Level {
        std::uint16_t count;  // remaining repeat count
        std::uint16_t loop;   // offset of the item after the group's opening item
    } stack[kFormatMaxDepth];
    // The open levels, from the outermost, whose current repetition has
    // acted: handed back a data descriptor, Q taking an item or a slash, or
    // evaluated an expression.  A repetition of a deeper level did nothing
    // but set modes, meet "$" and ":" (which come out the same however often
    // they are met), move the position and pass literals, and so would every
    // further one: the walk leaves the group early or stands for repetitions
    // by one move (format_step's group end).
    std::uint8_t acting_levels;
    // Likewise the open levels whose current repetition handed back a literal.
    std::uint8_t literal_levels;
    // Set by a READ: a literal takes characters from the record into its
    // text, so only the last repetition's characters stay.
    bool literals_read;
    // Likewise the open levels whose current repetition moved to a position
    // that does not depend on where it began (Tn, or a move beyond any
    // record): further repetitions end where this one ended.
    std::uint8_t placed_levels;
    // The moves of the walk summed (right counts up, TL down), modulo 2^64,
    // and the sum when each open level's current repetition began: the
    // difference is what a repetition moves when nothing stops it.
    std::uint64_t moved;
    std::uint64_t moved_at_repetition[kFormatMaxDepth];
    // The position when each open level's current repetition began, -1 when
    // the driver does not tell it.
    std::int32_t position_at_repetition[kFormatMaxDepth];
    std::uint8_t category;  // of the descriptor last handed back
    std::int32_t repeat;    // remaining repetitions of the current data descriptor
    std::int32_t w;
    std::int16_t d;
    std::int16_t e;
    std::uint8_t* literal;  // current literal's text (writable: READ stores into it)
    std::uint16_t literal_length;
    std::int8_t scale;      // kP
    BlankMode blank;
    SignMode sign;
    bool data_met;          // a data descriptor was met in this pass
    bool empty_program;     // nothing between the program's parentheses
    bool item_waiting;      // an item waits for the next data descriptor
    bool more_later;        // no item waits; the list may go on in a later call
    bool compiled;          // compiled at run time; released at statement end
    const FormatExpression* expressions;  // the statement's expression table
};

// What next_descriptor hands back: the category of the descriptor the
// statement driver must act on (FC_FORMAT_END, FC_Q, FC_DOLLAR, FC_COLON,
// FC_SLASH, FC_LITERAL or a data edit descriptor), its operands being in the
// state; or a failure status (62, 68).
struct FormatStep {
    Status status;         // 0 when `category` is valid
    std::uint8_t category;
};

// Positioning (nX, Tn, TLn, TRn) is carried out by the statement driver on
// its record; the interpreter calls this with the category and n.
struct FormatPositioner {
    void (*move)(void* context, std::uint8_t category, std::int32_t n);
    void* context;
    // The current position, so that a repetition that ended where it began
    // is seen to do the same as every further one; may be null.
    std::int32_t (*position)(void* context);
};

// Clears the state and points it at a program.
void format_state_begin(FormatState& state, const std::uint8_t* program,
                        const FormatExpression* expressions = nullptr);

// Steps on to the next descriptor the driver must act on, performing groups,
// reversion, positioning (through `positioner`, which may be null), kP and
// the sign and blank modes itself.  The driver keeps `item_waiting` true
// while an item waits for a data descriptor: a variable format expression
// out of range is then error 68, otherwise it is held to its range.  After
// the format end is handed back `data_met` still tells whether the ended
// pass met a data descriptor (error 60 when not and items remain); it is
// cleared when the walk goes on.  Repetitions of a data descriptor are
// counted down by the driver in `repeat`.
FormatStep next_descriptor(FormatState& state, const FormatPositioner* positioner);

// The driver paired an item with a descriptor that the walk does not count
// as data (Q on input): the repetitions of the open groups have acted, so
// the walk repeats them.
constexpr void format_item_taken(FormatState& state) { state.acting_levels = state.depth; }

// The value of one expression reference (4 bytes: 16-bit index, kind, type).
Status format_expression_value(const FormatExpression* table, const std::uint8_t* reference,
                               std::int32_t& value);

// Compiles run-time format text into a program of long items and literal
// items (heap storage released with release_format).  On a syntax error
// message 58 is reported with at most 80 characters of the text from the
// point of the error and the result is error 62; no storage is error 41.
// A program that would pass 65535 bytes is a syntax error.  *program is
// null on failure.
Status compile_format(const char* text, std::int32_t length, std::uint8_t** program);
void release_format(std::uint8_t* program);

}  // namespace forrtl
