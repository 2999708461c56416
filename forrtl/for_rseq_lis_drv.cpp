// The list-directed READ statement: the scanner of list-directed input reads
// its records through the unit's record layer (or the internal file), and
// each element of each item takes one value.  The first failure (59, 64, 24,
// or a failed read) ends the statement through the common exit; the items
// satisfied before it keep their new values.
#include "for_io.h"
#include "for_prepared.h"
#include "for_rseq_lis.h"
#include "for_stmt.h"
#include "for_stmt_state.h"

namespace forrtl {

namespace {

Status next_record(void* context, const char** data, std::int32_t* length) {
    Statement& st = *static_cast<Statement*>(context);
    if (Status s = stmt_record_get(st)) return s;
    const RecordBuffer& rec = st.lub->rec;
    *data = rec.buffer + rec.start;
    *length = rec.end - rec.start;
    return 0;
}

int finish(Statement& st, Status s) {
    Status end = list_scan_end(*st.scan);
    if (!s) s = end;
    return stmt_finish(st, s);
}

int transfer(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    ItemCursor cursor{items, args};
    for (;;) {
        Item item;
        Status s = read_item_descriptor(cursor, item);
        if (s) return finish(st, s);
        if (item.type == ITEM_END_OF_LIST) return finish(st, 0);
        if (item.type == ITEM_MORE_LATER) return 0;
        s = for_each_element(item, [&st](const Element& el) {
            return list_scan_item(*st.scan, InputItem{el.type, el.address, el.length});
        });
        if (s) return finish(st, s);
    }
}

// The scan begins on the next record (its failure ends the scan).
Status start_scan(Statement& st) {
    // Whatever is left of a record a non-advancing READ kept open is not
    // looked at: the statement starts on a new record.
    st.lub->nonadvancing_open = false;
    Status s = list_scan_begin(*st.scan, st.flags, ListRecordSource{next_record, &st});
    if (s) list_scan_end(*st.scan);
    return s;
}

int begin_on_unit(Statement& st, const std::uint8_t* items, const ArgWord* args) {
    if (Status s = start_scan(st)) return stmt_finish(st, s);
    return transfer(st, items, args);
}


}  // namespace

int prepared_list_read(int unit, std::uint32_t flags, const ReadElement* elements, std::int32_t count) {
    Statement& st = stmt_begin(STMT_LIST_READ, flags);
    if (Status s = stmt_acquire_unit(st, unit, false)) return stmt_leave(st, stmt_finish(st, s), kAllItemsTaken);
    if (Status s = start_scan(st)) return stmt_leave(st, stmt_finish(st, s), kAllItemsTaken);
    Status s = 0;
    for (std::int32_t i = 0; i < count && !s; ++i) s = list_scan_item(*st.scan, elements[i].item);
    return stmt_leave(st, finish(st, s), kAllItemsTaken);
}

int list_read_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_LIST_READ, flags);
    if (Status s = stmt_acquire_unit(st, unit, false)) return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, items, args), items);
}

int list_read_item(const std::uint8_t* items, const ArgWord* args) {
    Statement* st = stmt_item_call(STMT_LIST_READ, items);
    if (!st) return 0;
    return stmt_leave(*st, transfer(*st, items, args), items);
}

int internal_list_read_begin(const char* area, std::int32_t record_length, std::int32_t records,
                             std::uint32_t flags, const std::uint8_t* items, const ArgWord* args) {
    Statement& st = stmt_begin(STMT_LIST_READ, flags);
    if (Status s = stmt_acquire_internal(st, const_cast<char*>(area), record_length, records))
        return stmt_leave(st, stmt_finish(st, s), items);
    return stmt_leave(st, begin_on_unit(st, items, args), items);
}

}  // namespace forrtl
