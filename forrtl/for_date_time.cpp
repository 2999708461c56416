// DATE_AND_TIME.
#include "for_date_time.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "for_diags.h"

namespace forrtl {

namespace {

constexpr int kDateLength = 8;
constexpr int kTimeLength = 10;
constexpr int kZoneLength = 5;
constexpr int kValueCount = 8;

// Messages 686 to 689, reported with their alternate numbers.
constexpr int kDateTooShort = 686 - 540;
constexpr int kTimeTooShort = 687 - 540;
constexpr int kZoneTooShort = 688 - 540;
constexpr int kValuesTooSmall = 689 - 540;

// Copies `text` (of `count` characters) into a fixed-length argument and
// fills the rest with blanks.
void store(char* target, int length, const char* text, int count) {
    std::memcpy(target, text, count);
    std::memset(target + count, ' ', length - count);
}

// Two or more digits of a value known to be in range, written without
// snprintf's NUL so that the field needs no room for one.
void put_digits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

DateTimeValues for_local_date_time() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // The local time of the second last asked for is kept: a program that
    // takes its stamp many times a second converts each second once.
    thread_local time_t last_second = -1;
    thread_local std::tm last_local{};
    if (ts.tv_sec != last_second) {
        localtime_r(&ts.tv_sec, &last_local);
        last_second = ts.tv_sec;
    }
    const std::tm& local = last_local;
    DateTimeValues v{};
    v.year = local.tm_year + 1900;
    v.month = local.tm_mon + 1;
    v.day = local.tm_mday;
    v.zone_minutes = static_cast<std::int32_t>(local.tm_gmtoff / 60);
    v.hour = local.tm_hour;
    v.minute = local.tm_min;
    v.second = local.tm_sec;
    v.milliseconds = static_cast<std::int32_t>(ts.tv_nsec / 1000000);
    return v;
}

void for_date_and_time_from(const DateTimeValues& now, char* date, int date_len, char* time,
                            int time_len, char* zone, int zone_len, std::int32_t* values,
                            int nvalues) {
    if (date && date_len < kDateLength) for_report_alternate(kDateTooShort, 1, date_len);
    if (time && time_len < kTimeLength) for_report_alternate(kTimeTooShort, 1, time_len);
    if (zone && zone_len < kZoneLength) for_report_alternate(kZoneTooShort, 1, zone_len);
    if (values && nvalues < kValueCount) for_report_alternate(kValuesTooSmall, 1, nvalues);

    if (date && date_len >= kDateLength) {
        // Years outside 0..9999 would not fit "%Y" in 4 characters: a
        // clock that far off is shown as it is cut to 4 digits.
        char text[kDateLength];
        put_digits(text, (now.year % 10000 + 10000) % 10000, 4);
        put_digits(text + 4, now.month, 2);
        put_digits(text + 6, now.day, 2);
        store(date, date_len, text, kDateLength);
    }
    if (time && time_len >= kTimeLength) {
        char text[kTimeLength];
        put_digits(text, now.hour, 2);
        put_digits(text + 2, now.minute, 2);
        put_digits(text + 4, now.second, 2);
        text[6] = '.';
        put_digits(text + 7, now.milliseconds, 3);
        store(time, time_len, text, kTimeLength);
    }
    if (zone && zone_len >= kZoneLength) {
        int minutes = now.zone_minutes;
        char text[kZoneLength];
        text[0] = minutes < 0 ? '-' : '+';
        if (minutes < 0) minutes = -minutes;
        put_digits(text + 1, minutes / 60 % 100, 2);
        put_digits(text + 3, minutes % 60, 2);
        store(zone, zone_len, text, kZoneLength);
    }
    if (values && nvalues >= kValueCount) {
        const std::int32_t all[kValueCount] = {now.year, now.month,  now.day,    now.zone_minutes,
                                               now.hour, now.minute, now.second, now.milliseconds};
        std::memcpy(values, all, sizeof all);
    }
}

void for_date_and_time(char* date, int date_len, char* time, int time_len, char* zone,
                       int zone_len, std::int32_t* values, int nvalues) {
    for_date_and_time_from(for_local_date_time(), date, date_len, time, time_len, zone, zone_len,
                           values, nvalues);
}

}  // namespace forrtl
