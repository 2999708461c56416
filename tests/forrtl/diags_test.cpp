#include <gtest/gtest.h>

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_host.h"
#include "for_lub.h"

using namespace forrtl;

namespace {

// The fatal hook of the tests: the end of the program becomes an exception
// that carries the exit code.
struct Ended {
    int code;
};
void throw_on_end(int code) { throw Ended{code}; }

// Runs `body` with standard error captured; `ended` receives the exit code
// when the program would have ended, else stays -1.
template <class F>
std::string captured(F body, long long* ended = nullptr) {
    if (ended) *ended = -1;
    testing::internal::CaptureStderr();
    try {
        body();
    } catch (const Ended& e) {
        if (ended) *ended = static_cast<unsigned>(e.code);
    }
    return testing::internal::GetCapturedStderr();
}

// A file name of this test run, the same in the parent and in its death
// test children (they inherit the environment the parent set).
std::string temp_file(const char* stem) {
    if (!std::getenv("LOXNAR_DIAGS_TEST_RUN"))
        setenv("LOXNAR_DIAGS_TEST_RUN", std::to_string(getpid()).c_str(), 1);
    return testing::TempDir() + stem + std::getenv("LOXNAR_DIAGS_TEST_RUN") + ".log";
}

std::string bracket(const std::string& s) {
    std::string out = "[";
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "]";
}

const char* const kEnvSwitches[] = {"FORT0", "f77_dump_flag", "kesfort_dump_flag", "FOR_GENERATE_DEBUG_EXCEPTION",
                                    "FOR_IGNORE_EXCEPTIONS"};

class Diags : public testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        for (const char* name : kEnvSwitches) unsetenv(name);
        for_set_fatal_hook(throw_on_end);
        for_register_host(nullptr);
        g_io_error_hooks = IoErrorHooks{};
    }
    void TearDown() override {
        for_set_fatal_hook(nullptr);
        for_register_host(nullptr);
        g_io_error_hooks = IoErrorHooks{};
    }
};

// A fake host that keeps every message box and program exit.
struct BoxCall {
    std::string text, title;
    unsigned style;
};
std::vector<BoxCall> g_boxes;
std::vector<int> g_program_exits;
int fake_box(const char* text, const char* title, unsigned style) {
    g_boxes.push_back({text, title, style});
    return 1;
}
int fake_program_exit(int code) {
    g_program_exits.push_back(code);
    return 0;
}
HostOps fake_host() {
    HostOps ops{};
    ops.message_box = fake_box;
    ops.program_exit = fake_program_exit;
    return ops;
}

}  // namespace

// The diagnostic line of each severity, catalogue texts with and without
// arguments, and the codes that have no text.
TEST_F(Diags, LinesBySeverityAndCode) {
    std::string long_text(1000, 'x');
    struct Row {
        const char* label;
        Status code;
        int kind;  // 0 no arguments, 1 unit and file, 2 %.*s, 3 %s
        std::string expected;
    };
    const Row rows[] = {
        {"success", status_of(0), 0, "forrtl (0): operation completed successfully\r\n"},
        {"info", status_of(3), 0, "forrtl: info (3): ignored requested disposition\r\n"},
        {"info args", status_of(5), 1,
         "forrtl: info (5): requested disposition modified, file not deleted, unit 15, file quartz.imp.dat\r\n"},
        {"info %.*s", status_of(58), 2, "forrtl: info (58): format syntax error at or near (F6.\r\n"},
        {"error", status_of(63), 1, "forrtl: error (63): output conversion error, unit 15, file quartz.imp.dat\r\n"},
        {"error %s", status_of(200), 3, "forrtl: error (200): program aborting due to control-C event\r\n"},
        {"error no args", status_of(73), 0, "forrtl: error (73): floating divide by zero\r\n"},
        {"unknown", make_status(SEV_ERROR, 4321), 0, "forrtl: error (4321): Message not found\n"},
        {"unknown args", make_status(SEV_INFO, 4321), 1, "forrtl: info (4321): Message not found\n"},
        {"version record", make_status(SEV_INFO, 6), 0, "forrtl: info (6): Message not found\n"},
        {"wrong severity", make_status(SEV_INFO, 63), 0, "forrtl: info (63): Message not found\n"},
        {"signed 16-bit", 0x8000FFFFu, 0, "forrtl: error (-1): Message not found\n"},
        {"signed 16-bit 0x8000", make_status(SEV_INFO, 0x8000), 0, "forrtl: info (-32768): Message not found\n"},
    };
    for (const Row& r : rows) {
        long long ended;
        std::string out = captured(
            [&] {
                switch (r.kind) {
                case 0: for_report(r.code, 0); break;
                case 1: for_report(r.code, 2, 15, "quartz.imp.dat"); break;
                case 2: for_report(r.code, 2, 4, "(F6.2)"); break;
                case 3: for_report(r.code, 1, "control-C"); break;
                }
            },
            &ended);
        EXPECT_EQ(bracket(out), bracket(r.expected)) << r.label;
        EXPECT_EQ(ended, -1) << r.label;
    }

    // A message cut at 395 characters still ends its line.
    std::string out = captured([&] { for_report(status_of(58), 2, 1000, long_text.c_str()); });
    std::string prefix = "forrtl: info (58): ";
    ASSERT_EQ(out.size(), prefix.size() + 395);
    EXPECT_EQ(out.substr(out.size() - 3), "x\r\n");
}

// Severity 3 shows its line, then ends with the status code itself.
TEST_F(Diags, SevereEndsWithStatusCode) {
    long long ended;
    std::string out = captured([] { for_report(status_of(29), 2, 10, "/data/quartz.dat"); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (29): file not found, unit 10, file /data/quartz.dat\r\n"));
    EXPECT_EQ(ended, 0xC000001DLL);

    out = captured([] { for_report(status_of(172), 2, 0x1dL, 0x1dL); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (172): Program Exception - exception code = 0x1d (29)\r\n"));
    EXPECT_EQ(ended, 0xC00000ACLL);

    out = captured([] { for_report(make_status(SEV_SEVERE, 9999), 0); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (9999): Message not found\n"));
    EXPECT_EQ(ended, static_cast<long long>(make_status(SEV_SEVERE, 9999)));
}

// The alternate numbers: the four fixed ones, one distinct value in the
// 6000 range for every message 540..759, and nothing outside.
TEST_F(Diags, AlternateNumbers) {
    EXPECT_EQ(for_alternate_number(540), 6096);
    EXPECT_EQ(for_alternate_number(551), 6200);
    EXPECT_EQ(for_alternate_number(655), 6998);
    EXPECT_EQ(for_alternate_number(759), 6804);
    EXPECT_EQ(for_alternate_number(539), -1);
    EXPECT_EQ(for_alternate_number(760), -1);
    std::set<int> seen;
    for (unsigned m = 540; m <= 759; ++m) {
        int n = for_alternate_number(m);
        EXPECT_TRUE(n >= 6000 && n <= 6999) << m;
        EXPECT_TRUE(seen.insert(n).second) << m << " repeats " << n;
    }

    long long ended;
    std::string out = captured([] { for_report_alternate(655 - 540, 0); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (6998): Using PaneShell is illegal in console application\r\n"));
    EXPECT_EQ(ended, 0xC000028FLL);

    out = captured([] { for_report_alternate(657 - 540, 1, 3); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (6901): DIM argument to SIZE out of range (value 3)\r\n"));

    for (int index : {-1, 220}) {
        out = captured([&] { for_report_alternate(index, 0); }, &ended);
        EXPECT_EQ(out.rfind("forrtl: severe (8): internal consistency check failure, file for_diags.cpp, line ", 0),
                  0u)
            << index << " " << bracket(out);
        EXPECT_EQ(ended, static_cast<long long>(status_of(8))) << index;
    }
}

TEST_F(Diags, MathErrorForm) {
    long long ended;
    std::string out = captured([] { for_report_math_error(6201, "sqrt: DOMAIN error", 15); }, &ended);
    EXPECT_EQ(bracket(out), bracket("\r\nrun-time error M6201: MATH\r\n- sqrt: DOMAIN error\r\n"));
    EXPECT_EQ(ended, 3);

    out = captured([] { for_report_math_error(6202, "log10: SING error", 40); }, &ended);
    EXPECT_EQ(bracket(out), bracket("\r\nrun-time error M6202\r\n- log10: SING error\r\n"));
    EXPECT_EQ(ended, 3);
}

// The run-time's own trap: every parameter gives its message and ends the
// run, error severity included.
TEST_F(Diags, TrapParameters) {
    struct Row {
        int parameter;
        std::string line;
    };
    const Row rows[] = {
        {-1, "forrtl: severe (70): integer overflow\r\n"},
        {-4, "forrtl: error (73): floating divide by zero\r\n"},
        {-6, "forrtl: error (65): floating invalid\r\n"},
        {-7, "forrtl: severe (140): floating inexact\r\n"},
        {-17, "forrtl: severe (150): range error\r\n"},
        {-18, "forrtl: severe (154): array index out of bounds\r\n"},
        {-19, "forrtl: severe (155): array index out of bounds for index 1\r\n"},
        {-25, "forrtl: severe (155): array index out of bounds for index 7\r\n"},
        {-26, "forrtl: severe (156): GENTRAP code = 0xffffffe6 (-26)\r\n"},
        {5, "forrtl: severe (156): GENTRAP code = 0x5 (5)\r\n"},
    };
    for (const Row& r : rows) {
        long long ended;
        std::string out = captured([&] { for_report_trap(r.parameter); }, &ended);
        EXPECT_EQ(bracket(out), bracket(r.line)) << r.parameter;
        EXPECT_NE(ended, -1) << r.parameter;
    }
}

// Trap counts at exit: only the kinds the option word asks for, only when
// non-zero, in the order underflow, overflow, divide by zero, invalid.
TEST_F(Diags, TrapCountsAtExit) {
    TrapCounts counts{2, 0, 5, 1};
    std::string out = captured([&] { for_report_trap_counts((1u << 9) | (1u << 8) | (1u << 10), counts); });
    EXPECT_EQ(bracket(out), bracket("forrtl: info (300): 2 floating underflow traps\r\n"
                                    "forrtl: info (299): 5 floating divide-by-zero traps\r\n"));
    out = captured([&] { for_report_trap_counts(0, counts); });
    EXPECT_EQ(out, "");
}

// The system's text joined to the prefix; an errno without a text falls
// back to the fixed wording.  Both end their line.
TEST_F(Diags, SystemErrorLine) {
    std::string out = captured([] { for_report_system_error("forrtl", ENOENT); });
    EXPECT_EQ(bracket(out), bracket("forrtl: No such file or directory\r\n"));
    out = captured([] { for_report_system_error("forrtl", 99999); });
    EXPECT_EQ(bracket(out), bracket("forrtl: FormatMessage failed for sysmem message number 99999\r\n"));
}

// Under a host every text goes to a message box and nothing to standard
// error; a severe error tells the host before the end.
TEST_F(Diags, HostMessageBoxes) {
    HostOps ops = fake_host();
    for_register_host(&ops);
    g_boxes.clear();
    g_program_exits.clear();
    long long ended;
    std::string out = captured(
        [] {
            for_report(status_of(63), 2, 6, "CONOUT$");
            for_report_system_error("forrtl", ENOENT);
        },
        &ended);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ended, -1);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(bracket(g_boxes[0].text), bracket("forrtl: error (63): output conversion error, unit 6, file CONOUT$\r\n"));
    EXPECT_EQ(g_boxes[0].title, "Velstra run-time error ");
    EXPECT_EQ(g_boxes[0].style, unsigned(MB_TASK_MODAL | MB_ICON_ERROR | MB_OK_BUTTON));
    EXPECT_EQ(bracket(g_boxes[1].text), bracket("forrtl: No such file or directory\r\n"));
    EXPECT_EQ(g_boxes[1].title, "Velstra run-time error ");

    g_boxes.clear();
    out = captured([] { for_report(status_of(29), 2, 10, "quartz.dat"); }, &ended);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ended, 0xC000001DLL);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(bracket(g_boxes[0].text), bracket("forrtl: severe (29): file not found, unit 10, file quartz.dat\r\n"));
    // The host is told the code the program ends with, for its exit prompt.
    EXPECT_EQ(g_program_exits, std::vector<int>{static_cast<int>(0xC000001Du)});

    g_boxes.clear();
    g_program_exits.clear();
    out = captured([] { for_report_math_error(6201, "sqrt: DOMAIN error", 15); }, &ended);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ended, 3);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(bracket(g_boxes[0].text), bracket("M6201: MATH\r\n- sqrt: DOMAIN error"));
    EXPECT_EQ(g_boxes[0].title, "run-time error ");
    EXPECT_EQ(g_boxes[0].style, unsigned(MB_TASK_MODAL | MB_ICON_ERROR));
    EXPECT_EQ(g_program_exits, std::vector<int>{3});
}

TEST_F(Diags, EnvSwitchTruthTable) {
    struct Row {
        const char* value;  // nullptr: not set
        bool on;
    };
    const Row rows[] = {
        {nullptr, false}, {"", false},     {"T", true},     {"true", true},  {"t", true},
        {"Y", true},      {"yes", true},   {"y", true},     {"1", true},     {"007", true},
        {"10", true},     {"99999999999999999999", true},   {"0", false},    {"000", false},
        {"N", false},     {"F", false},    {"no", false},   {"1a", false},   {" 1", false},
        {"-1", false},    {"+1", false},   {"0x1", false},
    };
    for (const Row& r : rows) {
        if (r.value)
            setenv("LOXNAR_TEST_SWITCH", r.value, 1);
        else
            unsetenv("LOXNAR_TEST_SWITCH");
        EXPECT_EQ(for_env_switch("LOXNAR_TEST_SWITCH"), r.on) << "[" << (r.value ? r.value : "(unset)") << "]";
    }
    unsetenv("LOXNAR_TEST_SWITCH");
}

namespace {

std::vector<std::string> g_events;
void record_line_feed(int unit) {
    g_events.push_back("lf " + std::to_string(unit));
    if (unit == 6) std::fputs("\n", stderr);  // unit 6's console line was open
}
void record_pending(Lub* lub) { g_events.push_back("pending " + std::to_string(lub->unit)); }
Status record_release(Lub* lub) {
    g_events.push_back("release " + std::to_string(lub->unit));
    return 0;
}
Status record_clear(Lub* lub) {
    g_events.push_back("clear " + std::to_string(lub->unit));
    return 0;
}
Status record_close(Lub* lub) {
    g_events.push_back("close " + std::to_string(lub->unit));
    return 0;
}

class IoError : public Diags {
protected:
    void SetUp() override {
        Diags::SetUp();
        g_io_error_hooks.clear_pending = record_pending;
        g_io_error_hooks.console_line_feed = record_line_feed;
        g_io_error_hooks.action[IOERR_RELEASE] = record_release;
        g_io_error_hooks.action[IOERR_CLEAR_RELEASE] = record_clear;
        g_io_error_hooks.action[IOERR_CLOSE] = record_close;
        g_events.clear();
        std::strcpy(name_, "quartz.imp.dat");
        lub_.name = name_;
        lub_.name_length = static_cast<std::uint16_t>(std::strlen(name_));
        lub_.unit = 15;
    }
    char name_[32];
    Lub lub_{};
};

}  // namespace

// With a branch for it the statement gets its result back and nothing is
// shown; the action applies in every case.
TEST_F(IoError, BranchesReturnWithoutReport) {
    struct Row {
        const char* label;
        bool err, end, eor, conversion;
        unsigned number;
        int result;
    };
    const Row rows[] = {
        {"ERR file not found", true, false, false, false, 29, 29},
        {"ERR end of file", true, false, false, false, 24, -1},
        {"ERR eof encountered", true, false, false, false, 613, -1},
        {"ERR end of record", true, false, false, false, 268, -2},
        {"ERR eor encountered", true, false, false, false, 758, -2},
        {"ERR conversion", true, false, false, false, 63, 63},
        {"END end of file", false, true, false, false, 24, -1},
        {"END too many records", false, true, false, false, 27, -1},
        {"END eof encountered", false, true, false, false, 613, -1},
        {"EOR end of record", false, false, true, false, 268, -2},
        {"EOR eor encountered", false, false, true, false, 758, -2},
        {"conversion option", false, false, false, true, 63, 63},
    };
    for (const Row& r : rows) {
        lub_.error_branch = r.err;
        lub_.end_branch = r.end;
        lub_.eor_branch = r.eor;
        lub_.return_conversion_errors = r.conversion;
        lub_.system_error = ENOENT;
        g_events.clear();
        long long ended;
        int result = 0;
        std::string out = captured([&] { result = for_handle_io_error(IOERR_RELEASE, status_of(r.number), &lub_); },
                                   &ended);
        EXPECT_EQ(result, r.result) << r.label;
        EXPECT_EQ(out, "") << r.label;
        EXPECT_EQ(ended, -1) << r.label;
        EXPECT_EQ(g_events, (std::vector<std::string>{"pending 15", "release 15"})) << r.label;
        const LastError& last = for_last_error();
        EXPECT_EQ(last.words[0], static_cast<std::int32_t>(status_of(r.number))) << r.label;
        EXPECT_EQ(last.words[1], ENOENT) << r.label;
        EXPECT_EQ(last.words[2], 0) << r.label;
        EXPECT_EQ(last.words[3], 15) << r.label;
        EXPECT_EQ(last.words[4], 0) << r.label;
        if (r.err || r.conversion) {
            EXPECT_EQ(lub_.system_error, 0) << r.label;
        }
    }
}

// Without a matching branch: the open console line gets its LF, then the
// kept system error, then the message with unit and file; then the action.
TEST_F(IoError, ReportOrderAndActions) {
    lub_.end_branch = true;  // does not cover an output conversion error
    long long ended;
    int result = 0;
    std::string out =
        captured([&] { result = for_handle_io_error(IOERR_CLOSE, status_of(63), &lub_); }, &ended);
    EXPECT_EQ(result, 0);  // reported: nothing to return to a statement without an error branch
    EXPECT_EQ(ended, -1);
    EXPECT_EQ(bracket(out), bracket("\nforrtl: error (63): output conversion error, unit 15, file quartz.imp.dat\r\n"));
    EXPECT_EQ(g_events,
              (std::vector<std::string>{"pending 15", "lf 6", "lf -2", "lf 0", "lf -1", "close 15"}));

    // A severe error with a kept system error: two lines, then the end with
    // the status code.
    std::strcpy(name_, "/data/quartz.dat");
    lub_.name_length = static_cast<std::uint16_t>(std::strlen(name_));
    lub_.unit = 10;
    lub_.end_branch = false;
    lub_.system_error = ENOENT;
    g_io_error_hooks.console_line_feed = nullptr;
    out = captured([&] { for_handle_io_error(IOERR_CLEAR_RELEASE, status_of(29), &lub_); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: No such file or directory\r\n"
                                    "forrtl: severe (29): file not found, unit 10, file /data/quartz.dat\r\n"));
    EXPECT_EQ(ended, 0xC000001DLL);

    // A text that does not take (unit, file) is shown as it stands rather
    // than fed arguments of the wrong types; no block at all names "unknown".
    out = captured([&] { for_handle_io_error(IOERR_KEEP, status_of(8), &lub_); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (8): internal consistency check failure, file %s, line %d\r\n"));
    out = captured([&] { for_handle_io_error(IOERR_KEEP, status_of(32), nullptr); }, &ended);
    EXPECT_EQ(bracket(out), bracket("forrtl: severe (32): invalid logical unit number, unit 0, file unknown\r\n"));
}

// ---- the end of the program in a child process --------------------------

namespace {
void units_closed() { std::fputs("units closed\n", stderr); }
}  // namespace

TEST_F(Diags, SevereRunsExitHandlerAndExits) {
    EXPECT_EXIT(
        {
            for_set_fatal_hook(nullptr);
            g_close_all_units = units_closed;
            for_note_unit_connected();
            for_report(status_of(29), 2, 10, "quartz.dat");
        },
        testing::ExitedWithCode(29), "forrtl: severe \\(29\\): file not found, unit 10, file quartz.dat.*units closed");
    // Message 38 is 0xC0000026: POSIX keeps the low 8 bits.
    EXPECT_EXIT(
        {
            for_set_fatal_hook(nullptr);
            for_report(status_of(38), 2, 6, "CONOUT$");
        },
        testing::ExitedWithCode(38), "error during write");
    EXPECT_EXIT(
        {
            for_set_fatal_hook(nullptr);
            for_report_math_error(6201, "sqrt: DOMAIN error", 15);
        },
        testing::ExitedWithCode(3), "run-time error M6201: MATH");
}

TEST_F(Diags, DumpFlagsAndDebugException) {
    struct Row {
        const char* label;
        const char* f77;
        const char* kesfort;
        bool aborts;
    };
    const Row rows[] = {
        {"f77 y", "y", nullptr, true},      {"f77 Yes", "Yes", nullptr, true}, {"kesfort y", nullptr, "y", true},
        {"f77 N", "N", nullptr, false},     {"f77 N decides", "N", "y", false},
        {"f77 empty decides", "", "Y", false},
    };
    for (const Row& r : rows) {
        auto severe = [&] {
            for_set_fatal_hook(nullptr);
            if (r.f77) setenv("f77_dump_flag", r.f77, 1);
            if (r.kesfort) setenv("kesfort_dump_flag", r.kesfort, 1);
            for_report(status_of(29), 2, 10, "quartz.dat");
        };
        if (r.aborts)
            EXPECT_EXIT(severe(), testing::KilledBySignal(SIGABRT), "file not found") << r.label;
        else
            EXPECT_EXIT(severe(), testing::ExitedWithCode(29), "file not found") << r.label;
    }
    EXPECT_EXIT(
        {
            for_set_fatal_hook(nullptr);
            setenv("FOR_GENERATE_DEBUG_EXCEPTION", "1", 1);
            for_report(status_of(29), 2, 10, "quartz.dat");
        },
        testing::KilledBySignal(SIGTRAP), "file not found");
    EXPECT_EXIT(
        {
            for_set_fatal_hook(nullptr);
            setenv("FOR_GENERATE_DEBUG_EXCEPTION", "1", 1);
            for_report(status_of(169), 0);
        },
        testing::ExitedWithCode(169), "noncontinuable exception");
}

// FORT0 is taken once, on the first diagnostic: the lines are appended to
// that file and nothing goes to standard error.
TEST_F(Diags, Fort0AppendsOnce) {
    std::string path = temp_file("diags_fort0_");
    std::string other = path + ".other";
    {
        std::ofstream f(path, std::ios::binary);
        f << "earlier run\n";
    }
    std::remove(other.c_str());
    EXPECT_EXIT(
        {
            setenv("FORT0", path.c_str(), 1);
            for_report(status_of(63), 2, 15, "quartz.imp.dat");
            setenv("FORT0", other.c_str(), 1);
            for_report(status_of(3), 0);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^$");
    std::ifstream f(path, std::ios::binary);
    std::stringstream content;
    content << f.rdbuf();
    EXPECT_EQ(bracket(content.str()),
              bracket("earlier run\n"
                      "forrtl: error (63): output conversion error, unit 15, file quartz.imp.dat\r\n"
                      "forrtl: info (3): ignored requested disposition\r\n"));
    EXPECT_NE(access(other.c_str(), F_OK), 0);
    std::remove(path.c_str());
}

// ---- processor exceptions ------------------------------------------------

TEST(Signals, MessageMapping) {
    struct Row {
        int signo, code;
        unsigned number;
    };
    const Row rows[] = {
        {SIGSEGV, SEGV_MAPERR, 157}, {SIGSEGV, SEGV_ACCERR, 157}, {SIGILL, ILL_ILLOPC, 168},
        {SIGBUS, BUS_ADRALN, 158},   {SIGFPE, FPE_FLTDIV, 73},    {SIGFPE, FPE_FLTINV, 65},
        {SIGFPE, FPE_FLTOVF, 72},    {SIGFPE, FPE_FLTUND, 74},    {SIGFPE, FPE_FLTRES, 140},
        {SIGFPE, FPE_INTDIV, 164},   {SIGFPE, FPE_INTOVF, 165},   {SIGFPE, FPE_FLTSUB, 161},
        {SIGFPE, SI_USER, 75},       {SIGTERM, SI_USER, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(for_signal_message(r.signo, r.code), r.number) << "signal " << r.signo << " code " << r.code;
}

namespace {

// Delivers `signo` to the calling thread with the given si_code, as the
// kernel does for a fault (a process may send itself any code).
void deliver(int signo, int code) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    info.si_signo = signo;
    info.si_code = code;
    syscall(SYS_rt_tgsigqueueinfo, getpid(), syscall(SYS_gettid), signo, &info);
}

// The sanitizer runtime installs its own handlers for some of these
// signals; the child takes them back to the default first so that the
// run-time's installation is what is tested.
void default_dispositions() {
    for (int s : {SIGSEGV, SIGILL, SIGFPE, SIGBUS}) std::signal(s, SIG_DFL);
}

void own_handler(int) { _exit(7); }

}  // namespace

TEST(Signals, HandlerReportsAndEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Row {
        int signo, code;
        int exit_code;
        const char* line;
    };
    const Row rows[] = {
        {SIGSEGV, SEGV_MAPERR, 157, "^forrtl: severe \\(157\\): Program Exception - access violation\r\n$"},
        {SIGILL, ILL_ILLOPC, 168, "^forrtl: severe \\(168\\): Program Exception - illegal instruction\r\n$"},
        {SIGBUS, BUS_ADRALN, 158, "^forrtl: severe \\(158\\): Program Exception - datatype misalignment\r\n$"},
        {SIGFPE, FPE_FLTDIV, 73, "^forrtl: error \\(73\\): floating divide by zero\r\n$"},
        {SIGFPE, FPE_FLTINV, 65, "^forrtl: error \\(65\\): floating invalid\r\n$"},
        {SIGFPE, FPE_FLTOVF, 72, "^forrtl: error \\(72\\): floating overflow\r\n$"},
        {SIGFPE, FPE_FLTUND, 74, "^forrtl: error \\(74\\): floating underflow\r\n$"},
        {SIGFPE, FPE_INTDIV, 164, "^forrtl: severe \\(164\\): Program Exception - integer divide by zero\r\n$"},
        {SIGFPE, FPE_INTOVF, 165, "^forrtl: severe \\(165\\): Program Exception - integer overflow\r\n$"},
    };
    for (const Row& r : rows) {
        EXPECT_EXIT(
            {
                default_dispositions();
                for_install_exception_handlers();
                deliver(r.signo, r.code);
                std::fputs("not ended\n", stderr);
                _exit(1);
            },
            testing::ExitedWithCode(r.exit_code), r.line)
            << r.signo << " " << r.code;
    }
    // Floating inexact is reported and execution goes on.
    EXPECT_EXIT(
        {
            default_dispositions();
            for_install_exception_handlers();
            deliver(SIGFPE, FPE_FLTRES);
            std::fputs("went on\n", stderr);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^forrtl: severe \\(140\\): floating inexact\r\nwent on\n$");
}

// A real trap: floating divide by zero with the exception unmasked.
TEST(Signals, FloatingDivideByZeroTrap) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            default_dispositions();
            for_install_exception_handlers();
            feenableexcept(FE_DIVBYZERO);
            volatile double zero = 0.0;
            volatile double r = 1.0 / zero;
            (void)r;
            _exit(1);
        },
        testing::ExitedWithCode(73), "^forrtl: error \\(73\\): floating divide by zero\r\n$");
}

// The program's own handler stays; FOR_IGNORE_EXCEPTIONS leaves every
// signal to the system's default handling; FORT0 applies in the handler.
TEST(Signals, OwnHandlerIgnoreSwitchAndFort0) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            default_dispositions();
            std::signal(SIGILL, own_handler);
            for_install_exception_handlers();
            deliver(SIGILL, ILL_ILLOPC);
            _exit(1);
        },
        testing::ExitedWithCode(7), "^$");
    EXPECT_EXIT(
        {
            default_dispositions();
            setenv("FOR_IGNORE_EXCEPTIONS", "YES", 1);
            for_install_exception_handlers();
            deliver(SIGFPE, FPE_FLTDIV);
            _exit(1);
        },
        testing::KilledBySignal(SIGFPE), "^$");

    std::string path = temp_file("diags_sig_fort0_");
    std::remove(path.c_str());
    EXPECT_EXIT(
        {
            default_dispositions();
            setenv("FORT0", path.c_str(), 1);
            for_install_exception_handlers();
            deliver(SIGSEGV, SEGV_MAPERR);
            _exit(1);
        },
        testing::ExitedWithCode(157), "^$");
    std::ifstream f(path, std::ios::binary);
    std::stringstream content;
    content << f.rdbuf();
    EXPECT_EQ(bracket(content.str()), bracket("forrtl: severe (157): Program Exception - access violation\r\n"));
    std::remove(path.c_str());
}
