// The formatted sequential READ statement: the begin call checks the
// connection and makes the next record current (unless a non-advancing READ
// left one open), each item call walks the format program to the next data
// edit descriptor and converts the field at the position into the item, and
// the end-of-list marker finishes the walk; the rest of the record stays
// unread.
#include <climits>
#include <cstring>

#include "for_io.h"
#include "for_prepared.h"
#include "for_rseq_fmt.h"
#include "for_stmt.h"
#include "for_stmt_state.h"

namespace forrtl {

namespace {

// Positioning on an input record; a position beyond the record's end reads
// as blanks (or runs short on a connection that does not pad).
void move_input(void* context, std::uint8_t category, std::int32_t n) {
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
    if (pos > kFormatPositionLimit) pos = kFormatPositionLimit;
    rec.pos = static_cast<std::int32_t>(pos);
}

InputRecord record_view(const Statement& st) {
    const RecordBuffer& rec = st.lub->rec;
    return InputRecord{rec.buffer + rec.start, rec.end - rec.start, rec.pos - rec.start};
}

void take_view(Statement& st, const InputRecord& view) {
    st.lub->rec.pos = st.lub->rec.start + view.pos;
}

Status next_record(Statement& st) {
    st.lub->nonadvancing_open = false;
    return stmt_record_get(st);
}

// A literal met during a READ takes its length in characters from the
// record into its own text in the program (blanks beyond the record's end),
// so that a later WRITE with the same program shows them.
void take_literal(Statement& st, std::uint8_t* text, std::int32_t length) {
    RecordBuffer& rec = st.lub->rec;
    const std::int32_t avail = rec.pos < rec.end ? rec.end - rec.pos : 0;
    const std::int32_t n = length < avail ? length : avail;
    if (n > 0) std::memcpy(text, rec.buffer + rec.pos, static_cast<std::size_t>(n));
    if (length > n) std::memset(text + n, ' ', static_cast<std::size_t>(length - n));
    rec.pos = advanced_position(rec.pos, length);
}

enum WalkStop { STOP_DATA, STOP_END };

// The input walk: "/" and the format end (with items waiting) read the next
// record; a literal passes over as many characters of the record; "$" does
// nothing.  Q is a data edit descriptor here.
Status walk(Statement& st, bool for_item, WalkStop& stop) {
    FormatState& fs = st.lub->fmt;
    if (st.have_data && fs.repeat >= 2) {
        if (for_item) --fs.repeat;
        stop = STOP_DATA;
        return 0;
    }
    FormatPositioner positioner{move_input, &st, nullptr};
    for (;;) {
        FormatStep step = next_descriptor(fs, &positioner);
        st.have_data = false;
        if (step.status) return step.status;
        switch (step.category) {
        case FC_LITERAL:
            take_literal(st, fs.literal, fs.literal_length);
            break;
        case FC_SLASH: {
            std::int32_t n = fs.repeat < 1 ? 1 : fs.repeat;
            for (std::int32_t i = 0; i < n; ++i)
                if (Status s = next_record(st)) return s;
            break;
        }
        case FC_DOLLAR:
            break;
        case FC_COLON:
            if (!for_item) {
                stop = STOP_END;
                return 0;
            }
            break;
        case FC_FORMAT_END:
            if (!for_item) {
                stop = STOP_END;
                return 0;
            }
            if (!fs.data_met) return status_of(MSG_INFINITE_FORMAT_LOOP);
            if (Status s = next_record(st)) return s;
            break;
        default:
            // Q takes an item here, as the data edit descriptors do.
            if (step.category == FC_Q) format_item_taken(fs);
            st.have_data = true;
            stop = STOP_DATA;
            return 0;
        }
    }
}

// Whether the field is taken as characters (A, or G on a character item),
// where a comma is data and does not end the field.
bool takes_characters(const InputEdit& edit, const InputItem& item) {
    if (edit.category == FC_A0 || edit.category == FC_A) return true;
    const bool g = edit.category == FC_G0 || edit.category == FC_G || edit.category == FC_GE;
    return g && classify_item_type(item.type).family == TF_CHARACTER;
}

Status read_one(Statement& st, std::uint8_t type, void* address, std::int32_t length) {
    WalkStop stop;
    if (Status s = walk(st, true, stop)) return s;
    const FormatState& fs = st.lub->fmt;
    InputItem item{type, address, length};
    InputRecord view = record_view(st);
    if (fs.category == FC_Q) return edit_input_q(view, item);

    InputEdit edit{fs.category, fs.w, fs.d, fs.scale, fs.blank};
    edit = resolve_input_edit(edit, item);
    InputOptions options{!st.lub->pad_no, (st.flags & SF_STANDARD_RULES) != 0};
    const std::int32_t before = view.pos;
    // A non-advancing READ whose field runs past the end of the record
    // meets the end of the record: the item is completed with blanks and
    // the statement ends.  A comma inside the record ends a numeric field
    // before that, and then the record goes on.
    bool runs_out = !st.advancing && before + static_cast<std::int64_t>(edit.w) > view.length;
    if (runs_out && before < view.length && !takes_characters(edit, item) &&
        std::memchr(view.data + before, ',', std::size_t(view.length - before)))
        runs_out = false;
    Status s = read_input_field(view, edit, item, options);
    take_view(st, view);
    std::int32_t from = before < view.length ? before : view.length;
    std::int32_t to = view.pos < view.length ? view.pos : view.length;
    if (to > from) st.transferred += to - from;
    if (s) return s;
    if (runs_out) {
        st.eor = true;
        return status_of(MSG_END_OF_RECORD);
    }
    return 0;
}

Status read_element(Statement& st, const Element& el) {
    if (el.ekind == EK_COMPLEX) {
        std::int32_t part = el.length / 2;
        if (Status s = read_one(st, el.type, el.address, part)) return s;
        return read_one(st, el.type, static_cast<char*>(el.address) + part, part);
    }
    return read_one(st, el.type, el.address, el.length);
}

// Stores the SIZE= count of a non-advancing READ.
void store_size(Statement& st) {
    if (!st.size_address) return;
    std::int64_t n = st.transferred;
    switch (st.size_bytes) {
    case 1: *static_cast<std::int8_t*>(st.size_address) = static_cast<std::int8_t>(n); break;
    case 2: *static_cast<std::int16_t*>(st.size_address) = static_cast<std::int16_t>(n); break;
    case 8: *static_cast<std::int64_t*>(st.size_address) = n; break;
    default: *static_cast<std::int32_t*>(st.size_address) = static_cast<std::int32_t>(n); break;
    }
}

// Ends the statement.  A non-advancing READ keeps its record and position
// for the next READ, unless it met the end of the record.
int finish_read(Statement& st, Status s) {
    if (st.lub) {
        st.lub->nonadvancing_open = !st.advancing && !st.eor && (!s || status_number(s) == MSG_END_OF_RECORD);
        if (!st.advancing) store_size(st);
    }
    return stmt_finish(st, s);
}

int transfer(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    ItemCursor cursor{items, args};
    for (;;) {
        Item item;
        Status s = read_item_descriptor(cursor, item);
        if (s) return finish_read(st, s);
        if (item.type == ITEM_END_OF_LIST) {
            WalkStop stop;
            return finish_read(st, walk(st, false, stop));
        }
        if (item.type == ITEM_MORE_LATER) return 0;
        s = for_each_element(item, [&st](const Element& el) { return read_element(st, el); });
        if (s) return finish_read(st, s);
    }
}

int begin_on_unit(Statement& st, const std::uint8_t* format, std::int32_t format_length,
                  const std::uint8_t* items, const ArgWord* args) {
    if (Status s = stmt_format_begin(st, format, format_length)) return stmt_finish(st, s);
    st.lub->fmt.literals_read = true;
    if (!st.lub->nonadvancing_open || st.internal) {
        if (Status s = next_record(st)) return stmt_finish(st, s);
    }
    return transfer(st, items, args);
}


}  // namespace

int prepared_format_read(int unit, std::uint32_t flags, const std::uint8_t* program, const ReadElement* fields,
                         std::int32_t count, const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_FMT_READ, flags);
    if (Status s = stmt_acquire_unit(st, unit, false)) return stmt_leave(st, stmt_finish(st, s), kAllItemsTaken);
    if (!fields || st.lub->nonadvancing_open) return stmt_leave(st, begin_on_unit(st, program, 0, items, args), items);
    // The plan: each field in turn on the next record, with the statement's
    // modes (scale factor 0, the connection's blank mode).
    Status s = next_record(st);
    const InputOptions options{!st.lub->pad_no, (st.flags & SF_STANDARD_RULES) != 0};
    const BlankMode blank = st.lub->blank_null ? BLANK_BN : BLANK_BZ;
    for (std::int32_t i = 0; i < count && !s; ++i) {
        const ReadElement& f = fields[i];
        InputRecord view = record_view(st);
        s = f.category == FC_Q ? edit_input_q(view, f.item)
                               : read_input_field(view, InputEdit{f.category, f.w, f.d, 0, blank}, f.item, options);
        take_view(st, view);
    }
    return stmt_leave(st, finish_read(st, s), kAllItemsTaken);
}

int format_read_begin_adv(int unit, std::uint32_t flags, const std::uint8_t* format, std::int32_t format_length,
                          const char* advance, std::int32_t advance_length, void* size_address,
                          std::int32_t size_bytes, const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_FMT_READ, flags);
    Status s = stmt_acquire_unit(st, unit, false);
    if (!s && advance) s = parse_advance(advance, advance_length, st.advancing);
    if (s) return stmt_leave(st, stmt_finish(st, s), items);
    if (!st.advancing) {
        st.size_address = size_address;
        st.size_bytes = size_bytes;
    }
    return stmt_leave(st, begin_on_unit(st, format, format_length, items, args), items);
}

int format_read_begin(int unit, std::uint32_t flags, const std::uint8_t* format, std::int32_t format_length,
                      const std::uint8_t* items, const ArgWord* args) {
    return format_read_begin_adv(unit, flags, format, format_length, nullptr, 0, nullptr, 0, items, args);
}

int format_read_item(const std::uint8_t* items, const ArgWord* args) {
    Statement* st = stmt_item_call(STMT_FMT_READ, items);
    if (!st) return 0;
    return stmt_leave(*st, transfer(*st, items, args), items);
}

int internal_read_begin(const char* area, std::int32_t record_length, std::int32_t records,
                        std::uint32_t flags, const std::uint8_t* format, std::int32_t format_length,
                        const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_FMT_READ, flags);
    // The area is only read.
    if (Status s = stmt_acquire_internal(st, const_cast<char*>(area), record_length, records))
        return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, format, format_length, items, args), items);
}

}  // namespace forrtl
