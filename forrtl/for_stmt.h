// Statement entry points: each I/O statement is a begin call with the first
// item, one call per further item, and the end-of-list marker (item type 1)
// after the last item.  A statement runs on one thread; the item calls find
// the statement begun last on the calling thread that is not done.  A
// function referenced in an item list may run whole statements between two
// item calls (on internal files, or on other units): the outer statement
// keeps its state and goes on with its items afterwards.  A statement on the
// outer statement's own unit fails with recursive I/O (40).
//
// Every entry returns the statement result: 0, or when the statement has an
// error branch (flag bit 0) the message number, -1 at end of file, -2 at end
// of record.  Without an error branch failures are reported and severe ones
// end the program.
#pragma once

#include <cstdint>

#include "for_desc_item.h"

namespace forrtl {

// Formatted sequential WRITE and READ.  `format` is a format program, or
// character text when flag bit 3 is set (then `format_length` is its length).
// A READ stores the characters under a literal of the program into the
// literal's text: a program with literals used for input must lie in
// writable storage.
int format_write_begin(int unit, std::uint32_t flags, const std::uint8_t* format,
                       std::int32_t format_length, const std::uint8_t* items, const ArgWord* args);
int format_write_item(const std::uint8_t* items, const ArgWord* args);
int format_read_begin(int unit, std::uint32_t flags, const std::uint8_t* format,
                      std::int32_t format_length, const std::uint8_t* items, const ArgWord* args);
int format_read_item(const std::uint8_t* items, const ArgWord* args);

// The same statements with an ADVANCE= value (`advance` text of
// `advance_length` characters: YES or NO in any case, trailing blanks
// ignored; anything else is error 48).  A non-advancing WRITE leaves its
// record open for the next WRITE; a non-advancing READ keeps its position
// for the next READ and stores the number of characters its data edit
// descriptors took into the integer of `size_bytes` bytes at `size_address`
// (may be null).  A non-advancing READ that runs past the end of its record
// completes the item with blanks and ends with end of record (-2 with an
// error or EOR branch).
int format_write_begin_adv(int unit, std::uint32_t flags, const std::uint8_t* format,
                           std::int32_t format_length, const char* advance, std::int32_t advance_length,
                           const std::uint8_t* items, const ArgWord* args);
int format_read_begin_adv(int unit, std::uint32_t flags, const std::uint8_t* format,
                          std::int32_t format_length, const char* advance, std::int32_t advance_length,
                          void* size_address, std::int32_t size_bytes, const std::uint8_t* items,
                          const ArgWord* args);

// Internal files: the records are `records` consecutive records of
// `record_length` characters in `area`.  A WRITE fills each record it
// writes with blanks first; writing past the last record is error 66, reading
// past it end of file (24).  The item calls are those of the file statements
// (format_write_item, list_write_item, ...).
int internal_write_begin(char* area, std::int32_t record_length, std::int32_t records, std::uint32_t flags,
                         const std::uint8_t* format, std::int32_t format_length, const std::uint8_t* items,
                         const ArgWord* args);
int internal_read_begin(const char* area, std::int32_t record_length, std::int32_t records,
                        std::uint32_t flags, const std::uint8_t* format, std::int32_t format_length,
                        const std::uint8_t* items, const ArgWord* args);

// List-directed sequential WRITE and READ.
int list_write_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);
int list_write_item(const std::uint8_t* items, const ArgWord* args);
int list_read_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);
int list_read_item(const std::uint8_t* items, const ArgWord* args);

// List-directed WRITE and READ on an internal file (record width: the record
// length).
int internal_list_write_begin(char* area, std::int32_t record_length, std::int32_t records,
                              std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);
int internal_list_read_begin(const char* area, std::int32_t record_length, std::int32_t records,
                             std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);

}  // namespace forrtl
