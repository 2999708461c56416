// DATE_AND_TIME: the local date and time of the system clock.
#pragma once

#include <cstdint>

namespace forrtl {

// The eight VALUES of DATE_AND_TIME, in their order.
struct DateTimeValues {
    std::int32_t year, month, day;
    std::int32_t zone_minutes;  // local time minus UTC
    std::int32_t hour, minute, second, milliseconds;
};

// The local date and time now.
DateTimeValues for_local_date_time();

// Fills the arguments that are given (nullptr: not given) from `now`:
// DATE "%Y%m%d" (8 characters), TIME "%H%M%S." and the milliseconds as
// "%3.3d" (10 characters), ZONE "+hhmm" or "-hhmm" (5 characters), VALUES
// the eight integers.  A longer character argument is blank-filled; a
// shorter one, or VALUES with fewer than 8 elements, is reported (686 to
// 689, severe: the program ends) before anything is stored.
void for_date_and_time_from(const DateTimeValues& now, char* date, int date_len, char* time,
                            int time_len, char* zone, int zone_len, std::int32_t* values,
                            int nvalues);

// The same with the local time now.
void for_date_and_time(char* date, int date_len, char* time, int time_len, char* zone,
                       int zone_len, std::int32_t* values, int nvalues);

}  // namespace forrtl
