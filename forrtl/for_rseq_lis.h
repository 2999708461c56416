// List-directed input: the scanner that finds values in free-form records
// and stores them into items by their types.
//
// The scanner reads its records through a small source that the statement
// driver supplies (the unit's record layer, an internal file, or a table
// of lines in a test), so it knows nothing about units.  Each value it
// finds is one edit with a repeat count: a value, a null value or the
// slash; the value is converted by the input editing of for_rseq_fmt.
//
// One statement: list_scan_begin (reads the first record), list_scan_item
// once per element (arrays element by element, complex values as one
// element), list_scan_end.  The statement entries list_read_begin and
// list_read_item (for_stmt.h) find the unit, keep a ListReadState for the
// statement, give it the unit's record layer as its source and call these
// for each element of each item.  The first failure stops the statement: the
// items satisfied before it keep their new values, later calls return the
// same status without touching their items.
#pragma once

#include <cstdint>

#include "for_rseq_fmt.h"
#include "for_status.h"

namespace forrtl {

// The source of records.  `next_record` makes the next record current and
// stores its text and length; it returns 0, or the failure (24 at end of
// file).  The text stays valid until the next call or the end of the
// statement.
struct ListRecordSource {
    Status (*next_record)(void* context, const char** data, std::int32_t* length);
    void* context;
};

// Largest quoted or undelimited character value, and the buffer that holds
// a quoted one (quotes removed, doubled quotes made single).
constexpr std::int32_t kListStringMax = 2049;
constexpr std::int32_t kListStringBuffer = 2050;

enum ListValueKind : std::uint8_t {
    LV_NULL = 0,
    LV_SLASH,
    LV_LOGICAL,
    LV_NUMBER,
    LV_STRING,     // quoted (in the string buffer) or undelimited (in the record)
    LV_COMPLEX,    // the two part tokens in the string buffer
};

// The scan state of one list-directed READ statement.
struct ListReadState {
    ListRecordSource source;
    bool standard_rules;  // statement flag bit 18

    // Current record.
    const char* record;
    std::int32_t length;
    std::int32_t pos;
    std::int32_t records;  // records read by the statement

    // Separator state.
    bool comma_seen;            // a comma was consumed since the previous value
    bool new_record;            // no value or comma taken from this record yet
    bool previous_nonblank;     // the previous record held a non-blank character
    bool previous_comma;        // ... and its last non-blank character was a comma

    // The current value and how many more items it serves.
    ListValueKind kind;
    bool logical_value;
    bool has_point;             // number shape
    bool has_exponent;
    // A plain number ([sign] digits [. digits] [letter [sign] digits], at
    // most 19 significant digits) as collected while scanning it:
    // (-1)^negative * mantissa * 10^exp10.
    bool plain;
    bool plain_negative;
    std::uint64_t plain_mantissa;
    std::int32_t plain_exp10;
    const char* token;          // number, undelimited string or quoted string text
    std::int32_t token_length;
    std::int32_t part2_offset;  // complex: second part token in the string buffer
    std::int32_t part2_length;
    bool part2_point, part2_exponent;
    std::int32_t repeat;        // items still to serve after the current one

    bool ended;                 // a slash ended the statement
    Status error;               // first failure, returned by every later call

    char string_buffer[kListStringBuffer];
};

// Starts a statement: clears the state and reads the first record.
// `flags` is the statement flag word (bit 18, the standard-rules option,
// matters here).
Status list_scan_begin(ListReadState& state, std::uint32_t flags, const ListRecordSource& source);

// Satisfies one element: from a pending repeat count, or by scanning the
// next value (reading records as needed); then converts it by the item's
// type.  After a slash the item keeps its value and 0 is returned.
Status list_scan_item(ListReadState& state, const InputItem& item);

// Ends the statement; the rest of the current record is not looked at.
// Returns the statement's first failure (0 when none).
Status list_scan_end(ListReadState& state);

}  // namespace forrtl
