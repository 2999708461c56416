// The state of one formatted or list-directed statement, shared by the
// statement drivers (formatted WRITE and READ, list-directed WRITE and READ)
// and the record steps they take on the unit.
//
// A statement is a begin call, item calls and the end-of-list marker; the
// item calls find the statement begun last on the calling thread.  A
// function referenced in an item list may run statements of its own between
// two item calls, so each thread keeps a stack of statement states: a begin
// call pushes one, and the statement keeps it until its caller is done with
// it.  The states are kept for reuse, so that no statement allocates.
#pragma once

#include <cstdint>

#include "for_desc_item.h"
#include "for_format.h"
#include "for_lub.h"
#include "for_status.h"

namespace forrtl {

struct ListReadState;

enum StmtKind : std::uint8_t {
    STMT_NONE = 0,  // no statement, or the statement has ended
    STMT_FMT_WRITE,
    STMT_FMT_READ,
    STMT_LIST_WRITE,
    STMT_LIST_READ,
};

// Families by which items are edited.
enum ElemKind : std::uint8_t {
    EK_INVALID = 0,
    EK_INTEGER,
    EK_UNSIGNED,
    EK_LOGICAL,
    EK_REAL,
    EK_COMPLEX,
    EK_CHARACTER,
};

// The family of a type code (EK_INVALID for terminators and unknown codes).
ElemKind elem_kind_of(std::uint8_t type);

// Type code of one part of a complex element (4- or 8-byte real).
std::uint8_t complex_part_type(int part_bytes);

// One element of an item: what the editing operations work on.
struct Element {
    std::uint8_t type;   // type code (a complex element is passed part by part as reals)
    ElemKind ekind;
    void* address;
    std::int32_t length; // bytes (characters for character elements)
};

// The list-directed output state of one statement.
struct ListOutState {
    std::int32_t width;      // record width W
    std::int32_t room;       // room left on the current record
    std::uint8_t previous;   // family of the last value on this record, EK_INVALID for none
    bool just_begun;         // nothing has been written on this record yet
};

struct Statement {
    StmtKind kind;
    bool internal;        // the internal unit: records in a character buffer
    bool advancing;       // false for ADVANCE='NO'
    bool overflow;        // a field overflowed: 63 after the records are written
    bool have_data;       // a data descriptor of the format is current
    bool dollar;          // the statement's last record gets no terminator
    bool eor;             // non-advancing READ ran into the end of its record
    Status pending;       // list WRITE: a failed record write, reported at the end
    Lub* lub;
    std::int32_t unit;    // the unit number the statement names
    std::uint32_t flags;  // the statement flag word
    std::uint8_t* compiled;  // format program compiled from run-time text
    std::int64_t transferred;  // characters taken by data edits (SIZE=)
    void* size_address;        // SIZE= item of a non-advancing READ
    std::int32_t size_bytes;
    ListOutState list;
    // Internal unit: the character area, its record length and record count,
    // and the index of the current record.
    char* area;
    std::int32_t area_record_length;
    std::int32_t area_records;
    std::int32_t area_index;
    // Storage that belongs to this statement for its lifetime: the block of
    // the internal unit (internal statements), the scan state (list-directed
    // READ).  Null when no storage could be had for a nested statement.
    Lub* internal_block;
    ListReadState* scan;
    bool no_storage;  // no state could be had for a nested statement: its unit steps fail with 41
};

// The statement begun last on this thread that its caller is not done
// with, or null.
Statement* current_statement();

// Starts a statement of `kind` on a fresh state pushed on this thread's
// stack.  When no storage can be had for the state of a nested statement,
// the statement's unit steps fail with 41.
Statement& stmt_begin(StmtKind kind, std::uint32_t flags);

// Starts a statement whose state the caller keeps for the one call it takes
// (a prepared statement: it is given all its items at once and takes no
// item calls, so the thread's stack need not hold it).  It has no storage
// of its own: it runs on file units only.
void stmt_begin_local(Statement& st, StmtKind kind, std::uint32_t flags);

// The item list of a call that takes all of a statement's items at once:
// it ends there.
inline constexpr std::uint8_t kAllItemsTaken[2] = {ITEM_END_OF_LIST, 0};

// Ends one call of a statement's entry point and returns `result`.  A
// statement that has ended leaves the stack when its caller makes no
// further call for it: the call's item list reached its end (terminator 1),
// or the result is one a branch of the statement takes (error branch: any
// result but 0; end branch: -1; end-of-record branch: -2).  Otherwise the
// caller goes on with the item calls of the statement, which the ended
// statement takes without doing anything.
int stmt_leave(Statement& st, int result, const std::uint8_t* items);

// An item call for `kind`: the statement on top of the stack when it is a
// running statement of that kind, else null.  A call for an ended statement
// does nothing (and takes it off the stack with its last call); a call that
// matches no statement does nothing.
Statement* stmt_item_call(StmtKind kind, const std::uint8_t* items);

// Formatted statements: compiles run-time format text (flag bit 3) and
// resets the unit's format state with the per-statement modes (scale 0,
// default sign, blank mode from the connection's BLANK=).
Status stmt_format_begin(Statement& st, const std::uint8_t* format, std::int32_t format_length);

// ADVANCE= text: sets `advancing`; anything but YES or NO (any case,
// trailing blanks ignored) is error 48.
Status parse_advance(const char* text, std::int32_t length, bool& advancing);

// Unit steps of a statement.  `for_write` selects the WRITE checks.
Status stmt_acquire_unit(Statement& st, int unit, bool for_write);
// Sets up the statement's own internal-unit block over a character area of
// `records` records of `record_length` characters.  41 when the statement
// has no storage.
Status stmt_acquire_internal(Statement& st, char* area, std::int32_t record_length,
                             std::int32_t records);
void stmt_release_unit(Statement& st);

// Ends the statement: releases the unit and, for a failure, takes the common
// exit.  Returns the statement's result.
int stmt_finish(Statement& st, Status status);

// Record steps.  Output: a new blank record (highest written position at its
// start), room for n characters beyond the current position, and emission of
// the current record up to its highest written position.  Input: the next
// record becomes current.
Status stmt_record_begin(Statement& st);
Status stmt_record_room(Statement& st, std::int32_t n);
Status stmt_record_put(Statement& st, bool last);
Status stmt_record_get(Statement& st);

// Marks output up to position `to` as written.
inline void stmt_mark_written(Statement& st, std::int32_t to) {
    if (to > st.lub->rec.end_mark) st.lub->rec.end_mark = to;
}

// Visits every element of an item in storage order: f(Element&) -> Status.
// A complex element is one element; the drivers split it into parts.
template <class F>
Status for_each_element(const Item& item, F&& f);

// ---- implementation of the template ----

std::int32_t item_element_length(const Item& item);

template <class F>
Status for_each_element(const Item& item, F&& f) {
    Element el;
    el.type = item.type;
    el.ekind = elem_kind_of(item.type);
    if (el.ekind == EK_INVALID) return status_of(MSG_INVALID_ARGUMENT);
    el.length = item_element_length(item);
    if (el.length <= 0 && el.ekind != EK_CHARACTER) return status_of(MSG_INVALID_ARGUMENT);
    char* base = static_cast<char*>(item.address);
    if (item.kind == 7 || item.kind == 8) {
        int rank = item.rank;
        if (rank <= 0 || rank > kMaxRank) return status_of(MSG_INTERNAL_CHECK);
        std::int64_t index[kMaxRank];
        for (int i = 0; i < rank; ++i) {
            if (item.dims[i].upper < item.dims[i].lower) return 0;
            index[i] = item.dims[i].lower;
        }
        for (;;) {
            std::int64_t offset = 0;
            for (int i = 0; i < rank; ++i) offset += (index[i] - item.dims[i].lower) * item.dims[i].stride;
            el.address = base + offset;
            Status s = f(el);
            if (s) return s;
            int i = 0;
            while (i < rank && ++index[i] > item.dims[i].upper) {
                index[i] = item.dims[i].lower;
                ++i;
            }
            if (i == rank) return 0;
        }
    }
    std::int64_t count = 1;
    if (item.kind == 5 || item.kind == 6) count = el.length > 0 ? item.length / el.length : 0;
    for (std::int64_t i = 0; i < count; ++i) {
        el.address = base + i * el.length;
        Status s = f(el);
        if (s) return s;
    }
    return 0;
}

}  // namespace forrtl
