// The format interpreter at run time: the state of a unit's walk, the
// values of variable format expressions, and next_descriptor over the step
// of for_intrp_fmt.h with the driver's positioner.  Reading an item is one
// lookup in the opcode table; nothing is allocated.
#include "for_intrp_fmt.h"

namespace forrtl {

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
    const FormatExpression& entry = table[fmt_step_detail::le16(reference)];
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
    return format_step(
        state,
        [positioner](std::uint8_t category, std::int32_t n) {
            if (positioner && positioner->move) positioner->move(positioner->context, category, n);
        },
        [positioner] {
            return positioner && positioner->position ? positioner->position(positioner->context) : -1;
        });
}

}  // namespace forrtl
