// Record transfer between a unit's record buffer and its device, the shared
// per-device line state, and the connection services the statement modules
// share (implicit OPEN, closing a connection, the error-exit actions).
//
// A formatted WRITE statement runs:
//   for_lookup_unit(unit, SK_WRITE, &lub); for_copy_statement_options(lub, flags);
//   if (!lub->connected) for_implicit_open(lub, ACC_SEQUENTIAL, 4, FORM_FORMATTED);
//   for_output_statement_begin(lub, flags); for_begin_output_record(lub);
//   per field: for_record_room(lub, w), store at rec.buffer + rec.pos, advance
//     rec.pos and raise rec.end_mark to the highest position written;
//   per "/" or reversion: for_put_record(lub) then for_begin_output_record(lub);
//   "$": rec.dollar = true;
//   at the end: for_output_statement_end(lub); for_release_unit(lub).
// A READ takes records with for_get_record(lub) and consumes
// rec.buffer[rec.pos .. rec.end).  Failures go to for_handle_io_error with
// IOERR_RELEASE (IOERR_CLEAR_RELEASE when an implicit OPEN failed).
#pragma once

#include <cstdint>

#include "for_lub.h"
#include "for_status.h"

namespace forrtl {

// The node that all units connected to one file or device name share.  It
// carries the console line state across units and statements.
struct DeviceNode {
    DeviceNode* next;
    DeviceNode* prev;
    char* name;                 // the key
    Lub* statement_owner;       // the unit whose output record is pending
    Lub* line_open_owner;       // the unit whose last record left the line open
    int bucket;
    int refs;                   // units attached
    bool open_after_cr;         // a "FORTRAN" record ended with CR only
    bool open_after_prompt;     // a record ended without any terminator
    bool record_pending;        // the last record of a statement is still in its buffer
    bool ahead_pending;         // the console holds read-ahead bytes
    bool console_continuation;  // a console record was written while another was pending
};

constexpr int kDeviceBuckets = 521;
constexpr int kRecordFront = 8;  // bytes reserved before a record (control prefix, length word)
constexpr int kRecordBack = 8;   // bytes reserved after it (terminators, length word)

// The bucket of a device node name (the table's own hash).
int device_hash(const char* name, int length);

// Attaches a formatted unit to the node of its name (CON, and CONIN$ on a
// character device or window, are keyed under CONOUT$); detaches it, freeing
// the node with its last unit.
Status for_attach_device(Lub* lub);
void for_detach_device(Lub* lub);

// --- output -----------------------------------------------------------

// Positions the buffer for a new record (giving read-ahead back to a disk
// file first).  The record proper starts at rec.start; editing stores
// characters up to rec.end.
Status for_begin_output_record(Lub* lub);

// Makes room for `n` characters from the current position: within the
// record, or by growing the buffer in steps of at least 512 bytes when RECL
// was defaulted (new space blank-filled); 66 otherwise, 41 without memory.
Status for_record_room(Lub* lub, std::int32_t n);

// Writes the current record with its terminator or carriage-control bytes
// and advances the records count.  38 on a failed write.
Status for_put_record(Lub* lub);

// Lines: the records of a LIST file or console, each ended by CR LF, the
// most common record.  When a connected unit takes such a line of up to
// `length` characters with nothing else to do first (no read-ahead to give
// back, no record left open, no truncation due, no statement options
// that change the record, room in the buffer), for_begin_line positions
// the buffer for it (without blanking it) and returns where its text goes;
// otherwise it returns null and changes nothing.  for_put_line writes the
// line whose text ends `last` characters after its start, as
// for_put_record would.
char* for_begin_line(Lub* lub, std::int32_t length);
Status for_put_line(Lub* lub, std::int32_t last);

// Writes the current record of an unformatted unit with its length fields.
Status for_put_unformatted_record(Lub* lub);

// An output statement begins on the unit: with statement flag bit 19 the
// node is marked record pending and the final record stays in the buffer.
void for_output_statement_begin(Lub* lub, std::uint32_t flags);
// The output statement ends: the final record is put, or left pending.
Status for_output_statement_end(Lub* lub);

// Completes a record left pending on the unit's device by another unit
// before a statement of `kind` runs (kinds that transfer nothing on the
// device leave it).
Status for_flush_pending(Lub* lub, int kind);

// Writes a line feed to the unit's device when a "FORTRAN" record left the
// line open after a carriage return (at CLOSE and before input).
Status for_close_open_line(Lub* lub);

// --- input ------------------------------------------------------------

// Makes the next input record current (rec.start to rec.end, position at
// the start).  24 at end of file, 39 on a failed read, 22 for a record too
// long to hold.
Status for_get_record(Lub* lub);

// Gives unread read-ahead bytes back to a seekable file.
Status for_seek_back(Lub* lub);

// --- devices ------------------------------------------------------------

// One record to or from the unit's device: a host window or a file
// descriptor.  Write returns the count written or -1; read the count read,
// 0 at end of file, -1 on failure (errno kept in lub->system_error).
int for_device_write(Lub* lub, const char* bytes, int count);
int for_device_read(Lub* lub, char* buffer, int capacity);

// Waits until descriptor `fd` has input (or an error to report).  While it
// waits the thread counts as stopped for the end of the run, and it parks
// when another thread claimed that end meanwhile.  Under the host it passes
// the host's transfer gate every 100 ms, so that the application's Exit
// stops it there while nothing comes (a FIFO no one writes to).
void for_wait_for_input(int fd);

// --- connections ----------------------------------------------------------

// Connects an unconnected unit on its first transfer: ACCESS=SEQUENTIAL,
// the given STATUS code (4 UNKNOWN) and FORM code (1 FORMATTED).
Status for_implicit_open(Lub* lub, int access, int status, int form);

// A FIFO or device connected for reading only for want of ACTION becomes
// readable and writable when the first statement on it writes, as it is
// opened when its use is writing.  Does nothing once anything was read
// from it, or when it cannot be opened for writing.
void for_writable_on_first_write(Lub* lub);

// Closes the connection of a locked block: pending output, disposition
// (`status_code` of the CLOSE STATUS table, 0 when not given), handle.  The
// block keeps its name for a message; the caller clears it.  Returns 0,
// information 5 (print kept the file) or 28 (close or delete failed).
Status for_close_connection(Lub* lub, int status_code);

// Frees what a connection holds (name, buffers, device node, handle unless
// standard) and zeroes the block except its lock, chain link and unit.
void for_clear_connection(Lub* lub);

// Closes every connected unit in table order with the dispositions that
// stand; registered as the exit handler's close-all.
void for_close_all_units();

// The unit layer's side of the I/O error exit (registered in the error
// exit's hooks when the unit table is first used): release, clear and
// release, close and release.
Status for_io_error_release(Lub* lub);
Status for_io_error_clear_release(Lub* lub);
Status for_io_error_close(Lub* lub);

// Clears the pending-record flags the unit holds on its device node.
void for_clear_pending(Lub* lub);

// Before a diagnostic: a line feed on console unit `unit` when its line is
// open and its device is where diagnostics go.
void for_console_line_feed(int unit);

// The name of a unit for messages: its file name, or "unknown".
const char* for_unit_name(const Lub* lub);

// Command-line arguments that supply missing file names, used in order.
void for_set_command_line(int argc, char** argv);

// Set while the exit handler closes the units (window units keep their
// windows).
extern bool g_exit_running;

}  // namespace forrtl
