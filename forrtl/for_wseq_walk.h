// The walk of a formatted WRITE between two items: from one data edit
// descriptor to the next, performing literals, record ends, the dollar mark
// and positioning on the way.  The statement driver walks on a unit's
// record at run time; a prepared statement (for_prepared.h) walks the same
// program at compile time on a plan of its records.  Both go through this
// one walk, so both follow the same rules.
#pragma once

#include <cstdint>

#include "for_intrp_fmt.h"
#include "for_wseq_fmt.h"

namespace forrtl {

// What the walk stops at: a data edit descriptor, or (after the last item)
// ":" or the format end.
enum WalkStop : std::uint8_t { STOP_DATA, STOP_END };

// The walk's state besides the format state: whether a data descriptor is
// current, so that its repetitions serve the next items.
struct OutputWalk {
    FormatState* format;
    bool have_data;
};

// Walks until a data edit descriptor (`for_item`: an item waits) or, after
// the last item, until a data edit descriptor, ":" or the format end.  The
// target carries out what the walk meets:
//   Status literal(const std::uint8_t* text, std::int32_t length);
//   Status end_record();  // "/" and a new pass: the record ends, the next begins
//   void dollar();        // the statement's last record gets no terminator
//   void move(std::uint8_t category, std::int32_t n);  // nX, Tn, TLn, TRn
//   std::int32_t position();  // where the next character goes
template <class Target>
constexpr Status output_walk(OutputWalk& walk, bool for_item, WalkStop& stop, Target& target) {
    FormatState& fs = *walk.format;
    if (walk.have_data && fs.repeat >= 2) {
        if (for_item) --fs.repeat;
        stop = STOP_DATA;
        return 0;
    }
    for (;;) {
        FormatStep step = format_step(
            fs, [&target](std::uint8_t category, std::int32_t n) { target.move(category, n); },
            [&target] { return target.position(); });
        walk.have_data = false;
        if (step.status) return step.status;
        switch (step.category) {
        case FC_LITERAL:
            if (Status s = target.literal(fs.literal, fs.literal_length)) return s;
            break;
        case FC_SLASH: {
            std::int32_t n = fs.repeat < 1 ? 1 : fs.repeat;
            for (std::int32_t i = 0; i < n; ++i)
                if (Status s = target.end_record()) return s;
            break;
        }
        case FC_DOLLAR:
            target.dollar();
            break;
        case FC_COLON:
            if (!for_item) {
                stop = STOP_END;
                return 0;
            }
            break;
        case FC_Q:  // counts input characters: nothing to do on output
            break;
        case FC_FORMAT_END:
            if (!for_item) {
                stop = STOP_END;
                return 0;
            }
            // A pass without a data descriptor would never place the item.
            if (!fs.data_met) return fmt_step_detail::failure(MSG_INFINITE_FORMAT_LOOP);
            if (Status s = target.end_record()) return s;
            break;
        default:
            walk.have_data = true;
            stop = STOP_DATA;
            return 0;
        }
    }
}

// The edit of an item by the data descriptor the walk stopped at, with the
// statement's modes and options; a descriptor written without width gets
// the item's default width.
constexpr EditDescriptor output_edit(const FormatState& fs, std::uint32_t flags, const OutputItem& item) {
    EditDescriptor desc{};
    desc.category = fs.category;
    desc.w = fs.w;
    desc.d = fs.d;
    desc.e = fs.e;
    desc.scale = fs.scale;
    desc.sign = fs.sign;
    desc.options = flags;
    desc.list_directed = false;
    apply_default_width(desc, item);
    return desc;
}

// Positioning on an output record from `pos`: movement never writes
// anything, so positions skipped past the last character written are not
// emitted unless something is written after them (the record is
// blank-filled).  Far beyond any record a buffer can hold the position is
// held, so that the next write fails on room.
constexpr std::int32_t output_position(std::int32_t pos, std::int32_t start, std::uint8_t category, std::int32_t n) {
    if (n < 0) n = 0;
    std::int64_t to = pos;
    switch (category) {
    case FC_X:
    case FC_TR: to += n; break;
    case FC_TL: to = to - n < start ? start : to - n; break;
    case FC_T: to = static_cast<std::int64_t>(start) + (n > 0 ? n - 1 : 0); break;
    default: break;
    }
    if (to > kFormatPositionLimit) to = kFormatPositionLimit;
    return static_cast<std::int32_t>(to);
}

}  // namespace forrtl
