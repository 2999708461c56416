// What OPEN, INQUIRE and CLOSE share: the open parameter record, the
// keyword list reader and value tables, and the connection steps of the
// system layer (names, devices, opening the file).
#pragma once

#include <cstdint>

#include "for_desc_item.h"
#include "for_io.h"

namespace forrtl {

// Keyword codes of the compiled keyword lists.
enum KeywordCode : std::uint8_t {
    KW_ACCESS = 2,
    KW_ASSOCIATEVARIABLE = 4,
    KW_BLOCKSIZE = 5,
    KW_BLANK = 6,
    KW_CARRIAGECONTROL = 8,
    KW_DEFAULTFILE = 10,
    KW_DISPOSE = 12,  // STATUS of CLOSE
    KW_FILE = 13,
    KW_FORM = 15,
    KW_ORGANIZATION = 18,
    KW_RECL = 20,
    KW_RECORDSIZE = 21,  // RECL under its other name
    KW_RECORDTYPE = 23,
    KW_SHARED = 25,
    KW_STATUS = 26,
    KW_EXIST = 27,
    KW_NAME = 43,  // FILE under its other name
    KW_READONLY = 49,
    KW_IOFOCUS = 50,
    KW_BUFFERCOUNT = 51,
    KW_CONVERT = 52,
    KW_USEROPEN = 54,
    KW_MAXREC = 55,
    KW_BUFFERED = 56,
    KW_NOSPANBLOCKS = 57,
    KW_ACTION = 58,
    KW_DELIM = 59,
    KW_PAD = 60,
    KW_POSITION = 61,
    KW_EXTENDSIZE = 65,
    KW_INITIALSIZE = 66,
    KW_MODE = 67,
    KW_SHARE = 68,
    KW_TITLE = 69,
};

// Value codes of the STATUS and DISPOSE tables.
enum : int { ST_OLD = 1, ST_NEW = 2, ST_SCRATCH = 3, ST_UNKNOWN = 4, ST_REPLACE = 5 };
enum : int { DISP_KEEP = 1, DISP_DELETE = 2, DISP_PRINT = 3, DISP_SUBMIT = 4, DISP_PRINT_DELETE = 5,
             DISP_SUBMIT_DELETE = 6 };

// One OPEN statement's keywords; zero means not given.
struct OpenParams {
    const char* file;
    int file_length;
    const char* defaultfile;
    int defaultfile_length;
    const char* title;
    int title_length;
    int access, blank, carriage, dispose, form, organization, recordtype, status, convert, action, delim,
        pad, position, mode, share;
    std::int64_t recl;
    bool recl_given;
    std::int64_t blocksize;
    bool shared, readonly, iofocus, iofocus_given;
};

// A keyword list entry as read in step with the values.
struct KeywordEntry {
    std::uint8_t type, kind, code;
    bool end;
    void* address;          // by address, or the character text
    std::int64_t length;    // character length, or the element size
    std::int64_t value;     // inline value, or the value at the address
};

// Reads the next 4-byte keyword entry and consumes its value words.  48 for
// an entry form the statements do not take.
Status read_keyword_entry(ItemCursor& cursor, KeywordEntry& entry);

// Looks a character value up in a keyword's table (upper-cased, trailing
// blanks removed).  Returns the code or 0.
int keyword_value_code(std::uint8_t keyword, const char* text, std::int64_t length);

// The table text of a value code ("" when the code is not in the table).
const char* keyword_value_text(std::uint8_t keyword, int code);

// Applies a keyword of OPEN (or CLOSE STATUS) to the record: 45 for a value
// in no table, 48 for a keyword the statement does not take (or a compat
// 5xx number for an out-of-range integer code).
Status apply_open_keyword(OpenParams& params, const KeywordEntry& entry, bool compat);

// --- the system layer (for_nt_open) ----------------------------------------

struct ResolvedName {
    char name[512];
    int length;
    int device_code;   // -1: a disk file
    int std_fd;        // 0, 1, 2 for a standard handle, -1 otherwise
    int scratch_fd;    // the temporary file made for SCRATCH, -1 otherwise
};

// The device table code of a name (-1 when it is no device), with the
// stored form of the name (extension cut) in `stored`.
int device_lookup(const char* name, int length, char* stored);

// The name rules of OPEN: SCRATCH, default units, FILE=, FORTn, fort.n,
// trimming, the prompt, devices, DEFAULTFILE and the full path.
Status resolve_file_name(Lub* lub, const OpenParams& params, ResolvedName& out);

// An absolute, normalised form of `name` (links are not resolved); false
// when it would need 256 characters or more.
bool full_path(const char* name, char* out, std::size_t capacity);

// Opens the resolved name for the unit (window, standard handle, device or
// disk file) and records handle, device code and file type in the block.
Status open_connection(Lub* lub, const OpenParams& params, const ResolvedName& name);

// The lock other processes see on the disk file that `fd` (a unit's new
// descriptor) opened: exclusive for a unit that writes without sharing,
// shared for one that reads or shares.  A file another process holds in a
// way that excludes the unit fails with "open failure" (30), the system
// error being EBUSY.  Units of the same process never exclude each other.
Status for_share_file(Lub* lub, const OpenParams& params, int fd);
// Gives up the unit's part of the lock (nothing when it holds none).
void for_unshare_file(Lub* lub);

// Whether `name` reaches the file or device the unit is connected to.
bool same_connection(const Lub* lub, const ResolvedName& name);

// The status of a failed open for errno `err`.
Status open_errno_status(int err, bool compat, bool device);

// Runs `argv` in a child process: waiting for it, or detached at lower
// priority.  Returns the exit status, or -1 when it could not run.
int run_command(const char* const argv[], bool wait, bool lower_priority);

}  // namespace forrtl
