// Status codes of the run-time.
//
// Every run-time operation returns a 32-bit status code: bits 31-30 hold the
// severity (0 success, 1 information, 2 error, 3 severe), bits 15-0 the
// message number in the catalogue.  0 is success.  Failures are never
// exceptions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace forrtl {

using Status = std::uint32_t;

enum Severity : unsigned {
    SEV_SUCCESS = 0,
    SEV_INFO = 1,
    SEV_ERROR = 2,
    SEV_SEVERE = 3,
};

constexpr Status make_status(unsigned severity, unsigned number) {
    return (Status(severity) << 30) | (number & 0xFFFFu);
}
constexpr unsigned status_severity(Status s) { return s >> 30; }
constexpr unsigned status_number(Status s) { return s & 0xFFFFu; }

struct CatalogueEntry {
    Status code;
    const char* text;  // printf-style, ends with CR LF
};

extern const CatalogueEntry kMessageCatalogue[];
extern const std::size_t kMessageCatalogueSize;

// Message numbers the run-time raises by name.  The severity of each comes
// from the catalogue; status_of() builds the full code.
enum Msg : unsigned {
    MSG_SUCCESS = 0,
    MSG_DISPOSITION_MODIFIED = 5,
    MSG_INTERNAL_CHECK = 8,
    MSG_PERMISSION_DENIED = 9,
    MSG_CANNOT_OVERWRITE = 10,
    MSG_DUPLICATE_FILE_SPEC = 21,
    MSG_RECORD_TOO_LONG = 22,
    MSG_END_OF_FILE = 24,
    MSG_TOO_MANY_RECORDS = 27,
    MSG_CLOSE_ERROR = 28,
    MSG_FILE_NOT_FOUND = 29,
    MSG_OPEN_FAILURE = 30,
    MSG_INVALID_UNIT = 32,
    MSG_INCONSISTENT_RECL = 37,
    MSG_WRITE_ERROR = 38,
    MSG_READ_ERROR = 39,
    MSG_RECURSIVE_IO = 40,
    MSG_NO_MEMORY = 41,
    MSG_NO_SUCH_DEVICE = 42,
    MSG_FILE_NAME_ERROR = 43,
    MSG_KEYWORD_VALUE = 45,
    MSG_INCONSISTENT_OPEN_CLOSE = 46,
    MSG_WRITE_READONLY = 47,
    MSG_INVALID_ARGUMENT = 48,
    MSG_FORMAT_SYNTAX_AT = 58,
    MSG_LIST_SYNTAX = 59,
    MSG_INFINITE_FORMAT_LOOP = 60,
    MSG_FORMAT_TYPE_MISMATCH = 61,
    MSG_FORMAT_SYNTAX = 62,
    MSG_OUTPUT_CONVERSION = 63,
    MSG_INPUT_CONVERSION = 64,
    MSG_RECORD_OVERFLOW = 66,
    MSG_KILLED_SIGTERM = 78,
    MSG_TOO_MUCH_DATA = 67,
    MSG_VFE_VALUE = 68,
    MSG_SEEK_REQUIRED = 120,
    MSG_LOCK_CONTENTION = 152,
    MSG_ABORT_EVENT = 200,
    MSG_FDIV_FLAW = 201,
    MSG_FORMATTED_TO_UNFORMATTED = 257,
    MSG_SEQUENTIAL_TO_DIRECT = 259,
    MSG_END_OF_RECORD = 268,
    MSG_EOF_ENCOUNTERED = 613,
    MSG_NO_PANESHELL = 655,
    MSG_EOR_ENCOUNTERED = 758,
};

// The full status code of a catalogue message (severity from the
// catalogue); a number missing from the catalogue gets severity severe.
Status status_of(unsigned number);

// The catalogue text of a full status code, or nullptr when it is missing.
const char* catalogue_text(Status code);

}  // namespace forrtl
