// STOP, the exit handler, the division check, the threading level, console
// control events, the host queries without a host and DATE_AND_TIME.
//
// Everything that ends the process or takes a once-per-process lock runs in
// a death-test child; the parent process never installs the console
// handler, so every child starts from the default signal dispositions.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <atomic>
#include <chrono>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "for_date_time.h"
#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "for_io.h"
#include "for_lub.h"
#include "for_startup.h"
#include "for_open_params.h"
#include "for_status.h"
#include "for_stop.h"
#include "unit_fixture.h"
#include "test_files.h"

using namespace forrtl;

namespace {

using testfiles::read_file;

std::string temp_path(const char* tag) {
    return std::string(::testing::TempDir()) + "startup_" + tag + "_" + std::to_string(getpid());
}

// In a child: sends standard output and standard error to files.
void capture(const std::string& out, const std::string& err) {
    int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fo, 1);
    dup2(fe, 2);
    close(fo);
    close(fe);
}

// The exit code of a full status code as the process reports it.
int exit_code_of(unsigned message) { return static_cast<int>(status_of(message) & 0xFF); }

// A stand-in for the unit table's close-all: notes that it ran.
void note_close_all() {
    static const char text[] = "[close all]\n";
    (void)!write(1, text, sizeof text - 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// STOP

TEST(Stop, TextCodeAndNumbering) {
    struct Row {
        const char* label;
        const char* text;
        std::uint32_t flags;
        std::int32_t code;
        int kind;
        int exit_code;
        const char* out;
        const char* err;
    };
    const std::uint32_t compat = SF_COMPAT_NUMBERING;
    const Row rows[] = {
        {"bare", nullptr, 0, 0, STOP_NO_CODE, 0, "", ""},
        {"calculator's word", nullptr, kCalculatorFlags, 0, STOP_NO_CODE, 0, "", ""},
        {"text", "done", 0, 0, STOP_NO_CODE, 0, "", "done\r\n"},
        {"empty text", "", 0, 0, STOP_NO_CODE, 0, "", ""},
        {"code as text", "7", 0, 7, STOP_NUMERIC_CODE, 7, "", "7\r\n"},
        {"code without text", nullptr, 0, 7, STOP_NUMERIC_CODE, 7, "", "7\r\n"},
        {"compat code", nullptr, compat, 3, STOP_NUMERIC_CODE, 3, "Return code 3\r\n", ""},
        {"compat code and text", "3", compat, 3, STOP_NUMERIC_CODE, 3, "Return code 3\r\n", ""},
        {"compat large code", nullptr, compat, 12345, STOP_NUMERIC_CODE, 12345 & 0xFF,
         "Return code 12345\r\n", ""},
        {"compat bare", nullptr, compat, 0, STOP_NO_CODE, 0, "Stop - Program terminated.\r\n", ""},
        {"compat text", "halt here", compat, 0, STOP_NO_CODE, 0, "halt here\r\n", ""},
    };
    for (const Row& row : rows) {
        const std::string out = temp_path("stop_out"), err = temp_path("stop_err");
        EXPECT_EXIT(
            {
                capture(out, err);
                for_stop(row.text, row.text ? static_cast<int>(std::char_traits<char>::length(row.text)) : 0,
                         row.flags, row.code, row.kind);
            },
            ::testing::ExitedWithCode(row.exit_code), "")
            << row.label;
        EXPECT_EQ("[" + read_file(out) + "]", "[" + std::string(row.out) + "]") << row.label;
        EXPECT_EQ("[" + read_file(err) + "]", "[" + std::string(row.err) + "]") << row.label;
        std::remove(out.c_str());
        std::remove(err.c_str());
    }
}

// On a unit with "FORTRAN" carriage control the stop line is single-spaced:
// a blank control character goes in front of the text, so none of the text
// is taken for control.
TEST(Stop, FortranCarriageControlLineKeepsItsFirstCharacter) {
    const std::string file = temp_path("stop_fortran");
    EXPECT_EXIT(
        {
            unit_test::open_unit(
                6, unit_test::Keywords().text(13, file).text(8, "FORTRAN"), SF_ERROR_BRANCH);
            for_stop(nullptr, 0, SF_COMPAT_NUMBERING, 3, STOP_NUMERIC_CODE);
        },
        ::testing::ExitedWithCode(3), "");
    // The text, CR, and the line feed of the close.
    EXPECT_EQ(unit_test::visible(read_file(file)), "Return code 3<CR><LF>");
    std::remove(file.c_str());
}

namespace {
// A host whose window shows on standard output and whose end of program
// says so there.
int fake_program_exit(int code) {
    char line[32];
    int n = std::snprintf(line, sizeof line, "[host exit %d]\n", code);
    (void)!write(1, line, n);
    return 0;
}
HostOps fake_host() {
    HostOps host{};
    host.write_text = [](const char* text, int length, int, int) {
        return static_cast<int>(write(1, text, static_cast<std::size_t>(length)));
    };
    host.current_window = [] { return 1024; };
    host.select_window = [](int) { return 1; };
    host.activate_window = [](int) { return 1; };
    host.close_window = [](int, int) { return 0; };
    host.program_exit = fake_program_exit;
    return host;
}
}  // namespace

// STOP shows its line, closes the units through the exit handler, then
// tells the host; a second STOP on the same thread (from the host's end of
// program) ends at once with 0.
TEST(Stop, ClosesUnitsThenTellsTheHost) {
    const std::string out = temp_path("host_out"), err = temp_path("host_err");
    EXPECT_EXIT(
        {
            capture(out, err);
            static HostOps host = fake_host();
            for_register_host(&host);
            Lub* lub = nullptr;  // the unit table in use, so that its close-all can be watched
            if (for_lookup_unit(30, SK_INQUIRE, &lub) == 0) for_release_unit(lub);
            g_close_all_units = note_close_all;
            for_note_unit_connected();
            for_stop("5", 1, kCalculatorFlags, 5, STOP_NUMERIC_CODE);
        },
        ::testing::ExitedWithCode(5), "");
    EXPECT_EQ(read_file(out), "5\r\n[close all]\n[host exit 5]\n");
    EXPECT_EQ(read_file(err), "");

    EXPECT_EXIT(
        {
            capture(out, err);
            static HostOps host = fake_host();
            host.program_exit = [](int) {
                for_stop(nullptr, 0, 0, 9, STOP_NUMERIC_CODE);
                return 0;
            };
            for_register_host(&host);
            for_stop(nullptr, 0, 0, 4, STOP_NUMERIC_CODE);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(out), "4\r\n");
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// A STOP on another thread while the first one is still ending the run
// waits for it: the run ends with the first STOP's code, its units closed.
TEST(Stop, SecondThreadWaitsForTheFirst) {
    const std::string out = temp_path("two_out"), err = temp_path("two_err");
    EXPECT_EXIT(
        {
            capture(out, err);
            static std::atomic<bool> ending{false};
            static HostOps host = fake_host();
            host.program_exit = [](int code) {
                ending = true;
                usleep(200000);  // the host's prompt takes its time
                return fake_program_exit(code);
            };
            for_register_host(&host);
            std::thread second([] {
                while (!ending) usleep(1000);
                for_stop(nullptr, 0, 0, 7, STOP_NUMERIC_CODE);
            });
            second.detach();
            for_stop(nullptr, 0, SF_COMPAT_NUMBERING, 3, STOP_NUMERIC_CODE);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(read_file(out), "Return code 3\r\n[host exit 3]\n");
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// ---------------------------------------------------------------------------
// Exit handler

TEST(ExitHandler, SecondCallDoesNothing) {
    EXPECT_EXIT(
        {
            static int calls = 0;
            g_close_all_units = [] { ++calls; };
            for_note_unit_connected();
            EXPECT_FALSE(for_exit_handler_running());
            for_exit_handler();
            EXPECT_TRUE(for_exit_handler_running());
            for_note_unit_connected();  // a file connected after the end
            for_exit_handler();
            std::exit(calls);
        },
        ::testing::ExitedWithCode(1), "");
    // Nothing ever connected: nothing to close, and later calls stay idle.
    EXPECT_EXIT(
        {
            static int calls = 0;
            g_close_all_units = [] { ++calls; };
            for_exit_handler();
            for_note_unit_connected();
            for_exit_handler();
            std::exit(10 + calls);
        },
        ::testing::ExitedWithCode(10), "");
}

TEST(ExitHandler, ReportsTrapCountsTheOptionWordAsksFor) {
    const std::string out = temp_path("trap_out"), err = temp_path("trap_err");
    EXPECT_EXIT(
        {
            capture(out, err);
            g_fp_option_word = FPO_COUNT_UNDERFLOW | FPO_COUNT_OVERFLOW | FPO_COUNT_INVALID;
            g_fp_trap_counts.underflow = 2;
            g_fp_trap_counts.overflow = 1;
            g_fp_trap_counts.divide = 4;  // not asked for
            g_fp_trap_counts.invalid = 0; // nothing to say
            for_exit_handler();
            for_exit_handler();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(err),
              "forrtl: info (300): 2 floating underflow traps\r\n"
              "forrtl: info (298): 1 floating overflow traps\r\n");
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// ---------------------------------------------------------------------------
// Division check and threading level

TEST(ProcessorCheck, CorrectDividerAndSimulatedFlaw) {
    EXPECT_EQ(for_division_residue(4195835.0, 3145727.0), 0.0);
    EXPECT_NE(for_division_residue(4195835.0, 3145727.0) + 256.0, 0.0);

    struct Row {
        const char* value;  // nullptr: unset
        bool reports;
    };
    const Row rows[] = {{nullptr, true}, {"1", false}, {"YES", false}, {"t", false},
                        {"0", true},     {"N", true},  {"", true},     {"1x", true}};
    for (const Row& row : rows) {
        const std::string label = row.value ? std::string("[") + row.value + "]" : "unset";
        if (row.value) setenv("FOR_RUN_FLAWED_PENTIUM", row.value, 1);
        else unsetenv("FOR_RUN_FLAWED_PENTIUM");
        // A correct divider never reports, whatever the switch.
        EXPECT_EXIT({ for_check_processor(); std::exit(0); }, ::testing::ExitedWithCode(0), "^$")
            << label;
        if (row.reports) {
            EXPECT_EXIT(for_check_division_result(256.0),
                        ::testing::ExitedWithCode(exit_code_of(MSG_FDIV_FLAW)),
                        "^forrtl: severe \\(201\\): Intel Pentium fdiv flaw detected, please "
                        "update the processor\r\n$")
                << label;
        } else {
            EXPECT_EXIT({ for_check_division_result(256.0); std::exit(0); },
                        ::testing::ExitedWithCode(0), "^$")
                << label;
        }
    }
    unsetenv("FOR_RUN_FLAWED_PENTIUM");
}

TEST(ThreadingLevel, InitialTwoSetReturnsPreviousThreeKeeps) {
    EXPECT_EXIT(
        {
            const int zero = 0;
            const int one = 1;
            const int three = 3;
            bool ok = for_threading_level() == 2;
            ok = ok && for_set_threading_level(&zero) == 2 && for_threading_level() == 0;
            ok = ok && for_set_threading_level(&three) == 0 && for_threading_level() == 0;
            ok = ok && for_set_threading_level(&one) == 0 && for_threading_level() == 1;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Floating-point control and code page

TEST(FpControl, OptionBitsUnmaskTrapsAndFlushToZero) {
    struct Row {
        std::uint32_t word;
        int enabled;
        bool flush;
    };
    const Row rows[] = {
        {0, 0, false},
        {FPO_TRAP_UNDERFLOW, FE_UNDERFLOW, false},
        {FPO_TRAP_OVERFLOW | FPO_TRAP_INVALID, FE_OVERFLOW | FE_INVALID, false},
        {FPO_TRAP_DIVIDE, FE_DIVBYZERO, false},
        {0xF, FE_UNDERFLOW | FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID, false},
        {FPO_UNDERFLOW_TO_ZERO, 0, true},
        {FPO_UNDERFLOW_TO_ZERO | FPO_COUNT_UNDERFLOW, 0, false},
        {FPO_COUNT_OVERFLOW | FPO_COUNT_DIVIDE, 0, false},
    };
    for (const Row& row : rows) {
        for_set_fp_control(row.word);
        EXPECT_EQ(fegetexcept(), row.enabled) << std::hex << row.word;
#if defined(__x86_64__) || defined(__i386__)
        EXPECT_EQ(_MM_GET_FLUSH_ZERO_MODE() == _MM_FLUSH_ZERO_ON, row.flush) << std::hex << row.word;
#endif
    }
    for_set_fp_control(0);
    // Word 0: a division by zero goes on with infinity; bit 2: it traps.
    volatile double zero = 0.0;
    EXPECT_EQ(1.0 / zero, HUGE_VAL);
    EXPECT_EXIT(
        {
            signal(SIGFPE, [](int) { _exit(77); });
            for_set_fp_control(FPO_TRAP_DIVIDE);
            volatile double q = 1.0 / zero;
            (void)q;
            std::exit(0);
        },
        ::testing::ExitedWithCode(77), "");
}

TEST(CodePage, FromTheLocaleCodeset) {
    struct Row {
        const char* codeset;
        int code_page;
    };
    const Row rows[] = {{"UTF-8", 65001},    {"utf8", 65001},     {"ANSI_X3.4-1968", 1252},
                        {"ISO-8859-1", 1252}, {"ISO-8859-15", 1252}, {"EUC-JP", 932},
                        {"SHIFT_JIS", 932},  {"GBK", 936},        {"EUC-KR", 949},
                        {"BIG5", 950},       {nullptr, 1252}};
    for (const Row& row : rows) {
        EXPECT_EQ(for_code_page_for_codeset(row.codeset), row.code_page)
            << (row.codeset ? row.codeset : "null");
    }
}

// ---------------------------------------------------------------------------
// Console control events

namespace {
volatile sig_atomic_t program_handler_ran = 0;
void program_handler(int) { program_handler_ran = 1; }

[[noreturn]] void wait_for_the_end() {
    for (int i = 0; i < 500; ++i) usleep(10000);
    std::exit(99);  // the event did not end the process
}
}  // namespace

TEST(ConsoleEvent, SignalReportsClosesAndEndsWithEventNumber) {
    struct Row {
        int signal_number;
        int event;
        const char* text;
    };
    const Row rows[] = {{SIGINT, 0, "control-C"}, {SIGQUIT, 1, "control-BREAK"}, {SIGHUP, 2, "menu-CLOSE"}};
    for (const Row& row : rows) {
        const std::string out = temp_path("event_out"), err = temp_path("event_err");
        EXPECT_EXIT(
            {
                capture(out, err);
                g_close_all_units = note_close_all;
                for_note_unit_connected();
                for_install_console_handler();
                raise(row.signal_number);
                wait_for_the_end();
            },
            ::testing::ExitedWithCode(row.event), "")
            << row.text;
        EXPECT_EQ(read_file(err),
                  std::string("forrtl: error (200): program aborting due to ") + row.text + " event\r\n")
            << row.text;
        EXPECT_EQ(read_file(out), "[close all]\n") << row.text;
        std::remove(out.c_str());
        std::remove(err.c_str());
    }
}

TEST(ConsoleEvent, ProgramHandlerOrIgnoredSignalIsLeftAlone) {
    // Installed before the run-time's: kept.
    EXPECT_EXIT(
        {
            signal(SIGINT, program_handler);
            for_install_console_handler();
            raise(SIGINT);
            usleep(100000);
            std::exit(program_handler_ran ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "^$");
    // Installed after the run-time's: replaces it.
    EXPECT_EXIT(
        {
            for_install_console_handler();
            signal(SIGINT, program_handler);
            raise(SIGINT);
            usleep(100000);
            std::exit(program_handler_ran ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "^$");
    // Ignored (a background job): stays ignored.
    EXPECT_EXIT(
        {
            signal(SIGHUP, SIG_IGN);
            for_install_console_handler();
            raise(SIGHUP);
            usleep(100000);
            std::exit(43);
        },
        ::testing::ExitedWithCode(43), "^$");
}

TEST(ConsoleEvent, TellsTheHostTheEventNumber) {
    const std::string out = temp_path("evhost_out"), err = temp_path("evhost_err");
    EXPECT_EXIT(
        {
            capture(out, err);
            static HostOps host{};
            host.program_exit = fake_program_exit;
            for_register_host(&host);
            for_console_event(2);
        },
        ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(read_file(out), "[host exit 2]\n");
    EXPECT_EQ(read_file(err), "forrtl: error (200): program aborting due to menu-CLOSE event\r\n");
    EXPECT_EXIT(for_console_event(7), ::testing::ExitedWithCode(7),
                "program aborting due to unknown event");
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// ---------------------------------------------------------------------------
// Host queries without a host

TEST(HostQueries, WithoutHostReport655AsItsAlternateNumber) {
    auto failed = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; };
    const char* line = "^forrtl: severe \\(6998\\): Using PaneShell is illegal in console application\r\n$";
    const int unit = 6;
    EXPECT_EXIT(for_unit_to_window(&unit), failed, line);
    EXPECT_EXIT(for_window_to_unit(1024), failed, line);
}

// ---------------------------------------------------------------------------
// DATE_AND_TIME

TEST(DateAndTime, FieldsFromGivenValues) {
    struct Row {
        DateTimeValues v;
        const char* date;
        const char* time;
        const char* zone;
    };
    const Row rows[] = {
        {{2026, 12, 9, 60, 8, 5, 3, 7}, "20261209", "080503.007", "+0100"},
        {{1999, 1, 31, -210, 23, 59, 59, 999}, "19990131", "235959.999", "-0330"},
        {{2000, 2, 29, 0, 0, 0, 0, 0}, "20000229", "000000.000", "+0000"},
        {{2026, 6, 1, 345, 12, 30, 60, 500}, "20260601", "123060.500", "+0545"},
    };
    for (const Row& row : rows) {
        char date[8], time[10], zone[5];
        std::int32_t values[8];
        for_date_and_time_from(row.v, date, 8, time, 10, zone, 5, values, 8);
        EXPECT_EQ("[" + std::string(date, 8) + "]", "[" + std::string(row.date) + "]");
        EXPECT_EQ("[" + std::string(time, 10) + "]", "[" + std::string(row.time) + "]");
        EXPECT_EQ("[" + std::string(zone, 5) + "]", "[" + std::string(row.zone) + "]");
        const std::int32_t expected[8] = {row.v.year, row.v.month,  row.v.day,    row.v.zone_minutes,
                                          row.v.hour, row.v.minute, row.v.second, row.v.milliseconds};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(values[i], expected[i]) << row.date << " value " << i;
    }
}

TEST(DateAndTime, LongerArgumentsBlankFilledAbsentOnesUntouched) {
    const DateTimeValues v{2026, 12, 9, 60, 8, 5, 3, 7};
    char date[12], time[14];
    std::int32_t values[9] = {0, 0, 0, 0, 0, 0, 0, 0, -1};
    for_date_and_time_from(v, date, 12, time, 14, nullptr, 0, values, 9);
    EXPECT_EQ("[" + std::string(date, 12) + "]", "[20261209    ]");
    EXPECT_EQ("[" + std::string(time, 14) + "]", "[080503.007    ]");
    EXPECT_EQ(values[7], 7);
    EXPECT_EQ(values[8], -1);
}

TEST(DateAndTime, LocalTimeNowMatchesItsPatternAndValues) {
    char date[8], time[10], zone[5];
    std::int32_t values[8];
    for_date_and_time(date, 8, time, 10, zone, 5, values, 8);
    const std::string d(date, 8), t(time, 10), z(zone, 5);
    EXPECT_TRUE(std::regex_match(d, std::regex("(19|20|21)[0-9]{2}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])"))) << d;
    EXPECT_TRUE(std::regex_match(t, std::regex("([01][0-9]|2[0-3])[0-5][0-9][0-6][0-9]\\.[0-9]{3}"))) << t;
    EXPECT_TRUE(std::regex_match(z, std::regex("[+-][01][0-9][0-5][0-9]"))) << z;
    char expected_date[9], expected_time[11];
    std::snprintf(expected_date, sizeof expected_date, "%04d%02d%02d", values[0], values[1], values[2]);
    std::snprintf(expected_time, sizeof expected_time, "%02d%02d%02d.%03d", values[4], values[5],
                  values[6], values[7]);
    EXPECT_EQ(d, expected_date);
    EXPECT_EQ(t, expected_time);
    const int zone_minutes = (z[0] == '-' ? -1 : 1) * (std::stoi(z.substr(1, 2)) * 60 + std::stoi(z.substr(3, 2)));
    EXPECT_EQ(values[3], zone_minutes);
}

TEST(DateAndTime, TooShortArgumentsAreReported) {
    auto failed = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; };
    char buffer[16];
    std::int32_t values[8];
    EXPECT_EXIT(for_date_and_time(buffer, 6, nullptr, 0, nullptr, 0, nullptr, 0), failed,
                "DATE argument to DATE_AND_TIME is too short \\(LEN=6\\)");
    EXPECT_EXIT(for_date_and_time(nullptr, 0, buffer, 9, nullptr, 0, nullptr, 0), failed,
                "TIME argument to DATE_AND_TIME is too short \\(LEN=9\\)");
    EXPECT_EXIT(for_date_and_time(nullptr, 0, nullptr, 0, buffer, 4, nullptr, 0), failed,
                "ZONE argument to DATE_AND_TIME is too short \\(LEN=4\\)");
    EXPECT_EXIT(for_date_and_time(nullptr, 0, nullptr, 0, nullptr, 0, values, 7), failed,
                "VALUES argument to DATE_AND_TIME is too small \\(7 elements\\)");
}

// ---------------------------------------------------------------------------
// The end of a run with files connected

namespace {
class EndOfRun : public unit_test::TempDirTest {};
}  // namespace

// However the run ends (STOP or a severe error), the records written are on
// disk and every connected unit is closed with its standing disposition:
// the DISPOSE='DELETE' file is gone.
TEST_F(EndOfRun, StopAndSevereErrorCloseEveryUnit) {
    using unit_test::Keywords;
    struct Row {
        const char* label;
        int how;  // 0 STOP, 1 severe error
        int exit_code;
    };
    const Row rows[] = {{"STOP", 0, 0}, {"severe error", 1, exit_code_of(MSG_FILE_NOT_FOUND)}};
    for (const Row& row : rows) {
        EXPECT_EXIT(
            {
                bool ok = unit_test::open_unit(15, Keywords().text(KW_FILE, "quartz.imp.dat").text(KW_STATUS, "new")) == 0;
                ok = ok && unit_test::open_unit(16, Keywords().text(KW_FILE, "work.dat").text(KW_DISPOSE, "delete")) == 0;
                ok = ok && unit_test::write_records(15, {"first", "second"}) == 0;
                ok = ok && unit_test::write_records(16, {"scratch"}) == 0;
                if (!ok) std::exit(90);
                if (row.how == 0) for_stop(nullptr, 0, kCalculatorFlags, 0, STOP_NO_CODE);
                for_report(status_of(MSG_FILE_NOT_FOUND), 2, 10, "quartz.dat");
            },
            ::testing::ExitedWithCode(row.exit_code), "")
            << row.label;
        EXPECT_EQ(unit_test::slurp("quartz.imp.dat"), "first\r\nsecond\r\n") << row.label;
        EXPECT_FALSE(unit_test::exists("work.dat")) << row.label;
        std::remove("quartz.imp.dat");
    }
}

// The thread that ends the run closes the units only while no other thread
// is inside a statement, and once it has claimed the end no other thread
// makes a further statement (a WRITE after the close would connect unit 20
// anew, to fort.20).  Each row runs a second thread doing I/O and ends the
// run on the first; the child's exit code says what went wrong.
TEST_F(EndOfRun, OtherThreadsStopAtAStatementBoundary) {
    using unit_test::Keywords;
    auto write_for_ever = [] {
        for (;;)
            if (unit_test::write_records(20, {"one whole record"}) != 0) _exit(82);
    };
    struct Row {
        const char* label;
        void (*other)();  // the second thread's work
        void (*end)();    // how the first thread ends the run
    } rows[] = {
        // Waiting for console input on a pipe nobody writes to: the wait is
        // cut short, without the quiescence time-out.
        {"waiting for input", [] { std::vector<std::string> r; unit_test::read_records(5, 1, r); _exit(81); },
         [] { for_exit_handler(); }},
        // Writing records without end: the thread parks at a statement
        // boundary.
        {"writing records", write_for_ever, [] { for_exit_handler(); }},
        {"writing records, console event", write_for_ever, [] { for_console_event(0); }},
    };
    for (const Row& row : rows) {
        EXPECT_EXIT(
            {
                int fds[2];
                if (pipe(fds) != 0) std::_Exit(90);
                dup2(fds[0], 0);
                if (unit_test::open_unit(20, Keywords().text(KW_FILE, "out.dat")) != 0) std::_Exit(91);
                std::thread(row.other).detach();
                usleep(50000);
                // Called when the units are closed.
                static HostOps host{};
                host.program_exit = [](int) {
                    usleep(50000);
                    std::_Exit(unit_test::exists("fort.20") ? 83 : 0);
                    return 0;
                };
                for_register_host(&host);
                const auto start = std::chrono::steady_clock::now();
                row.end();
                if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1000))  // no time-out waited
                    std::_Exit(84);
                host.program_exit(0);
            },
            ::testing::ExitedWithCode(0), "")
            << row.label;
        const std::string out = unit_test::slurp("out.dat");
        EXPECT_EQ(out.size() % 18, 0u) << row.label;
        std::remove("out.dat");
        std::remove("fort.20");
    }
}

// ---------------------------------------------------------------------------
// Host queries under a host

TEST_F(EndOfRun, HostQueriesFindWindowsAndUnits) {
    using unit_test::Keywords;
    static HostOps host = fake_host();
    host.open_window = [](const char*) { return 1027; };
    for_register_host(&host);
    const int console = 6, unused = 20, own = 46, file = 15;
    // Unit 6 has not been used: the query connects it to the console window.
    EXPECT_EQ(for_unit_to_window(&console), 1024);
    EXPECT_EQ(for_unit_to_window(&unused), -1);
    ASSERT_EQ(unit_test::open_unit(own, Keywords().text(KW_FILE, "USER")), 0);
    ASSERT_EQ(unit_test::open_unit(file, Keywords().text(KW_FILE, "f.dat")), 0);
    EXPECT_EQ(for_unit_to_window(&own), 1027);
    EXPECT_EQ(for_unit_to_window(&file), -1);
    EXPECT_EQ(for_window_to_unit(1024), 0);
    EXPECT_EQ(for_window_to_unit(1027), own);
    EXPECT_EQ(for_window_to_unit(1030), -1);
    // The query left unit 6 connected; the unused unit has no block.
    Lub* lub = nullptr;
    ASSERT_EQ(for_lookup_unit(console, SK_INQUIRE, &lub), 0u);
    EXPECT_TRUE(lub->connected);
    EXPECT_TRUE(lub->compat_numbering);
    for_release_unit(lub);
    for_close_all_units();
    for_register_host(nullptr);
}
