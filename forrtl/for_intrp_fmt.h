// The format interpreter's step, usable at compile time: the statement
// drivers walk programs with it at run time (next_descriptor), and prepared
// statements walk their programs with it when the program is compiled
// (for_prepared.h), so both follow the same rules.
#pragma once

#include <type_traits>

#include "for_format.h"

namespace forrtl {

namespace fmt_step_detail {

constexpr std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
constexpr std::int32_t le32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                            (std::uint32_t(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

constexpr std::uint16_t offset_of(const FormatState& state, const std::uint8_t* item) {
    return static_cast<std::uint16_t>(item - state.program);
}

// Categories whose I, L, O, Z or B form carries no m: m is 1.
constexpr bool takes_default_m(std::uint8_t category) {
    return (category >= FC_I0 && category <= FC_Z0) || category == FC_I || category == FC_O ||
           category == FC_Z || category == FC_B0 || category == FC_B;
}

// The status of a failure of the walk.  When a program is walked at compile
// time only the fact of the failure matters: the statement then runs on the
// run-time walk, which reports it.
constexpr Status failure(unsigned message) {
    if (std::is_constant_evaluated()) return make_status(SEV_SEVERE, message);
    return status_of(message);
}

// One operand from a variable format expression, checked against its
// range.  Out of range is error 68 while an item waits for the descriptor;
// otherwise the walk is only running on to its stopping point and the value
// is held to the range, so that no count can make the walk misbehave.  (A
// template only so that it may call the run-time expression value: prepared
// programs carry no expressions.)
template <class State>
constexpr Status vfe_operand(const State& state, const std::uint8_t* reference, std::int32_t low,
                             std::int32_t high, std::int32_t& value) {
    if (Status status = format_expression_value(state.expressions, reference, value)) return status;
    if (value >= low && value <= high) return 0;
    if (state.item_waiting) return failure(MSG_VFE_VALUE);
    value = value < low ? low : high;
    return 0;
}

constexpr FormatStep fail(unsigned message) { return FormatStep{failure(message), FC_INVALID}; }

// Counts a move into the repetitions of the open levels: what it adds to
// their sum, or that it places the position whatever it was.
constexpr void count_move(FormatState& state, std::uint8_t category, std::int32_t n) {
    if (n < 0) n = 0;
    if (category == FC_T || n >= kFormatPositionLimit) {
        state.placed_levels = state.depth;
    } else if (category == FC_TL) {
        state.moved -= static_cast<std::uint64_t>(n);
    } else {
        state.moved += static_cast<std::uint64_t>(n);
    }
}

// The end of a repetition of the innermost level, `count` repetitions
// being left with this one.  When it acted the group repeats as written.
// Otherwise every repetition is the same function of the position,
// p -> min(C, max(F, p + a)) with a the sum of its moves and literals (the
// record start <= F <= C <= the position limit):
// - one that placed the position, or moved by 0 in sum, ends where the
//   next one ends: without literals the group is left; with literals one
//   more repetition is walked, and every later one would write (or read)
//   the same characters at the same places;
// - otherwise, unless literals are written (each repetition writing its own
//   characters), all repetitions but the first and the last two are one
//   move by (count - 3) * a (held at the limit: farther, the limit or the
//   record start is reached either way): the next repetition applies C and
//   F and so ends where the true one would, and the last starts there (a
//   READ's literals keep what the last one reads);
// - a repetition writing literals that ended where it began (held at F or
//   C) writes what every further one would write.
// Returns false when the group is left.
template <class Move, class Where>
constexpr bool group_repeats(FormatState& state, Move& move, Where& where) {
    FormatState::Level& level = state.stack[state.depth - 1];
    if (level.count <= 1) return false;
    const auto outer = static_cast<std::uint8_t>(state.depth - 1);
    if (state.acting_levels < state.depth) {
        const bool literals = state.literal_levels >= state.depth;
        const auto a = static_cast<std::int64_t>(state.moved - state.moved_at_repetition[outer]);
        if (state.placed_levels >= state.depth || a == 0) {
            if (!literals) return false;
            level.count = 2;
        } else if (literals && !state.literals_read) {
            const std::int32_t began = state.position_at_repetition[outer];
            if (began >= 0 && where() == began) return false;
        } else if (level.count > 3) {
            const std::int64_t span = (a < 0 ? -a : a) * (level.count - 3);
            const auto n = static_cast<std::int32_t>(span < kFormatPositionLimit ? span : kFormatPositionLimit);
            const std::uint8_t category = a < 0 ? FC_TL : FC_X;
            count_move(state, category, n);
            move(category, n);
            level.count = 3;
        }
    }
    // The next repetition of this level begins: it has done nothing yet.
    --level.count;
    if (state.acting_levels > outer) state.acting_levels = outer;
    if (state.literal_levels > outer) state.literal_levels = outer;
    if (state.placed_levels > outer) state.placed_levels = outer;
    state.moved_at_repetition[outer] = state.moved;
    state.position_at_repetition[outer] = where();
    return true;
}

}  // namespace fmt_step_detail

// next_descriptor with the positioning done by `move(category, n)`, the
// current position told by `where()` (-1 when unknown).
template <class Move, class Where>
constexpr FormatStep format_step(FormatState& state, Move&& move, Where&& where) {
    using namespace fmt_step_detail;
    // The pass that ended with the format end handed back last time is over.
    if (state.category == FC_FORMAT_END) state.data_met = false;

    for (;;) {
        const std::uint8_t* item = state.current;
        const std::uint8_t opcode = item[0];
        if (opcode >= kFmtOpcodeCount) return fail(MSG_FORMAT_SYNTAX);
        const FmtOpcodeInfo info = kFmtOpcodes[opcode];
        const std::uint8_t category = info.category;

        std::int32_t repeat = 0, w = 0, d = 0, e = 0;
        std::int32_t size = info.size;
        switch (info.layout) {
        case LAYOUT_LONG: {
            e = item[2];
            d = item[3];
            repeat = le32(item + 4);
            w = le32(item + 8);
            const std::uint8_t flags = item[1];
            if (flags) {
                // An expression is evaluated on every repetition (its
                // routine may count the calls): the group is not crossed
                // in one step.
                state.acting_levels = state.depth;
                size = kLongItemVfeSize;
                const std::uint8_t* refs = item + kLongItemSize;
                Status status = 0;
                if (flags & VFE_REPEAT) {
                    const bool may_be_zero = category == FC_X || category == FC_TL || category == FC_TR;
                    status = vfe_operand(state, refs, may_be_zero ? 0 : 1, 32767, repeat);
                }
                if (!status && (flags & VFE_W)) {
                    if (category == FC_P)
                        status = format_expression_value(state.expressions, refs + 4, w);
                    else
                        status = vfe_operand(state, refs + 4, 0, 32767, w);
                }
                if (!status && (flags & VFE_D)) status = vfe_operand(state, refs + 8, 0, 32767, d);
                if (!status && (flags & VFE_E)) status = vfe_operand(state, refs + 12, 0, 255, e);
                if (status) return FormatStep{status, FC_INVALID};
            }
            break;
        }
        case LAYOUT_LITERAL:
            w = le16(item + 2);
            size = 4 + ((w + 3) & ~3);
            break;
        case LAYOUT_REPEAT:
            repeat = le16(item + 2);
            break;
        case LAYOUT_WIDTH:
            w = le16(item + 2);
            break;
        case LAYOUT_REPEAT_W:
            repeat = item[1];
            w = le16(item + 2);
            break;
        case LAYOUT_REPEAT_WD:
            repeat = item[1];
            w = item[2];
            d = item[3];
            break;
        default:
            break;
        }
        const std::uint8_t* next = item + size;

        switch (category) {
        case FC_FORMAT_BEGIN: {
            state.program = item;
            state.reversion = 0;
            state.data_met = false;
            const std::uint8_t next_opcode = next[0];
            state.empty_program =
                next_opcode < kFmtOpcodeCount && kFmtOpcodes[next_opcode].category == FC_FORMAT_END;
            state.current = next;
            continue;
        }
        case FC_FORMAT_END:
            state.current = state.program + state.reversion;
            state.depth = 0;
            state.acting_levels = 0;
            state.literal_levels = 0;
            state.placed_levels = 0;
            state.category = FC_FORMAT_END;
            return FormatStep{0, FC_FORMAT_END};
        case FC_GROUP_BEGIN: {
            if (state.depth >= kFormatMaxDepth) return fail(MSG_FORMAT_SYNTAX);
            // A count of 0 in the low 16 bits runs the group once.
            std::uint16_t count = static_cast<std::uint16_t>(repeat);
            if (count == 0) count = 1;
            if (state.depth == 0) state.reversion = offset_of(state, item);
            state.moved_at_repetition[state.depth] = state.moved;
            state.position_at_repetition[state.depth] = where();
            state.stack[state.depth++] = FormatState::Level{count, offset_of(state, next)};
            state.current = next;
            continue;
        }
        case FC_GROUP_END: {
            if (state.depth == 0) return fail(MSG_FORMAT_SYNTAX);
            if (group_repeats(state, move, where)) {
                state.current = state.program + state.stack[state.depth - 1].loop;
            } else {
                --state.depth;
                if (state.acting_levels > state.depth) state.acting_levels = state.depth;
                if (state.literal_levels > state.depth) state.literal_levels = state.depth;
                if (state.placed_levels > state.depth) state.placed_levels = state.depth;
                state.current = next;
            }
            continue;
        }
        case FC_BN: state.blank = BLANK_BN; break;
        case FC_BZ: state.blank = BLANK_BZ; break;
        case FC_SP: state.sign = SIGN_SP; break;
        case FC_SS: state.sign = SIGN_SS; break;
        case FC_S: state.sign = SIGN_S; break;
        case FC_P: state.scale = static_cast<std::int8_t>(w & 0xFF); break;
        case FC_X:
        case FC_T:
        case FC_TL:
        case FC_TR: {
            const std::int32_t n = category == FC_X ? repeat : w;
            count_move(state, category, n);
            move(category, n);
            break;
        }
        case FC_SLASH:  // ends records
            state.acting_levels = state.depth;
            [[fallthrough]];
        case FC_Q:       // nothing on output; an input driver takes an item (format_item_taken)
        case FC_DOLLAR:  // the same mark however often it is met
        case FC_COLON:   // passed, or the statement ends there
            state.current = next;
            state.category = category;
            state.repeat = repeat;
            return FormatStep{0, category};
        case FC_LITERAL:
            // Written (or read) at the position, which it passes.
            state.literal_levels = state.depth;
            count_move(state, FC_X, w);
            state.current = next;
            state.category = category;
            // Program storage is writable by contract: a READ stores into it.
            state.literal = const_cast<std::uint8_t*>(item + 4);
            state.literal_length = static_cast<std::uint16_t>(w);
            return FormatStep{0, category};
        default:
            if (category < FC_A0 || category > FC_ESE) return fail(MSG_FORMAT_SYNTAX);
            state.acting_levels = state.depth;
            state.current = next;
            state.category = category;
            state.repeat = repeat;
            state.w = w;
            state.d = static_cast<std::int16_t>(takes_default_m(category) ? 1 : d);
            state.e = static_cast<std::int16_t>(e);
            state.data_met = true;
            return FormatStep{0, category};
        }
        state.current = next;
    }
}

}  // namespace forrtl
