// INQUIRE by file and by unit: the answers come from the block of the unit
// that holds the file (or the unit asked about), or from the file system.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "for_diags.h"
#include "for_open_params.h"
#include "for_units.h"

namespace forrtl {

namespace {

constexpr int kMaxEntries = 64;

// What INQUIRE answers, taken from a block while it is held.
struct Answers {
    bool exist;
    bool connected;
    bool formatted;
    std::uint8_t form, record_type, carriage, conversion, organization, share, position;
    bool direct, keyed, append, read_only, write_only, blank_null, pad_no;
    char delimiter;
    std::int32_t recl;
    char name[512];
};

void take_answers(const Lub* lub, Answers& a) {
    a.connected = lub->connected;
    if (!lub->connected) return;
    a.formatted = lub->form == FORM_FORMATTED;
    a.form = lub->form;
    a.record_type = lub->record_type;
    a.carriage = lub->carriage;
    a.conversion = lub->conversion;
    a.organization = lub->organization;
    a.share = lub->share;
    a.position = lub->position;
    a.direct = lub->direct;
    a.keyed = lub->keyed;
    a.append = lub->append;
    a.read_only = lub->read_only;
    a.write_only = lub->write_only;
    a.blank_null = lub->blank_null;
    a.pad_no = lub->pad_no;
    a.delimiter = lub->delimiter;
    a.recl = lub->rec.recl;
    std::snprintf(a.name, sizeof a.name, "%s", lub->name ? lub->name : "");
}

const char* character_answer(std::uint8_t keyword, const Answers& a) {
    const bool c = a.connected;
    switch (keyword) {
        case KW_ACCESS:
            if (!c) return "UNDEFINED";
            return a.direct ? "DIRECT" : a.keyed ? "KEYED" : "SEQUENTIAL";
        case KW_FORM:
            return c ? keyword_value_text(KW_FORM, a.form) : "UNDEFINED";
        case KW_RECORDTYPE:
            if (!c) return "UNKNOWN";
            return a.record_type == RT_LENGTH_WORD ? "VARIABLE" : keyword_value_text(KW_RECORDTYPE, a.record_type);
        case KW_CARRIAGECONTROL:
            return c ? keyword_value_text(KW_CARRIAGECONTROL, a.carriage) : "UNKNOWN";
        case KW_ACTION:
        case KW_MODE:
            if (!c) return "UNDEFINED";
            return a.read_only ? "READ" : a.write_only ? "WRITE" : "READWRITE";
        case KW_DELIM:
            if (!c || !a.formatted) return "UNDEFINED";
            return a.delimiter == '\'' ? "APOSTROPHE" : a.delimiter == '"' ? "QUOTE" : "NONE";
        case KW_PAD:
            if (!c || !a.formatted) return "UNDEFINED";
            return a.pad_no ? "NO" : "YES";
        case KW_POSITION:
            if (!c || a.direct || a.keyed) return "UNDEFINED";
            if (a.append || a.position == 1) return "APPEND";
            return a.position == 3 ? "REWIND" : "ASIS";
        case KW_BLANK:
            if (!c || !a.formatted) return "UNDEFINED";
            return a.blank_null ? "NULL" : "ZERO";
        case KW_SHARE:
            return c && a.share ? keyword_value_text(KW_SHARE, a.share) : "UNKNOWN";
        case KW_CONVERT:
            return c && !a.formatted ? keyword_value_text(KW_CONVERT, a.conversion) : "UNKNOWN";
        case KW_ORGANIZATION:
            return c ? keyword_value_text(KW_ORGANIZATION, a.organization) : "UNKNOWN";
        default:
            return nullptr;
    }
}

void store_text(const KeywordEntry& e, const char* text) {
    char* out = static_cast<char*>(e.address);
    if (!out || e.length <= 0) return;
    std::int64_t n = static_cast<std::int64_t>(std::strlen(text));
    if (n > e.length) n = e.length;
    std::memcpy(out, text, static_cast<std::size_t>(n));
    std::memset(out + n, ' ', static_cast<std::size_t>(e.length - n));
}

void store_integer(const KeywordEntry& e, std::int64_t v) {
    if (!e.address) return;
    switch (e.length) {
        case 1: { std::int8_t x = static_cast<std::int8_t>(v); std::memcpy(e.address, &x, 1); break; }
        case 2: { std::int16_t x = static_cast<std::int16_t>(v); std::memcpy(e.address, &x, 2); break; }
        case 4: { std::int32_t x = static_cast<std::int32_t>(v); std::memcpy(e.address, &x, 4); break; }
        default: std::memcpy(e.address, &v, 8); break;
    }
}

}  // namespace

int for_inquire(std::int32_t* control, std::int32_t unit, std::uint32_t flags, const std::uint8_t* keywords,
                const ArgWord* values) {
    (void)control;
    KeywordEntry entries[kMaxEntries];
    int count = 0;
    const KeywordEntry* file = nullptr;
    Status s = 0;
    ItemCursor cursor{keywords, values};
    for (;;) {
        KeywordEntry e;
        s = read_keyword_entry(cursor, e);
        if (s != 0 || e.end) break;
        if (e.code < 2 || e.code > 70 || count == kMaxEntries) {
            s = status_of(MSG_INVALID_ARGUMENT);
            break;
        }
        entries[count++] = e;
        if ((e.code == KW_FILE || e.code == KW_NAME) && e.type == TYPE_CHARACTER && unit == -1) file = &entries[count - 1];
    }

    Answers answers{};
    if (s == 0 && unit == -1 && file) {
        // By file: the unit that holds the name answers; otherwise the disk.
        Lub stand_in{};
        stand_in.unit = INT_MIN;
        stand_in.handle = -1;
        for_copy_statement_options(&stand_in, flags & ~SF_PROMPT_NAMES);
        OpenParams p{};
        p.file = static_cast<const char*>(file->address);
        p.file_length = static_cast<int>(file->length > INT_MAX ? INT_MAX : file->length);
        ResolvedName name;
        s = resolve_file_name(&stand_in, p, name);
        if (s != 0) {
            stand_in.unit = unit;
            return for_handle_io_error(IOERR_KEEP, s, &stand_in);
        }
        UnitCursor units{};
        bool found = false;
        while (Lub* lub = for_next_unit(units)) {
            if (!found && lub->connected && lub->name && std::strcmp(lub->name, name.name) == 0) {
                take_answers(lub, answers);
                answers.exist = true;
                found = true;
            }
            if (!units.held_by_caller) for_release_unit(lub);
        }
        if (!found) {
            answers.exist = name.device_code != -1 || (name.length > 0 && access(name.name, F_OK) == 0);
            std::memcpy(answers.name, name.name, sizeof answers.name);
        }
    } else if (s == 0) {
        Lub* lub = nullptr;
        s = for_lookup_unit(unit, SK_INQUIRE, &lub);
        if (s == status_of(MSG_INVALID_UNIT)) {
            s = 0;
            answers.exist = false;
        } else if (s != 0) {
            if (lub) for_release_unit(lub);
            return for_unit_lookup_failure(s, unit, flags);
        } else {
            take_answers(lub, answers);
            answers.exist = true;
            for_release_unit(lub);
        }
    }
    if (s != 0) return for_unit_lookup_failure(s, unit, flags);

    const bool true_is_one = (flags & SF_TRUE_NONZERO) != 0;
    for (int i = 0; i < count; ++i) {
        const KeywordEntry& e = entries[i];
        if (e.code == KW_EXIST) {
            if (e.type == TYPE_CHARACTER) return for_unit_lookup_failure(status_of(MSG_INVALID_ARGUMENT), unit, flags);
            store_integer(e, answers.exist ? (true_is_one ? 1 : -1) : 0);
        } else if (e.code == KW_FILE || e.code == KW_NAME) {
            if (&e != file && e.type == TYPE_CHARACTER) store_text(e, answers.connected ? answers.name : "");
        } else if (e.code == KW_RECL) {
            if (e.type != TYPE_CHARACTER) store_integer(e, answers.connected ? answers.recl : 0);
        } else if (const char* text = character_answer(e.code, answers)) {
            if (e.type != TYPE_CHARACTER) return for_unit_lookup_failure(status_of(MSG_INVALID_ARGUMENT), unit, flags);
            store_text(e, text);
        } else {
            return for_unit_lookup_failure(status_of(MSG_INVALID_ARGUMENT), unit, flags);
        }
    }
    return 0;
}

}  // namespace forrtl
