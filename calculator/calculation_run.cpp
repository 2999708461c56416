#include "calculation_run.h"

#include <cstring>

#include "for_date_time.h"
#include "for_startup.h"
#include "for_stop.h"
#include "for_units.h"
#include "geometry.h"
#include "listing.h"
#include "statements.h"

namespace calculator {

namespace {

constexpr std::int32_t kConsoleIn = 5;
constexpr std::int32_t kConsoleOut = 6;
constexpr std::int32_t kEntryUnit = 10;
constexpr std::int32_t kResultsUnit = 15;

// Degrees to radians: the single-precision value nearest to 0.017453294,
// one unit in the last place above the one nearest to pi/180.
constexpr float kDegree = 0.017453294f;

// The threading level compiled into the program: one thread does all I/O.
std::int32_t g_threading_level = 0;

// The main routine's variables, in static storage for the whole run.
char ENTRY[20];
char FILENAME[24];
std::int32_t OLDFILE;
char CDATE[8];
char CTIME[10];
float TITLE[18];
std::int32_t NEXT;

// Keyword codes and value words of the OPEN, INQUIRE and CLOSE statements.
enum : std::uint8_t { KW_BLANK = 6, KW_DISPOSE_STATUS = 12, KW_FILE = 13, KW_STATUS = 26, KW_EXIST = 27 };
constexpr std::int32_t kBlankNull = 2;

constexpr std::uint8_t kOpenKeywords[] = {
    forrtl::TYPE_CHARACTER, 4, KW_FILE,   0,  //
    forrtl::TYPE_CHARACTER, 4, KW_STATUS, 0,  //
    forrtl::TYPE_INT4,      1, KW_BLANK,  0,  //
    forrtl::ITEM_END_OF_LIST, 0, 0,       0,
};
constexpr std::uint8_t kInquireKeywords[] = {
    forrtl::TYPE_CHARACTER, 4, KW_FILE,  0,  //
    forrtl::TYPE_LOGICAL4,  3, KW_EXIST, 0,  //
    forrtl::ITEM_END_OF_LIST, 0, 0,      0,
};
constexpr std::uint8_t kCloseKeywords[] = {
    forrtl::TYPE_CHARACTER, 4, KW_DISPOSE_STATUS, 0,  //
    forrtl::ITEM_END_OF_LIST, 0, 0,               0,
};

// OPEN (unit, FILE = name, STATUS = status, BLANK = 'NULL')
void open_unit(std::int32_t unit, const char* name, std::int32_t name_length, const char* status) {
    const ArgWord values[] = {
        static_cast<ArgWord>(name_length),  address_word(name),
        std::strlen(status),                 address_word(status),
        static_cast<ArgWord>(kBlankNull),
    };
    std::int32_t control = 0;
    forrtl::for_open(&control, unit, kFlags, kOpenKeywords, values);
}

// Assigns `text` of `length` characters to a fixed-length character
// variable: copies what fits and fills the rest with blanks.
template <std::size_t N>
void assign(char (&variable)[N], const char* text, std::size_t length) {
    const std::size_t n = length < N ? length : N;
    std::memcpy(variable, text, n);
    std::memset(variable + n, ' ', N - n);
}

}  // namespace

void DATE_AND_TIME(char (&date)[8], char (&time)[10]) {
    forrtl::for_date_and_time(date, 8, time, 10, nullptr, 0, nullptr, 0);
}

void DELETE_FILE(const std::int32_t& unit, const char* name, std::int32_t name_length) {
    open_unit(unit, name, name_length, "old");
    static const char kDelete[] = "delete";
    const ArgWord values[] = {sizeof kDelete - 1, address_word(kDelete)};
    std::int32_t control = 0;
    forrtl::for_close(&control, unit, kFlags, kCloseKeywords, values);
}

void READ_CASE(const std::int32_t& entry_unit, const std::int32_t& results_unit) {
    read_prepared<prepared::kTitleRead>(entry_unit, TITLE);
    write_prepared<prepared::kTitle>(results_unit, TITLE);

    read_prepared<prepared::kCellRead>(entry_unit, &CELL[0], &CELL[1], &CELL[2], &CELL[3], &CELL[4], &CELL[5]);
    write_prepared<prepared::kCellEcho>(results_unit, &CELL[0], &CELL[1], &CELL[2], &CELL[3], &CELL[4], &CELL[5]);
    CELL[3] = CELL[3] * kDegree;
    CELL[4] = CELL[4] * kDegree;
    CELL[5] = CELL[5] * kDegree;

    read_prepared<prepared::kParameterRead>(entry_unit, COND, &DMIN, &DMAX, &HMAX, &KMAX, &LMAX, &LAMBDA);
    if (HMAX == 0) HMAX = 8;
    if (KMAX == 0) KMAX = 8;
    if (LMAX == 0) LMAX = 8;
    write_prepared<prepared::kParameterEcho>(results_unit, &DMIN, &DMAX, &HMAX, &KMAX, &LMAX, &LAMBDA);
}

void calculation_run() {
    forrtl::for_check_processor();
    forrtl::for_set_threading_level(&g_threading_level);

    write_prepared<prepared::kBanner>(kConsoleOut);
    write_prepared<prepared::kPrompt>(kConsoleOut);
    read_prepared<prepared::kEntryNameRead>(kConsoleIn, ENTRY);

    // The significant length of the typed name.
    std::int32_t n = sizeof ENTRY;
    while (n > 0 && ENTRY[n - 1] == ' ') --n;

    char name[sizeof ENTRY + 8];
    std::memcpy(name, ENTRY, n);
    std::memcpy(name + n, ".dat", 4);
    assign(FILENAME, name, n + 4);
    open_unit(kEntryUnit, FILENAME, sizeof FILENAME, "old");

    // The results file name keeps at most 24 characters: with a name of 17
    // to 20 characters the tail of ".imp.dat" is cut.
    std::memcpy(name + n, ".imp.dat", 8);
    assign(FILENAME, name, n + 8);

    {
        const ArgWord values[] = {sizeof FILENAME, address_word(FILENAME), address_word(&OLDFILE)};
        std::int32_t control = 0;
        forrtl::for_inquire(&control, -1, kFlags, kInquireKeywords, values);
    }
    if (OLDFILE & 1) {
        static const char kWarning[] = "warning, this old file will be deleted :";
        write_list(kConsoleOut, chars(kWarning, sizeof kWarning - 1), chars(FILENAME, sizeof FILENAME));
        DELETE_FILE(kResultsUnit, FILENAME, sizeof FILENAME);
    }
    open_unit(kResultsUnit, FILENAME, sizeof FILENAME, "new");

    DATE_AND_TIME(CDATE, CTIME);
    for (;;) {
        for (std::int32_t unit : {kConsoleOut, kResultsUnit}) {
            write_prepared<prepared::kStartHeader>(unit, CDATE, CDATE + 4, CDATE + 6, CTIME, CTIME + 2, CTIME + 4);
        }

        std::memset(IH, 0, sizeof IH);
        std::memset(IK, 0, sizeof IK);
        std::memset(IL, 0, sizeof IL);
        std::memset(D, 0, sizeof D);
        std::memset(THETA, 0, sizeof THETA);
        NPLANES = 0;

        READ_CASE(kEntryUnit, kResultsUnit);
        RECIPROCAL_CELL();
        ENUMERATE_PLANES(IH, IK, IL, D, THETA, NPLANES);
        write_prepared<prepared::kCountLine>(kResultsUnit, &NPLANES);
        if (NPLANES >= 2) {
            SORT_PLANES();
            LIST_PLANES(kResultsUnit, IH, IK, IL, D, THETA, NPLANES);
        }

        DATE_AND_TIME(CDATE, CTIME);
        for (std::int32_t unit : {kConsoleOut, kResultsUnit}) {
            write_prepared<prepared::kEndBlock>(unit, CDATE, CDATE + 4, CDATE + 6, CTIME, CTIME + 2, CTIME + 4);
        }

        read_prepared<prepared::kFlagRead>(kEntryUnit, &NEXT);
        if (NEXT == 0) break;
        write_prepared<prepared::kCaseSeparator>(kResultsUnit);
    }
    forrtl::for_stop(nullptr, 0, kFlags, 0, 0);
}

}  // namespace calculator
