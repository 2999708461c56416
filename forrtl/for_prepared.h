// Prepared WRITE statements: a formatted WRITE whose format program and
// item types are known when the program is compiled is walked at compile
// time, with the run-time's own walk (for_wseq_walk.h), into a plan: the
// literals, fields and record ends of every record, with their positions
// and resolved edit descriptors.  At run time the statement takes its unit
// and runs the plan on the record buffer: no descriptor is decoded and no
// item descriptor read.
//
//     inline constexpr auto kRow = forrtl::format_program<"(2(3I4,F10.5,TR3,F6.2,TR1,':'))">();
//     inline constexpr auto kRowWrite = forrtl::prepare_write<kRow, forrtl::kInt4Item, ...>();
//     forrtl::prepared_write<kRowWrite>(unit, flags, {&h, &k, ...});
//
// The program of a prepared statement is a constant (it is read when the
// program is compiled), so no READ can store into its literals: its records
// depend on the items' values and the flag word alone.
//
// The statement is the formatted WRITE of for_stmt.h with all its items in
// one call, and gives the same records, statuses and diagnostics.  Whatever
// the plan cannot know is decided at run time by the statement's walk: a
// unit whose record is left open by a non-advancing WRITE, records too
// short for the plan, and a walk that fails (60, 62) go through the
// run-time walk with the same items; an edit that fails (61, 48) ends the
// statement where the run-time walk would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "for_desc_item.h"
#include "for_rseq_fmt.h"
#include "for_wseq_walk.h"

namespace forrtl {

// ---------------------------------------------------------------------------
// Items.

// One item of a prepared statement: a scalar passed by address (kind 3), a
// character scalar (kind 4, `element` characters) or a contiguous array
// (kind 5, `count` elements of `element` bytes).
struct ItemShape {
    std::uint8_t type;
    std::uint8_t kind;
    std::int32_t element;
    std::int32_t count;
};

inline constexpr ItemShape kInt4Item{TYPE_INT4, 3, 4, 1};
inline constexpr ItemShape kReal4Item{TYPE_REAL4, 3, 4, 1};
constexpr ItemShape chars_item(std::int32_t length) { return {TYPE_CHARACTER, 4, length, 1}; }
constexpr ItemShape array_item(std::uint8_t type, std::int32_t element, std::int32_t count) {
    return {type, 5, element, count};
}

// ---------------------------------------------------------------------------
// The plan.

enum PlanStep : std::uint8_t {
    PLAN_LITERAL,  // text of `length` characters at `offset` in the program
    PLAN_FIELD,    // element `offset` bytes into item `item`, edited by the descriptor
    PLAN_RECORD,   // the record ends ("/" or a new pass) and the next one begins
};

struct PlanOp {
    std::uint8_t step;
    std::uint8_t category;  // resolved data edit descriptor (FIELD)
    std::uint8_t type;      // the element's type code (FIELD)
    std::uint8_t sign;      // SignMode
    std::int8_t scale;
    std::int32_t at;        // position in the record (RECORD: where the walk stood)
    std::int32_t mark;      // RECORD: highest position written in the record
    std::int32_t w, d, e;
    std::int32_t length;    // FIELD: bytes of the element; LITERAL: characters
    std::int32_t item;
    std::int32_t offset;
    std::int32_t key;       // FIELD: where the element's bytes stand in the statement's values
};

template <std::size_t Ops, std::size_t Items>
struct WritePlan {
    const std::uint8_t* program;
    bool runs;            // the walk met no failure: the plan can run
    bool dollar;          // "$" was met: the last record gets no terminator
    std::int32_t extent;  // room a record needs from its start
    std::int32_t end_at;  // where the walk stood on the last record
    std::int32_t end_mark;
    std::int32_t records;
    std::int32_t value_bytes;  // bytes of all the elements the fields edit
    std::array<PlanOp, Ops> ops;
    std::array<ItemShape, Items> shapes;
    std::array<std::uint8_t, 2 * Items + 2> items;  // the item list of the same statement
    static constexpr std::size_t item_count = Items;
};

namespace prepared_detail {

// Walks the program over the items at compile time, as the formatted WRITE
// does at run time on a fresh record, and lists what it does in `ops`
// (when not null).  Returns the number of steps.
struct Builder {
    PlanOp* ops;
    std::size_t count = 0;
    const std::uint8_t* program;
    std::int32_t pos = 0, mark = 0;
    std::int64_t extent = 0;
    std::int32_t records = 1, value_bytes = 0;
    bool dollar = false;

    constexpr void add(const PlanOp& op) {
        if (ops) ops[count] = op;
        ++count;
    }
    constexpr void room(std::int32_t n) {
        if (n > 0 && pos + std::int64_t(n) > extent) extent = pos + std::int64_t(n);
    }
    // The walk's target.
    constexpr Status literal(const std::uint8_t* text, std::int32_t length) {
        room(length);
        PlanOp op{};
        op.step = PLAN_LITERAL;
        op.at = pos;
        op.length = length;
        op.offset = static_cast<std::int32_t>(text - program);
        add(op);
        pos += length;
        if (pos > mark) mark = pos;
        return 0;
    }
    constexpr Status end_record() {
        PlanOp op{};
        op.step = PLAN_RECORD;
        op.at = pos;
        op.mark = mark;
        add(op);
        pos = mark = 0;
        ++records;
        return 0;
    }
    constexpr void dollar_mark() { dollar = true; }
    constexpr void move(std::uint8_t category, std::int32_t n) { pos = output_position(pos, 0, category, n); }
};

// Adapts the builder to the walk's target interface.
struct Target {
    Builder& b;
    constexpr Status literal(const std::uint8_t* text, std::int32_t length) { return b.literal(text, length); }
    constexpr Status end_record() { return b.end_record(); }
    constexpr void dollar() { b.dollar_mark(); }
    constexpr void move(std::uint8_t category, std::int32_t n) { b.move(category, n); }
    constexpr std::int32_t position() const { return b.pos; }
};

constexpr bool is_complex(std::uint8_t type) {
    return type >= 28 && type <= 44 && edit_type_of(type).family == FAM_REAL;
}

// An item shape the statements can take: a known type, passed as its
// kind says, with an element of the type's size.
constexpr bool valid_shape(const ItemShape& shape) {
    const EditType et = edit_type_of(shape.type);
    const bool character = et.family == FAM_CHARACTER;
    return !(et.family == FAM_INVALID || (shape.kind != 3 && shape.kind != 4 && shape.kind != 5) ||
             (shape.kind == 4) != character || shape.count < 0 || (shape.kind != 5 && shape.count != 1) ||
             shape.element < 0 || (!character && shape.element <= 0) ||
             (!character && !is_complex(shape.type) && shape.element != et.size) ||
             (is_complex(shape.type) && shape.element != 2 * et.size));
}

struct Walked {
    std::size_t ops;
    bool runs;
    bool dollar;
    std::int32_t extent, end_at, end_mark, records, value_bytes;
};

// One element (one part of a complex element): the walk to its
// descriptor, then its field.
constexpr bool element(Builder& b, OutputWalk& walk, std::int32_t item, const ItemShape& shape,
                       std::int32_t offset, std::int32_t length) {
    Target target{b};
    WalkStop stop{};
    if (output_walk(walk, true, stop, target)) return false;
    const EditDescriptor desc = output_edit(*walk.format, 0, OutputItem{shape.type, nullptr, length});
    if (desc.w <= 0) return true;
    b.room(desc.w);
    PlanOp op{};
    op.step = PLAN_FIELD;
    op.category = desc.category;
    op.type = shape.type;
    op.sign = desc.sign;
    op.scale = static_cast<std::int8_t>(desc.scale);
    op.at = b.pos;
    op.w = desc.w;
    op.d = desc.d;
    op.e = desc.e;
    op.length = length;
    op.item = item;
    op.offset = offset;
    op.key = b.value_bytes;
    b.value_bytes += length;
    b.add(op);
    b.pos += desc.w;
    if (b.pos > b.mark) b.mark = b.pos;
    return true;
}

template <std::size_t N>
constexpr Walked walk_program(const std::uint8_t* program, const std::array<ItemShape, N>& shapes, PlanOp* ops) {
    Builder b{ops, 0, program};
    FormatState fs{};
    fs.program = program;
    fs.current = program;
    OutputWalk walk{&fs, false};
    Walked failed{0, false, false, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < N; ++i) {
        const ItemShape& shape = shapes[i];
        if (!valid_shape(shape)) return failed;
        for (std::int32_t e = 0; e < shape.count; ++e) {
            const std::int32_t at = e * shape.element;
            const auto index = static_cast<std::int32_t>(i);
            if (is_complex(shape.type)) {
                const std::int32_t part = shape.element / 2;
                if (!element(b, walk, index, shape, at, part) || !element(b, walk, index, shape, at + part, part))
                    return failed;
            } else if (!element(b, walk, index, shape, at, shape.element)) {
                return failed;
            }
        }
    }
    Target target{b};
    WalkStop stop{};
    if (output_walk(walk, false, stop, target)) return failed;
    if (b.extent > INT32_MAX / 2) return failed;
    return Walked{b.count, true, b.dollar, static_cast<std::int32_t>(b.extent), b.pos, b.mark, b.records, b.value_bytes};
}

// The argument words of the items for the statement's own item calls:
// character lengths and array sizes before the addresses.
template <std::size_t N, class Address>
void item_args(const std::array<ItemShape, N>& shapes, const Address* addresses, ArgWord* args) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const ItemShape& shape = shapes[i];
        if (shape.kind == 4) args[n++] = static_cast<ArgWord>(shape.element);
        if (shape.kind == 5) args[n++] = static_cast<ArgWord>(shape.element * shape.count);
        args[n++] = reinterpret_cast<ArgWord>(addresses[i]);
    }
}

}  // namespace prepared_detail

// The plan of a WRITE with the format program `Program` (a std::array from
// format_program) and items of the given shapes.
template <const auto& Program, ItemShape... Shapes>
consteval auto prepare_write() {
    constexpr std::array<ItemShape, sizeof...(Shapes)> shapes{Shapes...};
    constexpr prepared_detail::Walked size = prepared_detail::walk_program(Program.data(), shapes, nullptr);
    WritePlan<size.ops, sizeof...(Shapes)> plan{};
    plan.program = Program.data();
    plan.shapes = shapes;
    if constexpr (size.runs) {
        const prepared_detail::Walked walked = prepared_detail::walk_program(Program.data(), shapes, plan.ops.data());
        plan.runs = walked.runs;
        plan.dollar = walked.dollar;
        plan.extent = walked.extent;
        plan.end_at = walked.end_at;
        plan.end_mark = walked.end_mark;
        plan.records = walked.records;
        plan.value_bytes = walked.value_bytes;
    }
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        plan.items[2 * i] = shapes[i].type;
        plan.items[2 * i + 1] = shapes[i].kind;
    }
    plan.items[2 * shapes.size()] = ITEM_END_OF_LIST;
    return plan;
}

// ---------------------------------------------------------------------------
// Running a plan: the statement steps it takes (for_wseq_fmt.cpp).

struct Lub;

// The statement being run and its current record.  The statement's state
// lives here for the one call a prepared statement takes.
struct PreparedRecord {
    alignas(8) unsigned char statement[128];
    std::uint32_t flags;  // the statement flag word
    char* base;           // the record's first character
    std::int32_t extent;  // room the plan needs from the record start
    bool record_begun;
    Lub* line_unit;       // a line written the short way: its unit (no statement state), else null
    int result;           // the statement's result once it has ended
};

enum PreparedRoute : std::uint8_t {
    PREPARED_PLAN,     // the unit is held and its first record begun: run the plan
    PREPARED_WALK,     // the unit is held: run the statement's walk on the items
    PREPARED_DONE,     // the statement has ended; `result` holds its result
};

// Begins the statement in `r` (whose fields it sets): takes the unit with
// the WRITE's checks and, when `extent` >= 0, begins the first record and
// sees whether the plan fits it.  A plan of one line (`one_line`: one
// record, no "$") on a unit that takes lines the short way goes without
// the statement's state (`line_unit` set); the caller then fills the
// record's first `extent` characters with blanks.
PreparedRoute prepared_write_begin(PreparedRecord& r, int unit, std::uint32_t flags, std::int32_t extent,
                                   bool one_line);
// The statement's walk over the complete item list.
int prepared_write_walk(PreparedRecord& r, const std::uint8_t* program, const std::uint8_t* items,
                        const ArgWord* args);
// Ends the current record (the walk stood at `at`, `mark` the highest
// position written) and begins the next.  False when the statement has
// ended on a failure.
bool prepared_write_next_record(PreparedRecord& r, std::int32_t at, std::int32_t mark);
// Emits the last record and ends the statement (63 after a field overflowed).
int prepared_write_end(PreparedRecord& r, std::int32_t at, std::int32_t mark, bool dollar, bool overflow);
// A field the plan leaves to the editing of edit_output_field.
Status prepared_write_edit(PreparedRecord& r, const OutputItem& item, EditDescriptor desc, char* field);
// Ends the statement on a failed edit.
void prepared_write_fail(PreparedRecord& r, Status status);

namespace prepared_detail {

constexpr bool is_int4(std::uint8_t type) { return type == 9 || type == 13; }
constexpr bool is_real4(std::uint8_t type) { return type == 25 || type == 26; }

template <PlanOp Op>
inline bool run_op(PreparedRecord& r, const std::uint8_t* program, const void* const* addresses, bool& overflow) {
    if constexpr (Op.step == PLAN_LITERAL) {
        std::memcpy(r.base + Op.at, program + Op.offset, std::size_t(Op.length));
        return true;
    } else if constexpr (Op.step == PLAN_RECORD) {
        return prepared_write_next_record(r, Op.at, Op.mark);
    } else {
        const char* element = static_cast<const char*>(addresses[Op.item]) + Op.offset;
        char* field = r.base + Op.at;
        if constexpr ((Op.category == FC_I || Op.category == FC_IM) && is_int4(Op.type)) {
            std::int32_t v;
            std::memcpy(&v, element, 4);
            overflow |= integer_field_int32(v, Op.w, Op.d, Op.sign == SIGN_SP, field) != 0;
            return true;
        } else if constexpr (Op.category == FC_A) {
            // A: the item's characters (the bytes of any other type),
            // right-justified in a wider field.
            constexpr std::int32_t length = edit_type_of(Op.type).family == FAM_CHARACTER
                                                ? Op.length
                                                : edit_type_of(Op.type).size;
            if constexpr (Op.w > length) {
                std::memset(field, ' ', std::size_t(Op.w - length));
                std::memcpy(field + (Op.w - length), element, std::size_t(length));
            } else {
                std::memcpy(field, element, std::size_t(Op.w));
            }
            return true;
        } else {
            if constexpr (Op.category == FC_F && is_real4(Op.type) && Op.scale == 0 && Op.d <= 9) {
                const int shown = fixed_field_real4<Op.d>(element, Op.w, Op.sign == SIGN_SP, field);
                if (shown != kFixedLongWay) {
                    overflow |= shown != 0;
                    return true;
                }
            }
            EditDescriptor desc{};
            desc.category = Op.category;
            desc.w = Op.w;
            desc.d = Op.d;
            desc.e = Op.e;
            desc.scale = Op.scale;
            desc.sign = static_cast<SignMode>(Op.sign);
            const Status s = prepared_write_edit(r, OutputItem{Op.type, element, Op.length}, desc, field);
            if (s == 0) return true;
            if (status_number(s) == MSG_OUTPUT_CONVERSION) {
                overflow = true;
                return true;
            }
            prepared_write_fail(r, s);
            return false;
        }
    }
}

// The record a plan of one record wrote last on this thread, with the
// values and flag word it was made of.  Run again on the same values, the
// plan writes the same characters: they are copied instead of edited.
// (The calculator writes each row of its plane table to two units.)
template <std::size_t ValueBytes, std::size_t Characters>
struct LastRecord {
    bool valid;
    bool overflow;
    std::uint32_t flags;
    unsigned char values[ValueBytes];
    char characters[Characters];
};

// Copies N characters in 16-byte pieces, the last one overlapping: the
// string move a compiler may pick for such a copy costs more to start than
// the copy itself.
template <std::size_t N, std::size_t... I>
inline void copy_pieces(char* to, const char* from, std::index_sequence<I...>) {
    (std::memcpy(to + 16 * I, from + 16 * I, 16), ...);
    if constexpr (N % 16 != 0) std::memcpy(to + N - 16, from + N - 16, 16);
}

template <std::size_t N>
inline void copy_characters(char* to, const char* from) {
    if constexpr (N < 16)
        std::memcpy(to, from, N);
    else
        copy_pieces<N>(to, from, std::make_index_sequence<N / 16>{});
}

// Plans worth keeping their last record: one record with fields.
template <const auto& P>
constexpr bool keeps_last_record = P.runs && P.records == 1 && P.value_bytes > 0 && P.value_bytes <= 256 &&
                                   P.end_mark > 0 && P.end_mark <= 512;

template <PlanOp Op>
inline void take_value(unsigned char* values, const void* const* addresses) {
    if constexpr (Op.step == PLAN_FIELD)
        std::memcpy(values + Op.key, static_cast<const char*>(addresses[Op.item]) + Op.offset, std::size_t(Op.length));
}

// Compared element by element where the elements are (reading them back
// from a copy just made would wait on the stores).
template <PlanOp Op>
inline bool same_value(const unsigned char* values, const void* const* addresses) {
    if constexpr (Op.step == PLAN_FIELD)
        return std::memcmp(values + Op.key, static_cast<const char*>(addresses[Op.item]) + Op.offset,
                           std::size_t(Op.length)) == 0;
    else
        return true;
}

template <const auto& P, std::size_t... I>
inline int run_plan(PreparedRecord& r, [[maybe_unused]] const void* const* addresses, std::index_sequence<I...>) {
    bool overflow = false;
    if constexpr (keeps_last_record<P>) {
        static thread_local LastRecord<std::size_t(P.value_bytes), std::size_t(P.end_mark)> last;
        if (last.valid && last.flags == r.flags && (same_value<P.ops[I]>(last.values, addresses) && ...)) {
            copy_characters<sizeof last.characters>(r.base, last.characters);
            return prepared_write_end(r, P.end_at, P.end_mark, P.dollar, last.overflow);
        }
        if (!(run_op<P.ops[I]>(r, P.program, addresses, overflow) && ...)) return r.result;
        last.valid = true;
        last.overflow = overflow;
        last.flags = r.flags;
        (take_value<P.ops[I]>(last.values, addresses), ...);
        copy_characters<sizeof last.characters>(last.characters, r.base);
    } else {
        if (!(run_op<P.ops[I]>(r, P.program, addresses, overflow) && ...)) return r.result;
    }
    return prepared_write_end(r, P.end_at, P.end_mark, P.dollar, overflow);
}

}  // namespace prepared_detail


// ---------------------------------------------------------------------------
// Prepared READ statements.
//
// A READ whose item types are known when the program is compiled takes all
// its elements in one call.  A formatted READ whose program, walked at
// compile time over those elements, meets only data edit descriptors on
// one record (no literal, "/", positioning, reversion, P, BN or BZ between
// or after them) has a plan of its fields, and no descriptor is decoded at
// run time; any other program takes the statement's own walk with the same
// items (a program with literals is refused: a READ would store into
// them).  A list-directed READ scans one value into each element in turn.
// Both give the same values, statuses and diagnostics as the READ of
// for_stmt.h with its items in calls of their own.  Complex items are not
// taken.

// One field of a formatted READ's plan: the descriptor as the program
// states it (the width resolved at run time when it has none), and the
// element: `offset` bytes into item `item`, `length` bytes (characters).
struct ReadField {
    std::uint8_t category;
    std::int32_t w, d;
    std::uint8_t type;
    std::int32_t length;
    std::int32_t item;
    std::int32_t offset;
};

template <std::size_t Fields, std::size_t Items>
struct ReadPlan {
    const std::uint8_t* program;  // the format program (formatted READ)
    bool list_directed;
    bool runs;                    // a formatted plan: the fields go without the walk
    std::array<ReadField, Fields> fields;
    std::array<ItemShape, Items> shapes;
    std::array<std::uint8_t, 2 * Items + 2> items;  // the item list of the same statement
    static constexpr std::size_t item_count = Items;
};

namespace prepared_detail {

template <std::size_t N>
constexpr std::size_t element_count(const std::array<ItemShape, N>& shapes) {
    std::size_t n = 0;
    for (const ItemShape& shape : shapes) n += static_cast<std::size_t>(shape.count);
    return n;
}

// Whether the program holds a literal: its items in order, up to the end
// of the format.
constexpr bool has_literal(const std::uint8_t* program) {
    for (const std::uint8_t* item = program;;) {
        if (item[0] >= kFmtOpcodeCount) return false;
        const FmtOpcodeInfo info = kFmtOpcodes[item[0]];
        if (info.category == FC_LITERAL) return true;
        if (info.category == FC_FORMAT_END) return false;
        std::int32_t size = info.size;
        if (info.layout == LAYOUT_LONG && item[1]) size = kLongItemVfeSize;
        item += size;
    }
}

// The fields of the elements (`fields` may be null) and whether the walk
// of a formatted READ's program over them stays within the plan's reach.
// (Whether the READ is formatted is said apart: a constant expression may
// not compare the address of the program with null.)
template <std::size_t N>
constexpr bool read_fields(bool formatted, const std::uint8_t* program, const std::array<ItemShape, N>& shapes,
                           ReadField* fields) {
    FormatState fs{};
    fs.program = program;
    fs.current = program;
    bool have_data = false, moved = false, runs = true;
    auto move = [&moved](std::uint8_t, std::int32_t) { moved = true; };
    // A plan takes no positioning, so the walk never needs the position.
    auto where = [] { return std::int32_t{-1}; };
    // The walk to the next data descriptor; false where the plan ends.
    auto next = [&](bool for_item) {
        if (have_data && fs.repeat >= 2) {
            if (for_item) --fs.repeat;
            return true;
        }
        for (;;) {
            const FormatStep step = format_step(fs, move, where);
            have_data = false;
            if (step.status || moved || fs.scale != 0 || fs.blank != BLANK_NONE) return false;
            switch (step.category) {
            case FC_DOLLAR: continue;                     // nothing on input
            case FC_COLON: if (for_item) continue; return true;
            case FC_FORMAT_END: return !for_item;         // reversion: a new record
            case FC_LITERAL:
            case FC_SLASH: return false;
            default: have_data = true; return true;
            }
        }
    };
    std::size_t at = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const ItemShape& shape = shapes[i];
        if (!valid_shape(shape) || is_complex(shape.type)) return false;
        for (std::int32_t e = 0; e < shape.count; ++e, ++at) {
            if (formatted && !next(true)) runs = false;
            if (fields)
                fields[at] = ReadField{formatted ? fs.category : std::uint8_t(0), fs.w, fs.d, shape.type,
                                       shape.element, static_cast<std::int32_t>(i), e * shape.element};
        }
    }
    return formatted ? runs && next(false) : true;
}

}  // namespace prepared_detail

// The plan of a formatted READ with the program `Program` (a std::array
// from format_program, without literals) and items of the given shapes.
template <const auto& Program, ItemShape... Shapes>
consteval auto prepare_read() {
    constexpr std::array<ItemShape, sizeof...(Shapes)> shapes{Shapes...};
    static_assert(!prepared_detail::has_literal(Program.data()), "a READ would store into the program's literals");
    ReadPlan<prepared_detail::element_count(shapes), sizeof...(Shapes)> plan{};
    plan.program = Program.data();
    plan.shapes = shapes;
    plan.runs = prepared_detail::read_fields(true, Program.data(), shapes, plan.fields.data());
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        plan.items[2 * i] = shapes[i].type;
        plan.items[2 * i + 1] = shapes[i].kind;
    }
    plan.items[2 * shapes.size()] = ITEM_END_OF_LIST;
    return plan;
}

// The plan of a list-directed READ of items of the given shapes.
template <ItemShape... Shapes>
consteval auto prepare_list_read() {
    constexpr std::array<ItemShape, sizeof...(Shapes)> shapes{Shapes...};
    ReadPlan<prepared_detail::element_count(shapes), sizeof...(Shapes)> plan{};
    plan.program = nullptr;
    plan.list_directed = true;
    plan.shapes = shapes;
    plan.runs = prepared_detail::read_fields(false, nullptr, shapes, plan.fields.data());
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        plan.items[2 * i] = shapes[i].type;
        plan.items[2 * i + 1] = shapes[i].kind;
    }
    plan.items[2 * shapes.size()] = ITEM_END_OF_LIST;
    return plan;
}

// One field of a READ at run time: its descriptor and its element.
struct ReadElement {
    std::uint8_t category;
    std::int32_t w, d;
    InputItem item;
};

// The run-time steps (for_rseq_fmt_drv.cpp, for_rseq_lis_drv.cpp).  The
// formatted READ takes `fields` when the plan runs (null when not), else
// (and on a record a non-advancing READ left open) the walk of `program`
// over `items` and `args`.
int prepared_format_read(int unit, std::uint32_t flags, const std::uint8_t* program, const ReadElement* fields,
                         std::int32_t count, const std::uint8_t* items, const ArgWord* args);
int prepared_list_read(int unit, std::uint32_t flags, const ReadElement* elements, std::int32_t count);

// READ (unit, program) items, or READ (unit, *) items: `addresses` holds
// each item's address, in the order of the plan's shapes.
template <const auto& P>
int prepared_read(int unit, std::uint32_t flags, const std::array<void*, P.item_count>& addresses) {
    constexpr std::size_t n = P.fields.size();
    ReadElement elements[n > 0 ? n : 1];
    for (std::size_t i = 0; i < n; ++i) {
        const ReadField& f = P.fields[i];
        elements[i] = ReadElement{f.category, f.w, f.d,
                                  InputItem{f.type, static_cast<char*>(addresses[f.item]) + f.offset, f.length}};
    }
    if constexpr (P.list_directed) {
        return prepared_list_read(unit, flags, elements, static_cast<std::int32_t>(n));
    } else {
        ArgWord args[2 * P.item_count + 1];
        prepared_detail::item_args(P.shapes, addresses.data(), args);
        return prepared_format_read(unit, flags, P.program, P.runs ? elements : nullptr,
                                    static_cast<std::int32_t>(n), P.items.data(), args);
    }
}

// WRITE (unit, program) items: `addresses` holds each item's address, in
// the order of the plan's shapes.
template <const auto& P>
int prepared_write(int unit, std::uint32_t flags, const std::array<const void*, P.item_count>& addresses = {}) {
    PreparedRecord r;  // set up by prepared_write_begin (clearing it would cost more)
    switch (prepared_write_begin(r, unit, flags, P.runs ? P.extent : -1, P.records == 1 && !P.dollar)) {
    case PREPARED_DONE:
        return r.result;
    case PREPARED_WALK: {
        ArgWord args[2 * P.item_count + 1];
        prepared_detail::item_args(P.shapes, addresses.data(), args);
        return prepared_write_walk(r, P.program, P.items.data(), args);
    }
    case PREPARED_PLAN:
        // A line begun the short way is not blank yet: the plan's extent is
        // a constant here, the fill a few stores.
        if (r.line_unit) std::memset(r.base, ' ', std::size_t(P.extent));
        break;
    }
    return prepared_detail::run_plan<P>(r, addresses.data(), std::make_index_sequence<P.ops.size()>{});
}

}  // namespace forrtl
