// The records the calculator writes: every format program of the dialogue,
// the stamped blocks, the echo of a case, the count line and the plane table,
// and the prepared WRITE statements made of them (each program with the
// types of the items the calculator writes with it).
#pragma once

#include <cstdint>

#include "for_fmt_builder.h"
#include "for_prepared.h"

namespace calculator {

// Console dialogue.
inline constexpr auto kBanner = forrtl::format_program<"('     LOXNAR calculates d(hkl)')">();
inline constexpr auto kPrompt = forrtl::format_program<"('  entry .dat file (no extension) ?\?',$)">();
inline constexpr auto kEntryName = forrtl::format_program<"(A20)">();

// Stamped blocks at the start and end of a case.
inline constexpr auto kStartHeader = forrtl::format_program<
    "(TR1,'LOXNAR RESULTS',/,' DATE : ',A4,'/',A2,'/',A2,TR10,"
    "'STARTING TIME :  ',A2,'h',A2,'mn',A2,'s')">();
inline constexpr auto kEndBlock = forrtl::format_program<
    "(TR1,'ENDING',/,' DATE : ',A4,'/',A2,'/',A2,TR10,"
    "'ENDING TIME   :  ',A2,'h',A2,'mn',A2,'s')">();

// Echo of a case.
inline constexpr auto kTitle = forrtl::format_program<"(18A4)">();
inline constexpr auto kCellEcho = forrtl::format_program<
    "(TR1,'A = ',F8.4,TR5,'B = ',F8.4,TR5,'C = ',F8.4,TR5,/,"
    "'ALPHA = ',F8.3,TR5,'BETA = ',F8.3,TR5,'GAMMA = ',F8.3,/)">();
inline constexpr auto kParameterEcho = forrtl::format_program<
    "(TR1,'D MINIMUM =',F6.2,TR10,'D MAXIMUM =',F6.2,/,"
    "TR1,' HMAX =',I4,TR10,'KMAX =',I4,TR10,' LMAX =',I4,/,"
    "TR1,'LAMBDA =',F8.4,/)">();
inline constexpr auto kCountLine = forrtl::format_program<"(TR1,'NUMBER OF CALCULATED PLANES =',I4,/)">();

// The two-column plane table.
inline constexpr auto kTableHeader =
    forrtl::format_program<"(2(TR3,'H',TR3,'K',TR3,'L',TR6,'D',TR6,'2 THET :'))">();
inline constexpr auto kTableRow = forrtl::format_program<"(2(3I4,F10.5,TR3,F6.2,TR1,':'))">();

// The record between two cases.
inline constexpr auto kCaseSeparator = forrtl::format_program<"('1')">();

// The WRITE and READ statements.
namespace prepared {

using forrtl::chars_item;
using forrtl::kInt4Item;
using forrtl::kReal4Item;
using forrtl::prepare_write;

inline constexpr auto kBanner = prepare_write<calculator::kBanner>();
inline constexpr auto kPrompt = prepare_write<calculator::kPrompt>();
// Stamps: year, month, day, hours, minutes, seconds.
inline constexpr auto kStartHeader = prepare_write<calculator::kStartHeader, chars_item(4), chars_item(2), chars_item(2),
                                                   chars_item(2), chars_item(2), chars_item(2)>();
inline constexpr auto kEndBlock = prepare_write<calculator::kEndBlock, chars_item(4), chars_item(2), chars_item(2),
                                                chars_item(2), chars_item(2), chars_item(2)>();
// The title as 18 single-precision slots.
inline constexpr auto kTitle = prepare_write<calculator::kTitle, forrtl::array_item(forrtl::TYPE_REAL4, 4, 18)>();
// A, B, C, ALPHA, BETA, GAMMA.
inline constexpr auto kCellEcho = prepare_write<calculator::kCellEcho, kReal4Item, kReal4Item, kReal4Item, kReal4Item,
                                                kReal4Item, kReal4Item>();
// DMIN, DMAX, HMAX, KMAX, LMAX, LAMBDA.
inline constexpr auto kParameterEcho = prepare_write<calculator::kParameterEcho, kReal4Item, kReal4Item, kInt4Item,
                                                     kInt4Item, kInt4Item, kReal4Item>();
inline constexpr auto kCountLine = prepare_write<calculator::kCountLine, kInt4Item>();
inline constexpr auto kTableHeader = prepare_write<calculator::kTableHeader>();
// h, k, l, spacing, angle of the left half, then of the right half.
inline constexpr auto kTableRow = prepare_write<calculator::kTableRow, kInt4Item, kInt4Item, kInt4Item, kReal4Item,
                                                kReal4Item, kInt4Item, kInt4Item, kInt4Item, kReal4Item, kReal4Item>();
inline constexpr auto kCaseSeparator = prepare_write<calculator::kCaseSeparator>();

// The READ statements: the entry name, and the entry data file's title,
// cell (A, B, C, ALPHA, BETA, GAMMA), parameters (COND(1..7), DMIN, DMAX,
// HMAX, KMAX, LMAX, LAMBDA) and continuation flag.
using forrtl::prepare_list_read;
using forrtl::prepare_read;
inline constexpr auto kEntryNameRead = prepare_read<calculator::kEntryName, chars_item(20)>();
inline constexpr auto kTitleRead = prepare_read<calculator::kTitle, forrtl::array_item(forrtl::TYPE_REAL4, 4, 18)>();
inline constexpr auto kCellRead =
    prepare_list_read<kReal4Item, kReal4Item, kReal4Item, kReal4Item, kReal4Item, kReal4Item>();
inline constexpr auto kParameterRead =
    prepare_list_read<forrtl::array_item(forrtl::TYPE_INT4, 4, 7), kReal4Item, kReal4Item, kInt4Item, kInt4Item,
                      kInt4Item, kReal4Item>();
inline constexpr auto kFlagRead = prepare_list_read<kInt4Item>();

// Every one of them runs from its plan.
static_assert(kBanner.runs && kPrompt.runs && kStartHeader.runs && kEndBlock.runs && kTitle.runs &&
              kCellEcho.runs && kParameterEcho.runs && kCountLine.runs && kTableHeader.runs && kTableRow.runs &&
              kCaseSeparator.runs && kEntryNameRead.runs && kTitleRead.runs);

}  // namespace prepared

// Writes the plane table of the first `nplanes` entries to the results unit
// and to the console: the header, then each row to both units in turn.
void LIST_PLANES(const std::int32_t& results_unit, const std::int32_t* IH, const std::int32_t* IK,
                 const std::int32_t* IL, const float* D, const float* THETA, const std::int32_t& NPLANES);

}  // namespace calculator
