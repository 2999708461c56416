// The formatted sequential WRITE statement: the begin call checks the
// connection and starts a blank record, each item call walks the format
// program to the next data edit descriptor (performing literals, record ends,
// the dollar mark and positioning on the way) and edits the item into the
// record, and the end-of-list marker finishes the walk and emits the last
// record.  A field that overflowed is reported (63) after the records are
// written.
#include <climits>
#include <cstring>

#include "for_io.h"
#include "for_stmt.h"
#include "for_stmt_state.h"
#include "for_wseq_fmt.h"

namespace forrtl {

namespace {

// Positioning on an output record: movement never writes anything, so
// positions skipped past the last character written are not emitted unless
// something is written after them (the record is blank-filled).
void move_output(void* context, std::uint8_t category, std::int32_t n) {
    Statement& st = *static_cast<Statement*>(context);
    RecordBuffer& rec = st.lub->rec;
    if (n < 0) n = 0;
    std::int64_t pos = rec.pos;
    switch (category) {
    case FC_X:
    case FC_TR: pos += n; break;
    case FC_TL: pos = pos - n < rec.start ? rec.start : pos - n; break;
    case FC_T: pos = static_cast<std::int64_t>(rec.start) + (n > 0 ? n - 1 : 0); break;
    default: break;
    }
    // Far beyond any record the buffer can hold: the next write fails on room.
    if (pos > INT32_MAX / 2) pos = INT32_MAX / 2;
    rec.pos = static_cast<std::int32_t>(pos);
}

Status put_literal(Statement& st, const std::uint8_t* text, std::int32_t length) {
    if (Status s = stmt_record_room(st, length)) return s;
    RecordBuffer& rec = st.lub->rec;
    std::memcpy(rec.buffer + rec.pos, text, static_cast<std::size_t>(length));
    rec.pos += length;
    stmt_mark_written(st, rec.pos);
    return 0;
}

// Ends the current record and begins the next one ("/" and reversion).
Status next_record(Statement& st) {
    if (Status s = stmt_record_put(st, false)) return s;
    return stmt_record_begin(st);
}

// What the walk stops at.
enum WalkStop { STOP_DATA, STOP_END };

// Walks the program until a data edit descriptor (`for_item`: an item
// waits) or, after the last item, until a data edit descriptor, ":" or the
// format end.
Status walk(Statement& st, bool for_item, WalkStop& stop) {
    FormatState& fs = st.lub->fmt;
    if (st.have_data && fs.repeat >= 2) {
        if (for_item) --fs.repeat;
        stop = STOP_DATA;
        return 0;
    }
    FormatPositioner positioner{move_output, &st};
    for (;;) {
        FormatStep step = next_descriptor(fs, &positioner);
        st.have_data = false;
        if (step.status) return step.status;
        switch (step.category) {
        case FC_LITERAL:
            if (Status s = put_literal(st, fs.literal, fs.literal_length)) return s;
            break;
        case FC_SLASH: {
            std::int32_t n = fs.repeat < 1 ? 1 : fs.repeat;
            for (std::int32_t i = 0; i < n; ++i)
                if (Status s = next_record(st)) return s;
            break;
        }
        case FC_DOLLAR:
            st.dollar = true;
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
            if (!fs.data_met) return status_of(MSG_INFINITE_FORMAT_LOOP);
            if (Status s = next_record(st)) return s;
            break;
        default:
            st.have_data = true;
            stop = STOP_DATA;
            return 0;
        }
    }
}

Status edit_one(Statement& st, std::uint8_t type, const void* address, std::int64_t length) {
    WalkStop stop;
    if (Status s = walk(st, true, stop)) return s;
    const FormatState& fs = st.lub->fmt;
    OutputItem item{type, address, length};
    EditDescriptor desc{};
    desc.category = fs.category;
    desc.w = fs.w;
    desc.d = fs.d;
    desc.e = fs.e;
    desc.scale = fs.scale;
    desc.sign = fs.sign;
    desc.options = st.flags;
    desc.list_directed = false;
    apply_default_width(desc, item);
    if (desc.w <= 0) return 0;
    if (Status s = stmt_record_room(st, desc.w)) return s;
    RecordBuffer& rec = st.lub->rec;
    Status s = edit_output_field(item, desc, rec.buffer + rec.pos);
    if (s) {
        if (status_number(s) != MSG_OUTPUT_CONVERSION) return s;
        st.overflow = true;  // asterisks stand in the field
    }
    rec.pos += desc.w;
    stmt_mark_written(st, rec.pos);
    return 0;
}

Status write_element(Statement& st, const Element& el) {
    if (el.ekind == EK_COMPLEX) {
        // Each part is edited as a real with its own descriptor.
        std::int32_t part = el.length / 2;
        if (Status s = edit_one(st, el.type, el.address, part)) return s;
        return edit_one(st, el.type, static_cast<const char*>(el.address) + part, part);
    }
    return edit_one(st, el.type, el.address, el.length);
}

// The end-of-list marker: the walk goes on to the next data descriptor, ":"
// or the format end; then the last record is emitted (not for a
// non-advancing WRITE, whose record stays open for the next WRITE).
int finish_write(Statement& st) {
    WalkStop stop;
    Status s = walk(st, false, stop);
    if (!s) {
        if (st.advancing) {
            st.lub->nonadvancing_open = false;
            s = stmt_record_put(st, true);
        } else {
            st.lub->nonadvancing_open = true;
        }
    }
    if (!s && st.overflow) s = status_of(MSG_OUTPUT_CONVERSION);
    return stmt_finish(st, s);
}

int transfer(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    ItemCursor cursor{items, args};
    for (;;) {
        Item item;
        Status s = read_item_descriptor(cursor, item);
        if (s) return stmt_finish(st, s);
        if (item.type == ITEM_END_OF_LIST) return finish_write(st);
        if (item.type == ITEM_MORE_LATER) return 0;
        s = for_each_element(item, [&st](const Element& el) { return write_element(st, el); });
        if (s) return stmt_finish(st, s);
    }
}

// The part of the begin call shared by files and the internal unit, after
// the unit is held.
int begin_on_unit(Statement& st, const std::uint8_t* format, std::int32_t format_length,
                  const std::uint8_t* items, const ArgWord* args) {
    if (Status s = stmt_format_begin(st, format, format_length)) return stmt_finish(st, s);
    if (!st.lub->nonadvancing_open || st.internal) {
        if (Status s = stmt_record_begin(st)) return stmt_finish(st, s);
    }
    return transfer(st, items, args);
}


}  // namespace

int format_write_begin_adv(int unit, std::uint32_t flags, const std::uint8_t* format,
                           std::int32_t format_length, const char* advance, std::int32_t advance_length,
                           const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_FMT_WRITE, flags);
    Status s = stmt_acquire_unit(st, unit, true);
    if (!s && advance) s = parse_advance(advance, advance_length, st.advancing);
    if (s) return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, format, format_length, items, args), items);
}

int format_write_begin(int unit, std::uint32_t flags, const std::uint8_t* format, std::int32_t format_length,
                       const std::uint8_t* items, const ArgWord* args) {
    return format_write_begin_adv(unit, flags, format, format_length, nullptr, 0, items, args);
}

int format_write_item(const std::uint8_t* items, const ArgWord* args) {
    // A statement that already ended (its error was reported) takes no
    // further items.
    Statement* st = stmt_item_call(STMT_FMT_WRITE, items);
    if (!st) return 0;
    return stmt_leave(*st, transfer(*st, items, args), items);
}

int internal_write_begin(char* area, std::int32_t record_length, std::int32_t records, std::uint32_t flags,
                         const std::uint8_t* format, std::int32_t format_length, const std::uint8_t* items,
                         const ArgWord* args) {
    Statement& st = stmt_begin(STMT_FMT_WRITE, flags);
    if (Status s = stmt_acquire_internal(st, area, record_length, records))
        return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, format, format_length, items, args), items);
}

}  // namespace forrtl
