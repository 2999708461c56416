// Statement entry points: each I/O statement is a begin call with the first
// item, one call per further item, and the end-of-list marker (item type 1)
// after the last item.  A statement runs on one thread; the item calls find
// the statement begun last on the calling thread.
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
int format_write_begin(int unit, std::uint32_t flags, const std::uint8_t* format,
                       std::int32_t format_length, const std::uint8_t* items, const ArgWord* args);
int format_write_item(const std::uint8_t* items, const ArgWord* args);
int format_read_begin(int unit, std::uint32_t flags, const std::uint8_t* format,
                      std::int32_t format_length, const std::uint8_t* items, const ArgWord* args);
int format_read_item(const std::uint8_t* items, const ArgWord* args);

// List-directed sequential WRITE and READ.
int list_write_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);
int list_write_item(const std::uint8_t* items, const ArgWord* args);
int list_read_begin(int unit, std::uint32_t flags, const std::uint8_t* items, const ArgWord* args);
int list_read_item(const std::uint8_t* items, const ArgWord* args);

}  // namespace forrtl
