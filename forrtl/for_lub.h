// The logical unit block: one per connected or reserved unit, and the unit
// table that maps unit numbers to blocks.
#pragma once

#include <atomic>
#include <cstdint>

#include "for_format.h"
#include "for_status.h"

namespace forrtl {

constexpr int kInternalUnit = -5;
constexpr int kUnitSlots = 626;
constexpr int kDirectSlots = 105;   // units -4..99 at index u + 5
constexpr int kHashBuckets = 521;   // units >= 100 at 105 + (u + 5) % 521

// Statement flag word bits.
enum : std::uint32_t {
    SF_ERROR_BRANCH = 1u << 0,
    SF_END_BRANCH = 1u << 1,
    SF_EOR_BRANCH = 1u << 2,
    SF_FORMAT_TEXT = 1u << 3,         // the format argument is character text
    SF_ALT_DEFAULTS = 1u << 7,        // BLANK=ZERO, FORTRAN carriage control on devices
    SF_STANDARD_RULES = 1u << 18,
    SF_PENDING_RECORDS = 1u << 19,
    SF_COMPACT_LIST = 1u << 26,
    SF_COMPAT_NUMBERING = 1u << 27,
    SF_PROMPT_NAMES = 1u << 28,
    SF_ALT_LIST_LAYOUT = 1u << 29,
    SF_TRUE_NONZERO = 1u << 30,
};

// The word the calculator passes on every statement.
constexpr std::uint32_t kCalculatorFlags = 0x784ff00;

enum RecordType : std::uint8_t {
    RT_NONE = 0,
    RT_FIXED = 1,
    RT_VARIABLE = 2,
    RT_SEGMENTED = 3,
    RT_STREAM = 5,
    RT_STREAM_LF = 6,
    RT_STREAM_CR = 7,
    RT_LENGTH_WORD = 8,  // the internal length-word type of unformatted files
};

enum AccessKind : std::uint8_t { ACC_SEQUENTIAL = 1, ACC_DIRECT = 2, ACC_APPEND = 3, ACC_KEYED = 4 };
enum CarriageControl : std::uint8_t { CC_FORTRAN = 1, CC_LIST = 2, CC_NONE = 3 };
enum FormKind : std::uint8_t { FORM_FORMATTED = 1, FORM_UNFORMATTED = 2, FORM_BINARY = 4 };

// Lock header: the same layout for a unit slot and a block, so that a block
// of a hash chain can itself be locked.
struct LockHeader {
    void* mutex;                     // created at threading level 2 and above
    std::atomic<std::int32_t> lock;  // taken with the run-time lock rule
    std::atomic<long> owner;         // owning thread, -1 none
    std::atomic<bool> busy;
};

struct DeviceNode;

// The record buffer.  Positions are offsets from `buffer` so that the
// buffer can grow without invalidating them.
struct RecordBuffer {
    char* buffer;             // buffer start
    std::int32_t capacity;    // allocated size
    std::int32_t size;        // bytes for one record including overhead
    std::int32_t recl;        // record length limit (characters, or 4-byte units)
    std::int32_t pos;         // where the next character is stored or taken
    std::int32_t end;         // output: limit of the record; input: end (exclusive)
    std::int32_t start;       // first character of the record proper
    std::int32_t end_mark;    // highest position written, -1 when not set
    std::int32_t ahead_pos;   // read-ahead bytes kept for the next record
    std::int32_t ahead_count;
    bool ahead_valid;
    bool dollar;              // the record being ended gets no terminator
};

struct Lub {
    LockHeader lock;
    Lub* next;                // next block of the slot's chain
    RecordBuffer rec;
    char* name;               // heap-allocated connected name
    std::uint16_t name_length;
    int handle;               // file descriptor; window number for a window unit
    int system_error;         // last errno seen on this unit (0 none)
    std::int32_t unit;
    std::int32_t records;     // records transferred since the connection, from 1
    DeviceNode* device;       // shared device node
    RecordType record_type;
    AccessKind access;
    CarriageControl carriage;
    char delimiter;           // '\'', '"' or 0
    std::uint8_t conversion;  // CONVERT code, 9 native
    std::int8_t device_code;  // from the device name table, -1 none
    std::uint8_t form;        // FormKind
    std::uint8_t status_kept; // STATUS of the OPEN
    std::int32_t list_width;  // list-directed record width
    std::uint32_t options;    // statement flag-word options copied at statement start
    // connection flags
    bool connected, read_only, write_only, scratch;
    bool dispose_delete, dispose_print, dispose_submit;
    bool sequential, append, direct, keyed;
    bool blank_null, recl_defaulted, char_device, window_unit, focus_on_write;
    bool error_branch, end_branch, eor_branch;
    bool return_conversion_errors;  // output conversion errors (63) go back to the statement
    bool truncate_on_write;   // the first record written ends the file
    bool pad_no;              // PAD='NO'
    bool std_handle;          // one of the three standard handles: never closed
    bool defined_file;        // set up by DEFINE FILE
    bool alt_defaults, compat_numbering, prompt_names;
    FormatState fmt;
    char* internal_area;      // unit -5: the internal record
    std::int32_t internal_length;
};

}  // namespace forrtl
