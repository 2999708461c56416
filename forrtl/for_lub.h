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
    bool taken_over;                 // the thread ending the run holds it in place of a stopped thread
};

struct DeviceNode;
struct FileShare;

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
    // Connection details kept for INQUIRE, CLOSE and a re-OPEN.
    std::uint8_t dispose;     // DISPOSE of the OPEN (1 keep, 2 delete, 3 print, 4 submit, 5, 6)
    std::uint8_t action;      // ACTION/MODE: 1 read, 2 readwrite, 3 write, 0 not given
    std::uint8_t position;    // POSITION: 1 append, 2 asis, 3 rewind, 0 not given
    std::uint8_t share;       // SHARE code, 0 not given
    std::uint8_t organization;
    bool must_exist;          // STATUS OLD
    bool seekable;            // lseek works on the handle
    bool std_input;           // the handle is standard input
    char* spool_path;         // printer devices: the spool file handed to lp at close
    bool nonadvancing_open;   // a non-advancing READ or WRITE left the current record open
    std::int8_t write_behind; // entry of the write-behind table holding this unit's output (from 1), 0 none
    bool read_only_by_kind;   // read-only for being a FIFO or device, not by ACTION: it may still be deleted
    FileShare* file_share;    // the lock on a disk file that other processes see, nullptr none
    bool share_exclusive;     // this unit holds that lock exclusively
};

// Statement kinds passed to unit lookup (1 to 38).  Kinds that transfer
// nothing on the device do not flush a pending console record.
enum StatementKind : int {
    SK_CLOSE = 1,
    SK_OPEN = 6,
    SK_INQUIRE = 8,
    SK_READ = 20,
    SK_WRITE = 30,
    SK_RELEASE = 38,  // the final release of a unit at CLOSE or termination
};

// Threading level (set at start-up): 0 one I/O thread, 1 signals held off
// while a lock is held, 2 and above a mutex per unit slot.
extern int g_threading_level;

// The run-time lock: 1 is exchanged into the word, retried up to 50000
// times with a yield before every hundredth retry; 152 when it stays held.
Status for_runtime_lock(std::atomic<std::int32_t>& word);
void for_runtime_unlock(std::atomic<std::int32_t>& word);

// The calling thread's identifier as stored in lock headers (from 1).
constinit extern thread_local long t_for_thread_id;
long for_new_thread_id();
inline long for_thread_id() { return t_for_thread_id ? t_for_thread_id : (t_for_thread_id = for_new_thread_id()); }

// Finds and locks the block of `unit` for a statement of `kind`, allocating
// a reserved block when the unit has none.  Unit -5 pushes a fresh internal
// block on the thread's stack.  Errors: 32 (unit below -5 or too large),
// 40 (the calling thread already holds the unit), 152, 41.
Status for_lookup_unit(std::int32_t unit, int kind, Lub** lub);

// A connected unit of -4 to 99 taken for a READ or WRITE the short way, or
// null with nothing taken when the general lookup must decide: a unit of
// the hash chains or without a block, a slot held (by this thread: 40;
// by another: a wait), a thread ending the run, threading level 1 and
// above (mutexes, signals held), a record pending on the unit's device.
// Released with for_release_unit.
Lub* for_lookup_connected_unit(std::int32_t unit);

// Ends the statement on the block: unlocks it.  A block left unconnected
// (and every internal block) is unlinked and freed.
Status for_release_unit(Lub* lub);

// Unlinks and frees the block whatever its state.
Status for_release_and_free(Lub* lub);

// Iteration over the blocks in table order.  Start with a zeroed cursor;
// each call returns the next block locked (release it with
// for_release_unit), or nullptr at the end.  A block held by the calling
// thread itself is returned without waiting (the exit handler runs from
// inside a failing statement).
struct UnitCursor {
    int slot;
    std::int32_t last_unit;
    bool held_by_caller;  // the block returned last was already held by the calling thread
};
Lub* for_next_unit(UnitCursor& cursor);

// Whether a unit lock is held by a thread other than the caller that is
// neither parked nor waiting for input (for the thread ending the run).
bool for_units_held_by_running_threads();

// The block of a unit of -4 to 99 without locking it (nullptr when it has
// none), for looking at console line state before a diagnostic.
Lub* for_peek_unit(std::int32_t unit);

}  // namespace forrtl
