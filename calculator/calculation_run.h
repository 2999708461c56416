// The calculation run: the main routine of the calculator, from the first
// prompt to the STOP.
#pragma once

#include <cstdint>

namespace calculator {

// Asks for the entry name, reads every case of NAME.dat, writes the listing
// to NAME.imp.dat and the console, and ends with a STOP (never returns).
[[noreturn]] void calculation_run();

// Reads one case from the entry unit and echoes it to the results unit.
void READ_CASE(const std::int32_t& entry_unit, const std::int32_t& results_unit);

// Deletes an old results file: OPEN with STATUS "old", CLOSE with STATUS
// "delete".
void DELETE_FILE(const std::int32_t& unit, const char* name, std::int32_t name_length);

// The date and time stamp: DATE receives "%Y%m%d" (8 characters), TIME
// "%H%M%S." and the milliseconds (10 characters).
void DATE_AND_TIME(char (&date)[8], char (&time)[10]);

}  // namespace calculator
