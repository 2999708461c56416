// OPEN: the keyword list, the connection of a unit (name, file, record
// layout, device node), OPEN of a connected unit, and the implicit OPEN of
// a unit's first transfer.
#include <errno.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_open_params.h"
#include "for_units.h"
#include "for_wbuf.h"

namespace forrtl {

namespace {

struct ValueEntry {
    const char* text;
    int code;
};

const ValueEntry kAccess[] = {{"SEQUENTIAL", 1}, {"DIRECT", 2}, {"APPEND", 3}, {"KEYED", 4}};
const ValueEntry kBlank[] = {{"ZERO", 1}, {"NULL", 2}};
const ValueEntry kCarriage[] = {{"FORTRAN", 1}, {"LIST", 2}, {"NONE", 3}};
const ValueEntry kDispose[] = {{"SAVE", 1},   {"KEEP", 1},   {"DELETE", 2},        {"PRINT", 3},
                               {"SUBMIT", 4}, {"PRINT/DELETE", 5}, {"SUBMIT/DELETE", 6}};
const ValueEntry kForm[] = {{"FORMATTED", 1}, {"UNFORMATTED", 2}, {"BINARY", 4}};
const ValueEntry kOrganization[] = {{"SEQUENTIAL", 1}, {"RELATIVE", 2}, {"INDEXED", 3}};
const ValueEntry kRecordType[] = {{"FIXED", 1},  {"VARIABLE", 2},  {"SEGMENTED", 3},
                                  {"STREAM", 5}, {"STREAM_LF", 6}, {"STREAM_CR", 7}};
const ValueEntry kStatus[] = {{"OLD", 1}, {"NEW", 2}, {"SCRATCH", 3}, {"UNKNOWN", 4}, {"REPLACE", 5}};
const ValueEntry kConvert[] = {{"BIG_ENDIAN", 1}, {"LITTLE_ENDIAN", 2}, {"VAXD", 3}, {"VAXG", 4}, {"IBM", 5},
                               {"CRAY", 6},       {"FDX", 7},           {"FGX", 8},  {"NATIVE", 9}};
const ValueEntry kAction[] = {{"READ", 1}, {"READWRITE", 2}, {"WRITE", 3}};
const ValueEntry kDelim[] = {{"APOSTROPHE", 1}, {"NONE", 2}, {"QUOTE", 3}};
const ValueEntry kPad[] = {{"NO", 1}, {"YES", 2}};
const ValueEntry kPosition[] = {{"APPEND", 1}, {"ASIS", 2}, {"REWIND", 3}};
const ValueEntry kShare[] = {{"COMPAT", 1}, {"DENYNONE", 2}, {"DENYRD", 3}, {"DENYRW", 4}, {"DENYWR", 5}};

struct ValueTable {
    std::uint8_t keyword;
    const ValueEntry* entries;
    int count;
    unsigned compat_message;  // replaces 48 for an out-of-range code under compatibility numbering
};

#define TABLE(kw, arr, msg) {kw, arr, static_cast<int>(sizeof arr / sizeof arr[0]), msg}
const ValueTable kTables[] = {
    TABLE(KW_ACCESS, kAccess, 572),       TABLE(KW_BLANK, kBlank, 573),
    TABLE(KW_CARRIAGECONTROL, kCarriage, 754), TABLE(KW_DISPOSE, kDispose, 48),
    TABLE(KW_FORM, kForm, 574),           TABLE(KW_ORGANIZATION, kOrganization, 48),
    TABLE(KW_RECORDTYPE, kRecordType, 48), TABLE(KW_STATUS, kStatus, 570),
    TABLE(KW_CONVERT, kConvert, 48),      TABLE(KW_ACTION, kAction, 749),
    TABLE(KW_DELIM, kDelim, 751),         TABLE(KW_PAD, kPad, 753),
    TABLE(KW_POSITION, kPosition, 748),   TABLE(KW_MODE, kAction, 571),
    TABLE(KW_SHARE, kShare, 575),
};
#undef TABLE

const ValueTable* table_of(std::uint8_t keyword) {
    for (const ValueTable& t : kTables)
        if (t.keyword == keyword) return &t;
    return nullptr;
}

int integer_size(std::uint8_t type) {
    switch (type) {
        case 5: case 6: case 14: return 1;
        case 7: case 8: case 15: return 2;
        case 9: case 10: case 13: case 16: return 4;
        case 11: case 12: case 17: return 8;
        default: return 0;
    }
}

std::int64_t load_integer(const void* address, int size) {
    switch (size) {
        case 1: { std::int8_t v; std::memcpy(&v, address, 1); return v; }
        case 2: { std::int16_t v; std::memcpy(&v, address, 2); return v; }
        case 4: { std::int32_t v; std::memcpy(&v, address, 4); return v; }
        default: { std::int64_t v; std::memcpy(&v, address, 8); return v; }
    }
}

void set_int(int& field, std::int64_t v) { field = static_cast<int>(v); }

// FORT_CONVERTn overrides CONVERT for unit n.
Status convert_override(Lub* lub, int& convert) {
    char var[40];
    std::snprintf(var, sizeof var, "FORT_CONVERT%d", lub->unit);
    const char* value = std::getenv(var);
    if (!value) return 0;
    char text[21];
    int n = 0;
    for (; n < 20 && value[n]; ++n) text[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(value[n])));
    text[n] = '\0';
    static const ValueEntry kNames[] = {{"NATIVE", 9}, {"BIG_ENDIAN", 1}, {"VAXD", 3},          {"VAXG", 4}, {"FDX", 7},
                                        {"FGX", 8},    {"LITTLE_ENDIAN", 2}, {"IBM", 5}, {"CRAY", 6}};
    for (const ValueEntry& e : kNames) {
        if (std::strcmp(e.text, text) == 0) {
            convert = e.code;
            return 0;
        }
    }
    return status_of(MSG_INCONSISTENT_OPEN_CLOSE);
}

// The consistency of the record layout keywords, checked before anything is
// opened so that a refused OPEN leaves no new file behind.
Status check_layout(const Lub* lub, const OpenParams& p) {
    const bool compat = lub->compat_numbering;
    const bool formatted = lub->form == FORM_FORMATTED;
    if (p.recl_given) {
        if (p.recl < 1 || p.recl > (INT32_MAX - 64) / 4) return status_of(compat ? 581u : unsigned(MSG_INCONSISTENT_RECL));
    } else if (p.recordtype == RT_FIXED || lub->direct || lub->keyed) {
        return status_of(compat ? 577u : unsigned(MSG_INCONSISTENT_RECL));
    }
    if (!formatted && (p.delim || p.pad))
        return status_of(compat ? (p.delim ? 750u : 752u) : unsigned(MSG_INCONSISTENT_OPEN_CLOSE));
    return 0;
}

Status set_layout(Lub* lub, const OpenParams& p) {
    const bool compat = lub->compat_numbering;
    const bool formatted = lub->form == FORM_FORMATTED;
    lub->blank_null = p.blank ? p.blank == 2 : !lub->alt_defaults;

    int type = p.recordtype;
    if (!type) {
        if (lub->direct || lub->keyed) type = RT_FIXED;
        else if (lub->form == FORM_BINARY || (formatted && p.carriage == CC_NONE)) type = RT_STREAM;
        else if (!formatted) type = RT_LENGTH_WORD;
        else type = RT_STREAM_LF;
    }
    if (type == RT_VARIABLE && !formatted) type = RT_LENGTH_WORD;
    lub->record_type = static_cast<RecordType>(type);

    int carriage = p.carriage;
    if (!carriage) {
        if (!formatted || type == RT_FIXED) carriage = CC_NONE;
        else if (lub->char_device && lub->alt_defaults) carriage = CC_FORTRAN;
        else carriage = CC_LIST;
        if (compat && formatted && lub->direct) carriage = CC_LIST;
    }
    lub->carriage = static_cast<CarriageControl>(carriage);

    std::int64_t recl = 0;
    std::int64_t bytes = 0;
    if (p.recl_given) {
        recl = p.recl;
        bytes = formatted ? recl : recl * 4;
    } else {
        if (formatted) recl = compat ? 1024 : 132;
        else if (lub->form == FORM_BINARY) recl = 65536 / 4;
        else recl = 510;
        bytes = formatted ? recl : recl * 4;
        lub->recl_defaulted = true;
    }
    lub->delimiter = p.delim == 1 ? '\'' : p.delim == 3 ? '"' : '\0';
    lub->pad_no = p.pad == 1;

    lub->rec.recl = static_cast<std::int32_t>(recl);
    int overhead = type == RT_SEGMENTED ? 4 : type == RT_LENGTH_WORD ? 8
                   : ((type == RT_STREAM_LF || type == RT_STREAM_CR) && carriage == CC_NONE) ? 1 : 0;
    lub->rec.size = static_cast<std::int32_t>(bytes + overhead);
    std::int64_t capacity = kRecordFront + bytes + kRecordBack;
    lub->rec.buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(capacity)));
    if (!lub->rec.buffer) return status_of(MSG_NO_MEMORY);
    lub->rec.capacity = static_cast<std::int32_t>(capacity);
    std::memset(lub->rec.buffer, formatted ? ' ' : '\0', static_cast<std::size_t>(capacity));
    lub->rec.end_mark = -1;

    if (p.recl_given) lub->list_width = static_cast<std::int32_t>(recl);
    else if (carriage == CC_FORTRAN) lub->list_width = (compat ? 80 : 81) + (type != RT_FIXED ? 4 : 0);
    else lub->list_width = compat ? 79 : 80;
    return 0;
}

// Removes a temporary file made for a connection that is not made.
void discard_scratch(const ResolvedName* resolved) {
    if (!resolved || resolved->scratch_fd < 0) return;
    close(resolved->scratch_fd);
    unlink(resolved->name);
}

Status connect_unit(Lub* lub, const OpenParams& p_in, const ResolvedName* resolved) {
    OpenParams p = p_in;
    if (Status s = convert_override(lub, p.convert)) {
        discard_scratch(resolved);
        return s;
    }
    lub->conversion = static_cast<std::uint8_t>(p.convert ? p.convert : 9);
    int access = p.access ? p.access : ACC_SEQUENTIAL;
    lub->access = static_cast<AccessKind>(access == ACC_APPEND ? ACC_SEQUENTIAL : access);
    lub->direct = access == ACC_DIRECT;
    lub->keyed = access == ACC_KEYED;
    lub->append = access == ACC_APPEND;
    lub->sequential = !lub->direct && !lub->keyed;
    lub->form = static_cast<std::uint8_t>(p.form ? p.form : (lub->sequential ? FORM_FORMATTED : FORM_UNFORMATTED));
    lub->status_kept = static_cast<std::uint8_t>(p.status);
    lub->position = static_cast<std::uint8_t>(p.position);
    lub->share = static_cast<std::uint8_t>(p.share);
    lub->organization = static_cast<std::uint8_t>(p.organization ? p.organization : 1);
    lub->dispose = static_cast<std::uint8_t>(p.dispose ? p.dispose : (p.status == ST_SCRATCH ? DISP_DELETE : DISP_KEEP));
    if (p.status == ST_SCRATCH && (p.dispose == DISP_KEEP)) {
        discard_scratch(resolved);
        return status_of(MSG_INCONSISTENT_OPEN_CLOSE);
    }

    if (Status s = check_layout(lub, p)) {
        discard_scratch(resolved);
        return s;
    }
    ResolvedName local;
    if (!resolved) {
        if (Status s = resolve_file_name(lub, p, local)) return s;
        resolved = &local;
    }
    lub->name = static_cast<char*>(std::malloc(static_cast<std::size_t>(resolved->length) + 1));
    if (!lub->name) {
        discard_scratch(resolved);
        return status_of(MSG_NO_MEMORY);
    }
    std::memcpy(lub->name, resolved->name, static_cast<std::size_t>(resolved->length) + 1);
    lub->name_length = static_cast<std::uint16_t>(resolved->length);

    if (Status s = open_connection(lub, p, *resolved)) {
        if (lub->handle != resolved->scratch_fd) discard_scratch(resolved);
        return s;
    }
    if (Status s = set_layout(lub, p)) return s;
    if (lub->form == FORM_FORMATTED) {
        if (Status s = for_attach_device(lub)) return s;
    }
    // A named pipe is no disk file: it is neither positioned nor truncated.
    const bool disk =
        !lub->window_unit && !lub->std_handle && !lub->char_device && lub->seekable && lub->device_code == -1;
    if (disk && (p.position == 1 || lub->append)) {
        off_t end = lseek(lub->handle, 0, SEEK_END);
        if (end < 0) {
            lub->system_error = errno;
            return status_of(MSG_SEEK_REQUIRED);
        }
        if (lub->record_type == RT_FIXED) {
            // Append after the last whole record.
            off_t record = lub->form == FORM_FORMATTED ? lub->rec.recl : off_t(lub->rec.recl) * 4;
            if (record > 0 && end % record != 0 && lseek(lub->handle, end - end % record, SEEK_SET) < 0) {
                lub->system_error = errno;
                return status_of(MSG_SEEK_REQUIRED);
            }
        }
    }
    // Writing a file that already existed leaves none of its old contents
    // behind the new records.  Direct access writes records in place and
    // never truncates.
    if (disk && !lub->append && p.position != 1 && !lub->direct && !lub->keyed) lub->truncate_on_write = true;
    lub->records = 1;
    for_wbuf_attach(lub);
    return 0;
}

void copy_options(Lub* lub, std::uint32_t flags) {
    lub->options = flags;
    lub->error_branch = (flags & SF_ERROR_BRANCH) != 0;
    lub->end_branch = (flags & SF_END_BRANCH) != 0;
    lub->eor_branch = (flags & SF_EOR_BRANCH) != 0;
    lub->alt_defaults = (flags & SF_ALT_DEFAULTS) != 0;
    lub->compat_numbering = (flags & SF_COMPAT_NUMBERING) != 0;
    lub->prompt_names = (flags & SF_PROMPT_NAMES) != 0;
}

}  // namespace

Status read_keyword_entry(ItemCursor& cursor, KeywordEntry& e) {
    e = KeywordEntry{};
    ItemCursor at = cursor;
    Item item;
    std::uint8_t keyword = 0;
    if (Status s = next_keyword_item(at, item, keyword)) return s;
    e.type = item.type;
    e.kind = item.kind;
    e.code = keyword;
    if (item.type == ITEM_END_OF_LIST || item.type == ITEM_MORE_LATER) {
        e.end = true;
        return 0;
    }
    if (item.type == TYPE_CHARACTER) {
        // A character value is a scalar: length and address.
        if (item.kind != 4) return status_of(MSG_INVALID_ARGUMENT);
        e.length = item.length;
        e.address = item.address;
    } else {
        // Integer and logical scalars only, inline or by address.
        const int size = integer_size(item.type);
        if (size == 0 || (item.kind != 1 && item.kind != 3 && item.kind != 10)) return status_of(MSG_INVALID_ARGUMENT);
        e.length = size;
        if (item.address) e.value = load_integer(item.address, size);
        // An inline value has no variable to store an answer in.
        e.address = item.kind == 1 ? nullptr : item.address;
    }
    cursor = at;
    return 0;
}

int keyword_value_code(std::uint8_t keyword, const char* text, std::int64_t length) {
    const ValueTable* t = table_of(keyword);
    if (!t || !text) return 0;
    while (length > 0 && text[length - 1] == ' ') --length;
    char upper[24];
    if (length <= 0 || length >= static_cast<std::int64_t>(sizeof upper)) return 0;
    for (std::int64_t i = 0; i < length; ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    upper[length] = '\0';
    for (int i = 0; i < t->count; ++i)
        if (std::strcmp(t->entries[i].text, upper) == 0) return t->entries[i].code;
    return 0;
}

const char* keyword_value_text(std::uint8_t keyword, int code) {
    const ValueTable* t = table_of(keyword);
    if (!t) return "";
    for (int i = 0; i < t->count; ++i)
        if (t->entries[i].code == code) return t->entries[i].text;
    return "";
}

Status apply_open_keyword(OpenParams& p, const KeywordEntry& e, bool compat) {
    if (e.code < 2 || e.code > 70) return status_of(MSG_INVALID_ARGUMENT);
    const bool character = e.type == TYPE_CHARACTER;
    const char* text = static_cast<const char*>(e.address);
    const int text_length = e.length > INT32_MAX ? INT32_MAX : static_cast<int>(e.length);
    switch (e.code) {
        case KW_FILE:
        case KW_NAME:
            if (!character) return status_of(MSG_INVALID_ARGUMENT);
            p.file = text;
            p.file_length = text_length;
            return 0;
        case KW_DEFAULTFILE:
            if (!character) return status_of(MSG_INVALID_ARGUMENT);
            p.defaultfile = text;
            p.defaultfile_length = text_length;
            return 0;
        case KW_TITLE:
            if (!character) return status_of(MSG_INVALID_ARGUMENT);
            p.title = text;
            p.title_length = text_length;
            return 0;
        case KW_RECL:
        case KW_RECORDSIZE:
            if (character) return status_of(MSG_INVALID_ARGUMENT);
            p.recl = e.value;
            p.recl_given = true;
            return 0;
        case KW_BLOCKSIZE:
            if (character) return status_of(MSG_INVALID_ARGUMENT);
            p.blocksize = e.value;
            return 0;
        case KW_SHARED:
            p.shared = e.value != 0;
            return 0;
        case KW_READONLY:
            p.readonly = e.value != 0;
            if (p.readonly && !p.action) p.action = 1;
            return 0;
        case KW_IOFOCUS:
            p.iofocus = e.value != 0;
            p.iofocus_given = true;
            return 0;
        case KW_ASSOCIATEVARIABLE:
        case KW_BUFFERCOUNT:
        case KW_USEROPEN:
        case KW_MAXREC:
        case KW_BUFFERED:
        case KW_NOSPANBLOCKS:
        case KW_EXTENDSIZE:
        case KW_INITIALSIZE:
            return character ? status_of(MSG_INVALID_ARGUMENT) : 0;
        default:
            break;
    }
    const ValueTable* t = table_of(e.code);
    if (!t) return status_of(MSG_INVALID_ARGUMENT);
    int code;
    if (character) {
        code = keyword_value_code(e.code, text, e.length);
        if (code == 0) return status_of(MSG_KEYWORD_VALUE);
    } else {
        std::int64_t value = e.code == KW_CONVERT && e.value == 0 ? 9 : e.value;
        bool found = false;
        for (int i = 0; i < t->count; ++i) found = found || t->entries[i].code == value;
        if (!found) return status_of(compat ? t->compat_message : MSG_INVALID_ARGUMENT);
        code = static_cast<int>(value);
    }
    switch (e.code) {
        case KW_ACCESS: set_int(p.access, code); break;
        case KW_BLANK: set_int(p.blank, code); break;
        case KW_CARRIAGECONTROL: set_int(p.carriage, code); break;
        case KW_DISPOSE: set_int(p.dispose, code); break;
        case KW_FORM: set_int(p.form, code); break;
        case KW_ORGANIZATION: set_int(p.organization, code); break;
        case KW_RECORDTYPE: set_int(p.recordtype, code); break;
        case KW_STATUS: set_int(p.status, code); break;
        case KW_CONVERT: set_int(p.convert, code); break;
        case KW_ACTION: set_int(p.action, code); break;
        case KW_DELIM: set_int(p.delim, code); break;
        case KW_PAD: set_int(p.pad, code); break;
        case KW_POSITION: set_int(p.position, code); break;
        case KW_MODE: set_int(p.mode, code); break;
        case KW_SHARE: set_int(p.share, code); break;
        default: return status_of(MSG_INVALID_ARGUMENT);
    }
    return 0;
}

int for_unit_lookup_failure(Status code, std::int32_t unit, std::uint32_t flags) {
    Lub stand_in{};
    stand_in.unit = unit;
    stand_in.handle = -1;
    stand_in.device_code = -1;
    copy_options(&stand_in, flags);
    return for_handle_io_error(IOERR_KEEP, code, &stand_in);
}

void for_copy_statement_options(Lub* lub, std::uint32_t flags) { copy_options(lub, flags); }

int for_open(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
             const ArgWord* values) {
    (void)control;
    Lub* lub = nullptr;
    Status s = for_lookup_unit(unit, SK_OPEN, &lub);
    if (s != 0) {
        if (lub) for_release_unit(lub);
        return for_unit_lookup_failure(s, unit, flags);
    }
    copy_options(lub, flags);
    if (lub->defined_file) return for_handle_io_error(IOERR_RELEASE, status_of(MSG_DUPLICATE_FILE_SPEC), lub);

    OpenParams p{};
    ItemCursor cursor{keywords, values};
    for (;;) {
        KeywordEntry e;
        s = read_keyword_entry(cursor, e);
        if (s == 0 && e.end) break;
        if (s == 0) s = e.code == KW_EXIST ? status_of(MSG_INVALID_ARGUMENT) : apply_open_keyword(p, e, lub->compat_numbering);
        if (s != 0) return for_handle_io_error(IOERR_RELEASE, s, lub);
    }

    ResolvedName resolved;
    const ResolvedName* pre = nullptr;
    if (lub->connected) {
        s = resolve_file_name(lub, p, resolved);
        if (s != 0) return for_handle_io_error(IOERR_RELEASE, s, lub);
        if (same_connection(lub, resolved)) {
            if (resolved.scratch_fd >= 0) {
                close(resolved.scratch_fd);
                unlink(resolved.name);
            }
            if ((s = for_wbuf_flush(lub)) != 0) return for_handle_io_error(IOERR_RELEASE, s, lub);
            if (lub->compat_numbering && p.access && p.access != (lub->append ? ACC_APPEND : lub->access))
                return for_handle_io_error(IOERR_RELEASE, status_of(560), lub);
            if (p.blank) lub->blank_null = p.blank == 2;
            if (p.delim) lub->delimiter = p.delim == 1 ? '\'' : p.delim == 3 ? '"' : '\0';
            if (p.pad) lub->pad_no = p.pad == 1;
            if (p.iofocus_given && lub->window_unit) lub->focus_on_write = p.iofocus;
            for_release_unit(lub);
            return 0;
        }
        // Another file: the old one is closed as by CLOSE without STATUS.
        for_close_connection(lub, 0);
        for_clear_connection(lub);
        copy_options(lub, flags);
        pre = &resolved;
    }
    s = connect_unit(lub, p, pre);
    if (s != 0) return for_handle_io_error(IOERR_CLEAR_RELEASE, s, lub);
    lub->connected = true;
    for_note_unit_connected();
    lub->error_branch = false;
    for_release_unit(lub);
    return 0;
}

Status for_implicit_open(Lub* lub, int access, int status, int form) {
    OpenParams p{};
    p.access = access;
    p.status = status;
    p.form = form;
    Status s = connect_unit(lub, p, nullptr);
    if (s != 0) return s;
    lub->connected = true;
    for_note_unit_connected();
    return 0;
}

}  // namespace forrtl
