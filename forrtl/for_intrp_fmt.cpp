// The format interpreter: steps through a format program, performs the
// control items itself (groups and their counts, reversion, positioning
// through the statement's positioner, scale factor, sign and blank modes)
// and hands back the items the statement driver must act on.  Reading an
// item is one lookup in the opcode table; nothing is allocated.
#include "for_format.h"

namespace forrtl {

namespace {

constexpr FmtOpcodeInfo kLong(std::uint8_t category) { return {LAYOUT_LONG, kLongItemSize, category}; }
constexpr FmtOpcodeInfo kShort(std::uint8_t layout, std::uint8_t category) { return {layout, 4, category}; }

}  // namespace

const FmtOpcodeInfo kFmtOpcodes[kFmtOpcodeCount] = {
    // 0 to 51: long items, opcode = category; 28 is the literal item.
    kLong(0), kLong(1), kLong(2), kLong(3), kLong(4), kLong(5), kLong(6), kLong(7), kLong(8),
    kLong(9), kLong(10), kLong(11), kLong(12), kLong(13), kLong(14), kLong(15), kLong(16),
    kLong(17), kLong(18), kLong(19), kLong(20), kLong(21), kLong(22), kLong(23), kLong(24),
    kLong(25), kLong(26), kLong(27), {LAYOUT_LITERAL, 4, FC_LITERAL}, kLong(29), kLong(30),
    kLong(31), kLong(32), kLong(33), kLong(34), kLong(35), kLong(36), kLong(37), kLong(38),
    kLong(39), kLong(40), kLong(41), kLong(42), kLong(43), kLong(44), kLong(45), kLong(46),
    kLong(47), kLong(48), kLong(49), kLong(50), kLong(51),
    // 52 to 95: short items.
    kShort(LAYOUT_NONE, FC_INVALID),         // 52
    kShort(LAYOUT_NONE, FC_INVALID),         // 53
    kShort(LAYOUT_NONE, FC_FORMAT_BEGIN),    // 54
    kShort(LAYOUT_NONE, FC_FORMAT_END),      // 55
    kShort(LAYOUT_REPEAT, FC_GROUP_BEGIN),   // 56
    kShort(LAYOUT_NONE, FC_GROUP_END),       // 57
    kShort(LAYOUT_NONE, FC_BN),              // 58
    kShort(LAYOUT_NONE, FC_BZ),              // 59
    kShort(LAYOUT_NONE, FC_SP),              // 60
    kShort(LAYOUT_NONE, FC_SS),              // 61
    kShort(LAYOUT_NONE, FC_S),               // 62
    kShort(LAYOUT_WIDTH, FC_P),              // 63
    kShort(LAYOUT_REPEAT, FC_X),             // 64
    kShort(LAYOUT_WIDTH, FC_T),              // 65
    kShort(LAYOUT_WIDTH, FC_TL),             // 66
    kShort(LAYOUT_WIDTH, FC_TR),             // 67
    kShort(LAYOUT_NONE, FC_Q),               // 68
    kShort(LAYOUT_NONE, FC_DOLLAR),          // 69
    kShort(LAYOUT_NONE, FC_COLON),           // 70
    kShort(LAYOUT_REPEAT, FC_SLASH),         // 71
    kShort(LAYOUT_REPEAT, FC_A0),            // 72
    kShort(LAYOUT_REPEAT, FC_D0),            // 73
    kShort(LAYOUT_REPEAT, FC_E0),            // 74
    kShort(LAYOUT_REPEAT, FC_F0),            // 75
    kShort(LAYOUT_REPEAT, FC_G0),            // 76
    kShort(LAYOUT_REPEAT, FC_I0),            // 77
    kShort(LAYOUT_REPEAT, FC_L0),            // 78
    kShort(LAYOUT_REPEAT, FC_O0),            // 79
    kShort(LAYOUT_REPEAT, FC_Z0),            // 80
    kShort(LAYOUT_REPEAT_W, FC_A),           // 81
    kShort(LAYOUT_REPEAT_WD, FC_D),          // 82
    kShort(LAYOUT_REPEAT_WD, FC_E),          // 83
    kShort(LAYOUT_REPEAT_WD, FC_F),          // 84
    kShort(LAYOUT_REPEAT_WD, FC_G),          // 85
    kShort(LAYOUT_REPEAT_W, FC_I),           // 86
    kShort(LAYOUT_REPEAT_WD, FC_IM),         // 87
    kShort(LAYOUT_REPEAT_W, FC_L),           // 88
    kShort(LAYOUT_REPEAT_W, FC_O),           // 89
    kShort(LAYOUT_REPEAT_WD, FC_OM),         // 90
    kShort(LAYOUT_REPEAT_W, FC_Z),           // 91
    kShort(LAYOUT_REPEAT_WD, FC_ZM),         // 92
    kShort(LAYOUT_REPEAT, FC_B0),            // 93
    kShort(LAYOUT_REPEAT_W, FC_B),           // 94
    kShort(LAYOUT_REPEAT_WD, FC_BM),         // 95
};

namespace {

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int32_t le32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                            (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

inline std::uint16_t offset_of(const FormatState& state, const std::uint8_t* item) {
    return static_cast<std::uint16_t>(item - state.program);
}

// Categories whose I, L, O, Z or B form carries no m: m is 1.
constexpr bool takes_default_m(std::uint8_t category) {
    return (category >= FC_I0 && category <= FC_Z0) || category == FC_I || category == FC_O ||
           category == FC_Z || category == FC_B0 || category == FC_B;
}

// One operand from a variable format expression, checked against its
// range.  Out of range is error 68 while an item waits for the descriptor;
// otherwise the walk is only running on to its stopping point and the value
// is held to the range, so that no count can make the walk misbehave.
Status vfe_operand(const FormatState& state, const std::uint8_t* reference, std::int32_t low,
                   std::int32_t high, std::int32_t& value) {
    if (Status status = format_expression_value(state.expressions, reference, value)) return status;
    if (value >= low && value <= high) return 0;
    if (state.item_waiting) return status_of(MSG_VFE_VALUE);
    value = value < low ? low : high;
    return 0;
}

inline FormatStep fail(unsigned message) { return FormatStep{status_of(message), FC_INVALID}; }

}  // namespace

void format_state_begin(FormatState& state, const std::uint8_t* program,
                        const FormatExpression* expressions) {
    state = FormatState{};
    state.program = program;
    state.current = program;
    state.expressions = expressions;
}

Status format_expression_value(const FormatExpression* table, const std::uint8_t* reference,
                               std::int32_t& value) {
    value = 0;
    if (!table) return status_of(MSG_VFE_VALUE);
    const FormatExpression& entry = table[le16(reference)];
    const std::uint8_t kind = reference[2];
    const std::uint8_t type = reference[3];
    if (type != 9) return status_of(MSG_VFE_VALUE);
    if (kind == 3 && entry.address) {
        value = *entry.address;
        return 0;
    }
    if (kind == 10 && entry.routine) {
        value = entry.routine(entry.context);
        return 0;
    }
    return status_of(MSG_VFE_VALUE);
}

FormatStep next_descriptor(FormatState& state, const FormatPositioner* positioner) {
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
            state.category = FC_FORMAT_END;
            return FormatStep{0, FC_FORMAT_END};
        case FC_GROUP_BEGIN: {
            if (state.depth >= kFormatMaxDepth) return fail(MSG_FORMAT_SYNTAX);
            // A count of 0 in the low 16 bits runs the group once.
            std::uint16_t count = static_cast<std::uint16_t>(repeat);
            if (count == 0) count = 1;
            if (state.depth == 0) state.reversion = offset_of(state, item);
            state.stack[state.depth++] = FormatState::Level{count, offset_of(state, next)};
            state.current = next;
            continue;
        }
        case FC_GROUP_END: {
            if (state.depth == 0) return fail(MSG_FORMAT_SYNTAX);
            FormatState::Level& level = state.stack[state.depth - 1];
            if (level.count <= 1) {
                --state.depth;
                state.current = next;
            } else {
                --level.count;
                state.current = state.program + level.loop;
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
        case FC_TR:
            if (positioner && positioner->move)
                positioner->move(positioner->context, category, category == FC_X ? repeat : w);
            break;
        case FC_Q:
        case FC_DOLLAR:
        case FC_COLON:
        case FC_SLASH:
            state.current = next;
            state.category = category;
            state.repeat = repeat;
            return FormatStep{0, category};
        case FC_LITERAL:
            state.current = next;
            state.category = category;
            // Program storage is writable by contract: a READ stores into it.
            state.literal = const_cast<std::uint8_t*>(item + 4);
            state.literal_length = static_cast<std::uint16_t>(w);
            return FormatStep{0, category};
        default:
            if (category < FC_A0 || category > FC_ESE) return fail(MSG_FORMAT_SYNTAX);
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
