// The list-directed WRITE statement: every value gets a field whose
// descriptor depends only on its type, values follow each other on the
// record, and a record is emitted and a new one begun whenever the next value
// would not fit in the record width W.
#include <cstring>

#include "for_io.h"
#include "for_stmt.h"
#include "for_stmt_state.h"
#include "for_wseq_fmt.h"

namespace forrtl {

namespace {

// The descriptor of a value's field by its type, in the default and the
// alternate layout.  Integers get m = 1; reals G with exponent digits.
struct LayoutRow {
    std::uint8_t category;
    std::int16_t w, d, e;
};

// Integers by size (1, 2, 4, 8 bytes).
constexpr LayoutRow kIntegerLayout[2][4] = {
    {{FC_IM, 5, 1, 0}, {FC_IM, 7, 1, 0}, {FC_IM, 12, 1, 0}, {FC_IM, 22, 1, 0}},
    {{FC_IM, 12, 1, 0}, {FC_IM, 12, 1, 0}, {FC_IM, 12, 1, 0}, {FC_IM, 22, 1, 0}},
};
constexpr LayoutRow kLogicalLayout = {FC_L, 2, 0, 0};
// Reals by size (4, 8 bytes).
constexpr LayoutRow kRealLayout[2][2] = {
    {{FC_GE, 15, 7, 2}, {FC_GE, 24, 15, 3}},
    {{FC_GE, 16, 6, 2}, {FC_GE, 25, 15, 3}},
};
// Parts of complex values by part size (4, 8 bytes); the pair is written in
// the shortest form of each part.
constexpr LayoutRow kComplexPartLayout[2] = {{FC_GE, 14, 7, 2}, {FC_GE, 24, 15, 3}};

int size_index(std::int32_t size) {
    switch (size) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return -1;
    }
}

bool alternate(const Statement& st) { return (st.flags & SF_ALT_LIST_LAYOUT) != 0; }
bool carriage(const Statement& st) { return st.lub->carriage == CC_FORTRAN; }

// The record width of the connection.
std::int32_t record_width(const Statement& st) {
    const Lub* lub = st.lub;
    if (st.internal) return st.area_record_length;
    if (lub->list_width > 0) return lub->list_width;
    const bool compat = (st.flags & SF_COMPAT_NUMBERING) != 0;
    if (lub->carriage == CC_FORTRAN) return compat ? 80 : 81;
    return compat ? 79 : 80;
}

// A new record: on a connection with carriage control its first position
// holds the control character and the room counts from the second.
Status start_record(Statement& st) {
    ListOutState& ls = st.list;
    ls.room = ls.width;
    ls.previous = EK_INVALID;
    ls.just_begun = true;
    RecordBuffer& rec = st.lub->rec;
    if (carriage(st)) {
        if (Status s = stmt_record_room(st, 1)) return s;
        rec.buffer[rec.pos++] = ' ';
        stmt_mark_written(st, rec.pos);
        --ls.room;
    }
    if (ls.room > 0) return stmt_record_room(st, ls.room);
    return 0;
}

Status new_record(Statement& st) {
    if (Status s = stmt_record_put(st, false)) return s;
    if (Status s = stmt_record_begin(st)) return s;
    return start_record(st);
}

void put_char(Statement& st, char c) {
    RecordBuffer& rec = st.lub->rec;
    rec.buffer[rec.pos++] = c;
    stmt_mark_written(st, rec.pos);
    --st.list.room;
}

// The edit descriptor of a layout row: G editing with the list-directed
// marker, scale factor 1, the default sign, the statement's option bits.
EditDescriptor list_descriptor(const Statement& st, const LayoutRow& row) {
    EditDescriptor desc{};
    desc.category = row.category;
    desc.w = row.w;
    desc.d = row.d;
    desc.e = row.e;
    desc.scale = 1;
    desc.sign = SIGN_NONE;
    desc.options = st.flags;
    desc.list_directed = true;
    return desc;
}

// One numeric or logical field.
Status put_field(Statement& st, const OutputItem& item, const LayoutRow& row, ElemKind kind) {
    ListOutState& ls = st.list;
    if (ls.room < row.w && !ls.just_begun) {
        if (Status s = new_record(st)) return s;
    }
    if (Status s = stmt_record_room(st, row.w)) return s;
    const EditDescriptor desc = list_descriptor(st, row);
    RecordBuffer& rec = st.lub->rec;
    Status s = edit_output_field(item, desc, rec.buffer + rec.pos);
    if (s) {
        if (status_number(s) != MSG_OUTPUT_CONVERSION) return s;
        st.overflow = true;
    }
    rec.pos += row.w;
    stmt_mark_written(st, rec.pos);
    ls.room -= row.w;
    ls.previous = kind;
    ls.just_begun = false;
    return 0;
}

// A character value: a leading blank at the start of a record, the
// separator and delimiter rules, and splitting over records when it is
// longer than the room.
Status put_character(Statement& st, const char* text, std::int32_t length) {
    ListOutState& ls = st.list;
    const bool standard = (st.flags & SF_STANDARD_RULES) != 0;
    const char delim = standard ? st.lub->delimiter : 0;
    std::int64_t total = length;
    if (delim) {
        total += 2;
        for (std::int32_t i = 0; i < length; ++i)
            if (text[i] == delim) ++total;
    }
    if (!ls.just_begun) {
        bool separate = false;
        if (delim)
            separate = true;
        else if (standard && (ls.previous != EK_CHARACTER && ls.previous != EK_INVALID) &&
                 !(st.flags & SF_COMPACT_LIST))
            separate = true;
        if (total > ls.room) {
            // In the alternate layout the room left takes the leading
            // characters of the value; otherwise the value starts a record.
            if (!alternate(st)) {
                if (Status s = new_record(st)) return s;
            } else if (separate && ls.room > 0) {
                put_char(st, ' ');
            }
        } else if (separate && ls.room >= total + 1) {
            put_char(st, ' ');
        }
    }
    // Copies one character, beginning a new record (with its leading blank)
    // when the room is used up.
    auto put = [&st, &ls](char c) -> Status {
        if (ls.room <= 0) {
            if (Status s = new_record(st)) return s;
            if (ls.room <= 0) return status_of(MSG_RECORD_OVERFLOW);
        }
        if (ls.just_begun) {
            ls.just_begun = false;
            if (!carriage(st) && ls.room > 1) put_char(st, ' ');
        }
        put_char(st, c);
        return 0;
    };
    if (length == 0 && !delim) {
        // An empty value still counts as a value on the record.
        if (ls.just_begun && !carriage(st) && ls.room > 0) put_char(st, ' ');
        ls.just_begun = false;
    }
    if (delim)
        if (Status s = put(delim)) return s;
    for (std::int32_t i = 0; i < length; ++i) {
        if (Status s = put(text[i])) return s;
        if (delim && text[i] == delim)
            if (Status s = put(delim)) return s;
    }
    if (delim)
        if (Status s = put(delim)) return s;
    ls.previous = EK_CHARACTER;
    return 0;
}

// The shortest form of a real part: its G field without the blanks around.
Status edit_part(Statement& st, const OutputItem& item, const LayoutRow& row, char* out, std::int32_t& length) {
    char field[64];
    const EditDescriptor desc = list_descriptor(st, row);
    Status s = edit_output_field(item, desc, field);
    if (s) {
        if (status_number(s) != MSG_OUTPUT_CONVERSION) return s;
        st.overflow = true;
    }
    std::int32_t first = 0, last = row.w;
    while (first < last && field[first] == ' ') ++first;
    while (last > first && field[last - 1] == ' ') --last;
    length = last - first;
    std::memcpy(out, field + first, static_cast<std::size_t>(length));
    return 0;
}

Status put_complex(Statement& st, const Element& el) {
    ListOutState& ls = st.list;
    const std::int32_t part = el.length / 2;
    const LayoutRow& row = kComplexPartLayout[part == 4 ? 0 : 1];
    char re[64], im[64];
    std::int32_t re_length = 0, im_length = 0;
    const char* base = static_cast<const char*>(el.address);
    if (Status s = edit_part(st, OutputItem{el.type, base, part}, row, re, re_length)) return s;
    if (Status s = edit_part(st, OutputItem{el.type, base + part, part}, row, im, im_length)) return s;
    std::int32_t lead = 1;
    if (alternate(st)) {
        lead = 2 * row.w + 2 - (re_length + im_length + 3);
        if (lead < 1) lead = 1;
    }
    const std::int32_t first = lead + re_length + 2;  // blanks ( re ,
    if (!ls.just_begun && first > ls.room) {
        if (Status s = new_record(st)) return s;
    }
    if (Status s = stmt_record_room(st, first)) return s;
    for (std::int32_t i = 0; i < lead; ++i) put_char(st, ' ');
    put_char(st, '(');
    for (std::int32_t i = 0; i < re_length; ++i) put_char(st, re[i]);
    put_char(st, ',');
    ls.just_begun = false;
    if (im_length + 1 > ls.room) {
        if (Status s = new_record(st)) return s;
        if (Status s = stmt_record_room(st, 1)) return s;
        put_char(st, ' ');
        ls.just_begun = false;
    }
    if (Status s = stmt_record_room(st, im_length + 1)) return s;
    for (std::int32_t i = 0; i < im_length; ++i) put_char(st, im[i]);
    put_char(st, ')');
    ls.previous = EK_COMPLEX;
    return 0;
}

Status write_element(Statement& st, const Element& el) {
    const int alt = alternate(st) ? 1 : 0;
    OutputItem item{el.type, el.address, el.length};
    switch (el.ekind) {
    case EK_INTEGER:
    case EK_UNSIGNED: {
        int index = size_index(el.length);
        if (index < 0) return status_of(MSG_INVALID_ARGUMENT);
        return put_field(st, item, kIntegerLayout[alt][index], el.ekind);
    }
    case EK_LOGICAL:
        return put_field(st, item, kLogicalLayout, el.ekind);
    case EK_REAL:
        if (el.length != 4 && el.length != 8) return status_of(MSG_INVALID_ARGUMENT);
        return put_field(st, item, kRealLayout[alt][el.length == 4 ? 0 : 1], el.ekind);
    case EK_COMPLEX:
        if (el.length != 8 && el.length != 16) return status_of(MSG_INVALID_ARGUMENT);
        return put_complex(st, el);
    case EK_CHARACTER:
        return put_character(st, static_cast<const char*>(el.address), el.length);
    default:
        return status_of(MSG_INVALID_ARGUMENT);
    }
}

// The end of the statement: the last record is emitted (an empty one when
// nothing was written; a single blank in the alternate layout), then an
// overflowed field is reported.
int finish(Statement& st) {
    Status s = st.pending;
    if (!s && alternate(st) && st.list.just_begun && st.lub->rec.end_mark <= st.lub->rec.start) {
        if (!(s = stmt_record_room(st, 1))) put_char(st, ' ');
    }
    if (!s) s = stmt_record_put(st, true);
    if (!s && st.overflow) s = status_of(MSG_OUTPUT_CONVERSION);
    return stmt_finish(st, s);
}

int transfer(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    ItemCursor cursor{items, args};
    for (;;) {
        Item item;
        Status s = read_item_descriptor(cursor, item);
        if (s) return stmt_finish(st, s);
        if (item.type == ITEM_END_OF_LIST) return finish(st);
        if (item.type == ITEM_MORE_LATER) return 0;
        // After a failed record write the statement writes no further values.
        if (st.pending) continue;
        s = for_each_element(item, [&st](const Element& el) { return write_element(st, el); });
        if (s) {
            unsigned n = status_number(s);
            // A record that could not be written is reported at the end.
            if (n == MSG_WRITE_ERROR) {
                st.pending = s;
                continue;
            }
            return stmt_finish(st, s);
        }
    }
}

int begin_on_unit(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    st.list.width = record_width(st);
    if (Status s = stmt_record_begin(st)) return stmt_finish(st, s);
    if (Status s = start_record(st)) return stmt_finish(st, s);
    return transfer(st, items, args);
}


}  // namespace

int list_write_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_LIST_WRITE, flags);
    if (Status s = stmt_acquire_unit(st, unit, true)) return stmt_leave(st, stmt_finish(st, s), items);
    st.lub->nonadvancing_open = false;
    return stmt_leave(st, begin_on_unit(st, items, args), items);
}

int list_write_item(const std::uint8_t* items, const ArgWord* args) {
    Statement* st = stmt_item_call(STMT_LIST_WRITE, items);
    if (!st) return 0;
    return stmt_leave(*st, transfer(*st, items, args), items);
}

int internal_list_write_begin(char* area, std::int32_t record_length, std::int32_t records, std::uint32_t flags,
                              const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_LIST_WRITE, flags);
    if (Status s = stmt_acquire_internal(st, area, record_length, records))
        return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, items, args), items);
}

}  // namespace forrtl
