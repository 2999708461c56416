// The formatted sequential WRITE statement: the begin call checks the
// connection and starts a blank record, each item call walks the format
// program to the next data edit descriptor (performing literals, record ends,
// the dollar mark and positioning on the way) and edits the item into the
// record, and the end-of-list marker finishes the walk and emits the last
// record.  A field that overflowed is reported (63) after the records are
// written.
#include <cstring>
#include <new>

#include "for_diags.h"
#include "for_io.h"
#include "for_lub.h"
#include "for_prepared.h"
#include "for_stmt.h"
#include "for_stmt_state.h"
#include "for_units.h"
#include "for_wseq_fmt.h"
#include "for_wseq_walk.h"

namespace forrtl {

namespace {

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

// The walk on the statement's record.
struct RecordTarget {
    Statement& st;
    Status literal(const std::uint8_t* text, std::int32_t length) { return put_literal(st, text, length); }
    Status end_record() { return next_record(st); }
    void dollar() { st.dollar = true; }
    void move(std::uint8_t category, std::int32_t n) {
        RecordBuffer& rec = st.lub->rec;
        rec.pos = output_position(rec.pos, rec.start, category, n);
    }
    std::int32_t position() const { return st.lub->rec.pos; }
};

Status walk(Statement& st, bool for_item, WalkStop& stop) {
    OutputWalk w{&st.lub->fmt, st.have_data};
    RecordTarget target{st};
    Status s = output_walk(w, for_item, stop, target);
    st.have_data = w.have_data;
    return s;
}

Status edit_one(Statement& st, std::uint8_t type, const void* address, std::int64_t length) {
    WalkStop stop;
    if (Status s = walk(st, true, stop)) return s;
    OutputItem item{type, address, length};
    const EditDescriptor desc = output_edit(st.lub->fmt, st.flags, item);
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
// the unit is held (and, for a prepared statement, maybe after its first
// record is begun).
int begin_on_unit(Statement& st, const std::uint8_t* format, std::int32_t format_length,
                  const std::uint8_t* items, const ArgWord* args, bool record_begun = false) {
    if (Status s = stmt_format_begin(st, format, format_length)) return stmt_finish(st, s);
    if (!record_begun && (!st.lub->nonadvancing_open || st.internal)) {
        if (Status s = stmt_record_begin(st)) return stmt_finish(st, s);
    }
    return transfer(st, items, args);
}

static_assert(sizeof(Statement) <= sizeof(PreparedRecord::statement) && alignof(Statement) <= 8,
              "a prepared statement keeps its state in its record");

Statement& statement_of(PreparedRecord& r) { return *std::launder(reinterpret_cast<Statement*>(r.statement)); }

// A prepared statement ends in the call it was begun in.
int end_prepared(PreparedRecord& r, Status s) {
    r.result = stmt_finish(statement_of(r), s);
    return r.result;
}

// Where the plan left the walk on the current record.
void take_position(Statement& st, std::int32_t at, std::int32_t mark) {
    RecordBuffer& rec = st.lub->rec;
    rec.pos = rec.start + at;
    stmt_mark_written(st, rec.start + mark);
}


}  // namespace

// ---- prepared statements (for_prepared.h) -------------------------------------

PreparedRoute prepared_write_begin(PreparedRecord& r, int unit, std::uint32_t flags, std::int32_t extent,
                                   bool one_line) {
    r.flags = flags;
    r.extent = extent;
    r.result = 0;
    r.line_unit = nullptr;
    // One line on a unit that takes it the short way: the unit, the
    // statement's options and the record are all it needs.  (Pending
    // records make the statement's last record wait: not a line.)
    if (one_line && extent >= 0 && !(flags & SF_PENDING_RECORDS)) {
        if (Lub* lub = for_lookup_connected_unit(unit)) {
            if (char* base = for_begin_line(lub, extent)) {
                for_copy_statement_options(lub, flags);
                r.line_unit = lub;
                r.base = base;
                return PREPARED_PLAN;
            }
            for_release_unit(lub);
        }
    }
    Statement& st = *new (r.statement) Statement;
    stmt_begin_local(st, STMT_FMT_WRITE, flags);
    r.base = nullptr;
    r.record_begun = false;
    if (Status s = stmt_acquire_unit(st, unit, true)) {
        end_prepared(r, s);
        return PREPARED_DONE;
    }
    // A record left open by a non-advancing WRITE goes on: the walk knows
    // where it stands.
    if (extent < 0 || st.lub->nonadvancing_open) return PREPARED_WALK;
    if (Status s = stmt_record_begin(st)) {
        end_prepared(r, s);
        return PREPARED_DONE;
    }
    r.record_begun = true;
    const RecordBuffer& rec = st.lub->rec;
    // Records shorter than the plan: the walk finds where room runs out
    // (or the record grows).
    if (rec.end - rec.start < extent) return PREPARED_WALK;
    r.base = rec.buffer + rec.start;
    return PREPARED_PLAN;
}

int prepared_write_walk(PreparedRecord& r, const std::uint8_t* program, const std::uint8_t* items,
                        const ArgWord* args) {
    Statement& st = statement_of(r);
    r.result = begin_on_unit(st, program, 0, items, args, r.record_begun);
    return r.result;
}

bool prepared_write_next_record(PreparedRecord& r, std::int32_t at, std::int32_t mark) {
    Statement& st = statement_of(r);
    take_position(st, at, mark);
    Status s = next_record(st);
    const RecordBuffer& rec = st.lub->rec;
    // Records never shrink within a statement; were one shorter, the plan
    // would not fit it.
    if (!s && rec.end - rec.start < r.extent) s = status_of(MSG_RECORD_OVERFLOW);
    if (s) {
        end_prepared(r, s);
        return false;
    }
    r.base = rec.buffer + rec.start;
    return true;
}

int prepared_write_end(PreparedRecord& r, std::int32_t at, std::int32_t mark, bool dollar, bool overflow) {
    if (Lub* lub = r.line_unit) {
        Status s = for_put_line(lub, mark);
        if (!s && overflow) s = status_of(MSG_OUTPUT_CONVERSION);
        if (!s) {
            for_release_unit(lub);
            return r.result = 0;
        }
        return r.result = for_handle_io_error(IOERR_RELEASE, s, lub);
    }
    Statement& st = statement_of(r);
    take_position(st, at, mark);
    st.dollar = dollar;
    st.lub->nonadvancing_open = false;
    Status s = stmt_record_put(st, true);
    if (!s && overflow) s = status_of(MSG_OUTPUT_CONVERSION);
    if (!s) {
        // The common end, without the failure paths.
        for_release_unit(st.lub);
        r.result = 0;
        return 0;
    }
    return end_prepared(r, s);
}

Status prepared_write_edit(PreparedRecord& r, const OutputItem& item, EditDescriptor desc, char* field) {
    desc.options = r.flags;
    return edit_output_field(item, desc, field);
}

void prepared_write_fail(PreparedRecord& r, Status status) {
    if (r.line_unit) {
        r.result = for_handle_io_error(IOERR_RELEASE, status, r.line_unit);
        return;
    }
    end_prepared(r, status);
}

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
