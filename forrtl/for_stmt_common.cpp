// The steps every formatted and list-directed statement takes: its state on
// the thread's stack of statements, finding and locking the unit with the
// connection checks, the record steps (which for the internal unit work on
// the caller's character area), and the common end of the statement.
#include "for_stmt_state.h"

#include <cstring>
#include <new>
#include <type_traits>

#include "for_diags.h"
#include "for_io.h"
#include "for_rseq_lis.h"
#include "for_units.h"

namespace forrtl {

namespace {

// One statement's state with the storage it owns.
struct Frame {
    Statement st;
    Lub internal;        // the internal unit's block
    ListReadState scan;  // the scan state of a list-directed READ
    Frame* below;        // the statement this one was begun in, or null
    Frame* above;        // a frame kept for the next nested statement
};

// The thread's stack: the first frame lives with the thread, deeper ones
// are allocated once and kept for the next statements nested as deep.
thread_local Frame t_base;
thread_local Frame* t_top = nullptr;

// Frees the kept frames when the thread ends.
struct KeptFrames {
    ~KeptFrames() {
        for (Frame* f = t_base.above; f;) {
            Frame* next = f->above;
            delete f;
            f = next;
        }
        t_base.above = nullptr;
    }
};

// Stands in when no frame can be had for a nested statement: the statement
// fails at its unit step with 41 and leaves the stack in the same call.
thread_local Frame t_no_storage;

Frame* frame_above(Frame* top) {
    if (!top) return &t_base;
    if (!top->above) {
        static thread_local KeptFrames kept;
        (void)kept;
        top->above = new (std::nothrow) Frame();
        if (!top->above) return nullptr;
    }
    return top->above;
}

Frame& frame_of(Statement& st) { return *reinterpret_cast<Frame*>(&st); }

// Whether an item list ends the statement's list: its terminator is 1 (an
// unreadable type code ends it too).
bool list_ends(const std::uint8_t* items) {
    if (!items) return true;
    for (;; items += 2) {
        if (items[0] == ITEM_MORE_LATER) return false;
        if (items[0] == ITEM_END_OF_LIST || items[0] > 63) return true;
    }
}

void pop(Statement& st) {
    Frame& f = frame_of(st);
    if (t_top == &f) t_top = f.below;
}

}  // namespace

static_assert(std::is_standard_layout_v<Frame>, "a statement's frame starts with its state");

Statement* current_statement() { return t_top ? &t_top->st : nullptr; }

void stmt_begin_local(Statement& st, StmtKind kind, std::uint32_t flags) {
    // A fresh state copied in: plain stores (clearing the structure in place
    // compiles to a string instruction that costs more than the copy).
    static constexpr Statement kFresh{};
    std::memcpy(&st, &kFresh, sizeof st);
    st.kind = kind;
    st.flags = flags;
    st.advancing = true;
}

Statement& stmt_begin(StmtKind kind, std::uint32_t flags) {
    Frame* f = frame_above(t_top);
    const bool stored = f != nullptr;
    if (!f) f = &t_no_storage;
    f->below = t_top;
    t_top = f;
    Statement& st = f->st;
    stmt_begin_local(st, kind, flags);
    st.internal_block = stored ? &f->internal : nullptr;
    st.scan = stored ? &f->scan : nullptr;
    st.no_storage = !stored;
    return st;
}

int stmt_leave(Statement& st, int result, const std::uint8_t* items) {
    if (st.kind != STMT_NONE) return result;
    bool branch = false;
    if (result != 0) {
        branch = (st.flags & SF_ERROR_BRANCH) || (result == -1 && (st.flags & SF_END_BRANCH)) ||
                 (result == -2 && (st.flags & SF_EOR_BRANCH));
    }
    if (branch || list_ends(items)) pop(st);
    return result;
}

Statement* stmt_item_call(StmtKind kind, const std::uint8_t* items) {
    Statement* st = current_statement();
    if (!st) return nullptr;
    if (st->kind == kind) return st;
    if (st->kind == STMT_NONE && list_ends(items)) pop(*st);
    return nullptr;
}

Status stmt_format_begin(Statement& st, const std::uint8_t* format, std::int32_t format_length) {
    Lub* lub = st.lub;
    const std::uint8_t* program = format;
    if (st.flags & SF_FORMAT_TEXT) {
        if (Status s = compile_format(reinterpret_cast<const char*>(format), format_length, &st.compiled)) return s;
        program = st.compiled;
    }
    format_state_begin(lub->fmt, program);
    lub->fmt.compiled = st.compiled != nullptr;
    lub->fmt.scale = 0;
    lub->fmt.sign = SIGN_NONE;
    lub->fmt.blank = lub->blank_null ? BLANK_BN : BLANK_BZ;
    return 0;
}

ElemKind elem_kind_of(std::uint8_t type) {
    if (type >= 5 && type <= 13) {
        // Signed kinds are the odd codes 5, 7, 9, 11; the even codes 6, 8,
        // 10, 12 their unsigned partners; 13 a 4-byte signed integer.
        if (type == 13) return EK_INTEGER;
        return (type & 1) ? EK_INTEGER : EK_UNSIGNED;
    }
    if (type >= 14 && type <= 17) return EK_LOGICAL;
    if (type == 25 || type == 26 || type == 45 || type == 46 || type == 48 || type == 50) return EK_REAL;
    if (type >= 28 && type <= 44) return type_element_size(type) > 0 ? EK_COMPLEX : EK_INVALID;
    if (type == TYPE_CHARACTER) return EK_CHARACTER;
    return EK_INVALID;
}

std::uint8_t complex_part_type(int part_bytes) { return part_bytes == 4 ? TYPE_REAL4 : TYPE_REAL8; }

std::int32_t item_element_length(const Item& item) {
    if (elem_kind_of(item.type) == EK_CHARACTER) {
        if (item.kind == 6 || item.kind == 8) return item.char_length;
        return static_cast<std::int32_t>(item.length);
    }
    return type_element_size(item.type);
}

Status parse_advance(const char* text, std::int32_t length, bool& advancing) {
    while (length > 0 && text[length - 1] == ' ') --length;
    auto is = [&](const char* word) {
        std::int32_t n = static_cast<std::int32_t>(std::strlen(word));
        if (n != length) return false;
        for (std::int32_t i = 0; i < n; ++i) {
            char c = text[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (is("YES")) {
        advancing = true;
        return 0;
    }
    if (is("NO")) {
        advancing = false;
        return 0;
    }
    return status_of(MSG_INVALID_ARGUMENT);
}

namespace {

// The flag-word options the unit keeps for the statement (the error exit
// reads the branch bits from the block).
void take_options(Lub* lub, std::uint32_t flags) { for_copy_statement_options(lub, flags); }

}  // namespace

Status stmt_acquire_unit(Statement& st, int unit, bool for_write) {
    st.internal = false;
    st.unit = unit;
    st.lub = nullptr;
    if (st.no_storage) return status_of(MSG_NO_MEMORY);
    // The internal unit needs its character area: it is reached through the
    // internal_* entry points only.
    if (unit == kInternalUnit) return status_of(MSG_INVALID_ARGUMENT);
    Lub* lub = for_lookup_connected_unit(unit);
    bool opened = false;
    Status s = 0;
    if (!lub) {
        s = for_lookup_unit(unit, for_write ? SK_WRITE : SK_READ, &lub);
        if (s) {
            // The unit could not be had: the error names the unit number
            // and the file "unknown".
            if (lub) for_release_unit(lub);
            st.lub = nullptr;
            return s;
        }
    }
    st.lub = lub;
    take_options(lub, st.flags);
    // The lookup completed a record pending on a connected unit's device;
    // a unit connected now may share a device with a pending record.
    if (!lub->connected) {
        opened = true;
        s = for_implicit_open(lub, ACC_SEQUENTIAL, 4, FORM_FORMATTED);
        if (s) return s;
    }
    if (lub->direct) return status_of(MSG_SEQUENTIAL_TO_DIRECT);
    if (lub->form != FORM_FORMATTED) return status_of(MSG_FORMATTED_TO_UNFORMATTED);
    if (for_write && lub->read_only_by_kind) for_writable_on_first_write(lub);
    if (for_write && lub->read_only) return status_of(MSG_WRITE_READONLY);
    if (opened) {
        s = for_flush_pending(lub, for_write ? SK_WRITE : SK_READ);
        if (s) return s;
    }
    if (for_write) for_output_statement_begin(lub, st.flags);
    return 0;
}

Status stmt_acquire_internal(Statement& st, char* area, std::int32_t record_length, std::int32_t records) {
    st.unit = kInternalUnit;
    if (st.no_storage || !st.internal_block) return status_of(MSG_NO_MEMORY);
    // The block belongs to the statement: an internal statement never takes
    // a lock or touches the unit table.  Only the statement drivers use it:
    // they set what a statement reads of it.
    Lub* lub = st.internal_block;
    lub->unit = kInternalUnit;
    lub->name = nullptr;
    lub->name_length = 0;
    lub->handle = -1;
    lub->system_error = 0;
    lub->device = nullptr;
    lub->connected = true;
    lub->sequential = true;
    lub->form = FORM_FORMATTED;
    lub->record_type = RT_FIXED;
    lub->carriage = CC_NONE;
    lub->delimiter = 0;
    lub->blank_null = true;
    lub->pad_no = false;
    lub->nonadvancing_open = false;
    lub->rec = RecordBuffer{};
    lub->rec.end_mark = -1;
    lub->internal_area = area;
    lub->internal_length = record_length;
    lub->list_width = record_length;
    take_options(lub, st.flags);
    st.internal = true;
    st.lub = lub;
    st.area = area;
    st.area_record_length = record_length < 0 ? 0 : record_length;
    st.area_records = records < 1 ? 1 : records;
    st.area_index = -1;  // no record current yet
    return 0;
}

void stmt_release_unit(Statement& st) {
    if (st.lub && !st.internal) for_release_unit(st.lub);
    st.lub = nullptr;
}

int stmt_finish(Statement& st, Status status) {
    if (st.compiled) {
        release_format(st.compiled);
        st.compiled = nullptr;
    }
    st.kind = STMT_NONE;
    if (status == 0) {
        stmt_release_unit(st);
        return 0;
    }
    Lub* lub = st.lub;
    st.lub = nullptr;
    if (!lub) return for_unit_lookup_failure(status, st.unit, st.flags);
    if (st.internal) return for_handle_io_error(IOERR_KEEP, status, lub);
    return for_handle_io_error(IOERR_RELEASE, status, lub);
}

// ---- records ------------------------------------------------------------

namespace {

// Internal records are the consecutive records of the area; the callers
// check `index` against the record count.
void internal_select(Statement& st, std::int32_t index) {
    RecordBuffer& rec = st.lub->rec;
    rec.buffer = st.area + static_cast<std::int64_t>(index) * st.area_record_length;
    rec.capacity = st.area_record_length;
    rec.size = st.area_record_length;
    rec.recl = st.area_record_length;
    rec.start = 0;
    rec.pos = 0;
    rec.end = st.area_record_length;
    rec.end_mark = 0;
    st.area_index = index;
}

}  // namespace

Status stmt_record_begin(Statement& st) {
    RecordBuffer& rec = st.lub->rec;
    if (st.internal) {
        std::int32_t next = st.area_index + 1;
        // Writing past the last record of the area overflows it.
        if (next >= st.area_records) return status_of(MSG_RECORD_OVERFLOW);
        internal_select(st, next);
        std::memset(rec.buffer, ' ', static_cast<std::size_t>(st.area_record_length));
        return 0;
    }
    Status s = for_begin_output_record(st.lub);
    if (s) return s;
    // Only written characters count for the record's length: the highest
    // written position starts at the record start.
    rec.end_mark = rec.start;
    return 0;
}

Status stmt_record_room(Statement& st, std::int32_t n) {
    RecordBuffer& rec = st.lub->rec;
    if (n <= 0) return 0;
    if (st.internal) {
        if (rec.pos + static_cast<std::int64_t>(n) > rec.end) return status_of(MSG_RECORD_OVERFLOW);
        return 0;
    }
    if (rec.pos + static_cast<std::int64_t>(n) <= rec.end) return 0;
    return for_record_room(st.lub, n);
}

Status stmt_record_put(Statement& st, bool last) {
    RecordBuffer& rec = st.lub->rec;
    if (st.internal) {
        // The record is already in the area; blanks stand where nothing was
        // written.
        return 0;
    }
    if (last) {
        rec.dollar = st.dollar;
        // The position decides the length when no mark is set; the mark is
        // always set while a statement builds a record.
        return for_output_statement_end(st.lub);
    }
    rec.dollar = false;
    return for_put_record(st.lub);
}

Status stmt_record_get(Statement& st) {
    if (st.internal) {
        std::int32_t next = st.area_index + 1;
        if (next >= st.area_records) return status_of(MSG_END_OF_FILE);
        internal_select(st, next);
        return 0;
    }
    return for_get_record(st.lub);
}

}  // namespace forrtl
