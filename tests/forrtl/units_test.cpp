// Units and their connection: OPEN, INQUIRE and CLOSE through the statement
// entry points, the unit table, names and devices.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_open_params.h"
#include "for_stmt.h"
#include "forrtl/unit_fixture.h"

using namespace unit_test;

namespace {

constexpr std::uint32_t kCalc = kCalculatorFlags;
constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH;

using UnitsTest = TempDirTest;
using UnitsDeathTest = TempDirTest;

// The calculator's OPEN of a missing entry file: the system's text, then
// message 29 with unit 10 and the full path; the run ends with the status
// code (its low 8 bits on POSIX).
TEST_F(UnitsDeathTest, MissingOldFileReportsTwoLinesAndEnds) {
    std::string expected = "forrtl: No such file or directory\r?\n"
                           "forrtl: severe \\(29\\): file not found, unit 10, file " +
                           path("quartz.dat") + "\r\n";
    EXPECT_EXIT(open_unit(10, Keywords().text(KW_FILE, "quartz.dat").text(KW_STATUS, "old").inline_int(KW_BLANK, 2),
                          kCalc),
                ::testing::ExitedWithCode(0x1D), expected);
}

// A prompt left open on the console gets its line end before the report.
TEST_F(UnitsDeathTest, OpenConsoleLineIsEndedBeforeAReport) {
    auto run = [] {
        dup2(2, 1);  // the console and the diagnostics on one stream
        write_records(6, {"  entry .dat file (no extension) ??"}, true);
        open_unit(10, Keywords().text(KW_FILE, "nowhere.dat").text(KW_STATUS, "old"), kCalc);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0x1D),
                "  entry \\.dat file \\(no extension\\) \\?\\?\nforrtl: No such file");
}

TEST_F(UnitsTest, MissingOldFileWithErrorBranchReturns29Silently) {
    ::testing::internal::CaptureStderr();
    int r = open_unit(10, Keywords().text(KW_FILE, "quartz.dat   ").text(KW_STATUS, "OLD"), kBranch);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(r, 29);
    EXPECT_FALSE(exists("quartz.dat"));
    // The unit stays unconnected: INQUIRE by unit answers UNDEFINED.
    char form[12];
    EXPECT_EQ(inquire(10, Keywords().out_text(KW_FORM, form, sizeof form)), 0);
    EXPECT_EQ(std::string(form, sizeof form), "UNDEFINED   ");
}

TEST_F(UnitsTest, NewOverExistingFileFails10AndLeavesItUntouched) {
    spit("old.imp.dat", "keep me\r\n");
    EXPECT_EQ(open_unit(15, Keywords().text(KW_FILE, "old.imp.dat").text(KW_STATUS, "new"), kBranch), 10);
    EXPECT_EQ(slurp("old.imp.dat"), "keep me\r\n");
    // Under compatibility numbering the same failure is 601.
    EXPECT_EQ(open_unit(15, Keywords().text(KW_FILE, "old.imp.dat").text(KW_STATUS, "NEW"),
                        kBranch | SF_COMPAT_NUMBERING),
              601);
    EXPECT_EQ(open_unit(15, Keywords().text(KW_FILE, "fresh.imp.dat").text(KW_STATUS, "new"), kBranch), 0);
    EXPECT_TRUE(exists("fresh.imp.dat"));
}

TEST_F(UnitsTest, InquireByFileStoresExistAtTheVariableWidth) {
    spit("there.dat", "x\n");
    struct Row {
        const char* label;
        const char* file;
        std::uint8_t type;
        std::uint32_t flags;
        std::int64_t expected;
    };
    const Row rows[] = {
        {"missing, 4 bytes", "absent.dat", 16, 0, 0},
        {"present, 4 bytes", "there.dat", 16, 0, -1},
        {"present, 1 byte", "there.dat", 14, 0, -1},
        {"present, 2 bytes", "there.dat", 15, 0, -1},
        {"present, 8 bytes", "there.dat", 17, 0, -1},
        {"present, true is 1", "there.dat", 16, SF_TRUE_NONZERO, 1},
        {"device name", "NUL", 16, 0, -1},
        {"blank-padded name", "  there.dat   ", 16, 0, -1},
    };
    for (const Row& row : rows) {
        std::int64_t buffer = 0x5555555555555555;
        ASSERT_EQ(inquire(-1, Keywords().text(KW_FILE, row.file).by_address(row.type, KW_EXIST, &buffer),
                          kBranch | row.flags),
                  0)
            << row.label;
        int width = row.type == 14 ? 1 : row.type == 15 ? 2 : row.type == 16 ? 4 : 8;
        std::int64_t expected_bits = 0x5555555555555555;
        std::int64_t value = row.expected;
        std::memcpy(&expected_bits, &value, static_cast<std::size_t>(width));
        EXPECT_EQ(buffer, expected_bits) << row.label;
    }
}

TEST_F(UnitsTest, InquireByFileAnswersForTheUnitHoldingTheFullPath) {
    ASSERT_EQ(open_unit(15, Keywords().text(KW_FILE, "held.dat").text(KW_STATUS, "new")), 0);
    char form[12], access[10], recordtype[10], blank[4];
    std::int32_t exist = 0;
    ASSERT_EQ(inquire(-1, Keywords()
                              .text(KW_FILE, path("held.dat"))
                              .out_text(KW_FORM, form, sizeof form)
                              .out_text(KW_ACCESS, access, sizeof access)
                              .out_text(KW_RECORDTYPE, recordtype, sizeof recordtype)
                              .out_text(KW_BLANK, blank, sizeof blank)
                              .by_address(16, KW_EXIST, &exist)),
              0);
    EXPECT_EQ(std::string(form, 12), "FORMATTED   ");
    EXPECT_EQ(std::string(access, 10), "SEQUENTIAL");
    EXPECT_EQ(std::string(recordtype, 10), "STREAM_LF ");
    EXPECT_EQ(std::string(blank, 4), "NULL");
    EXPECT_EQ(exist, -1);
    // The same file under another spelling is looked up on disk: it exists
    // but no unit answers for it.
    ASSERT_EQ(inquire(-1, Keywords().text(KW_FILE, "./sub/../held.dat").out_text(KW_FORM, form, sizeof form)), 0);
    EXPECT_EQ(std::string(form, 12), "FORMATTED   ");  // normalised to the same full path
    mkdir("link", 0777);
    symlink(path("held.dat").c_str(), path("link/alias.dat").c_str());
    ASSERT_EQ(inquire(-1, Keywords().text(KW_FILE, "link/alias.dat").out_text(KW_FORM, form, sizeof form)
                              .by_address(16, KW_EXIST, &exist)),
              0);
    EXPECT_EQ(std::string(form, 12), "UNDEFINED   ");
    EXPECT_EQ(exist, -1);
}

TEST_F(UnitsTest, CloseDeleteRemovesTheFileAndASecondCloseDoesNothing) {
    spit("results.imp.dat", "old results\r\n");
    ASSERT_EQ(open_unit(15, Keywords().text(KW_FILE, "results.imp.dat").text(KW_STATUS, "old"), kCalc), 0);
    EXPECT_EQ(close_unit(15, Keywords().text(KW_DISPOSE, "delete"), kCalc), 0);
    EXPECT_FALSE(exists("results.imp.dat"));
    EXPECT_EQ(close_unit(15, Keywords().text(KW_DISPOSE, "delete"), kCalc), 0);
    EXPECT_EQ(close_unit(15, {}, kCalc), 0);
    // An unconnected unit is released before its keywords are read.
    EXPECT_EQ(close_unit(15, Keywords().text(KW_DISPOSE, "discard")), 0);
}

TEST_F(UnitsTest, UnitNumbersAndTheSharedHashBucket) {
    EXPECT_EQ(open_unit(-6, Keywords().text(KW_FILE, "a.dat")), 32);
    EXPECT_EQ(inquire(-6, Keywords()), 0);  // INQUIRE of an invalid unit: the unit does not exist
    ASSERT_EQ((100 + 5) % 521, (621 + 5) % 521);
    ASSERT_EQ(open_unit(621, Keywords().text(KW_FILE, "u621.dat")), 0);
    ASSERT_EQ(open_unit(100, Keywords().text(KW_FILE, "u100.dat")), 0);
    ASSERT_EQ(open_unit(1142, Keywords().text(KW_FILE, "u1142.dat")), 0);  // the same bucket again
    ASSERT_EQ(write_records(100, {"hundred"}), 0u);
    ASSERT_EQ(write_records(621, {"six two one"}), 0u);
    ASSERT_EQ(write_records(1142, {"last"}), 0u);
    std::vector<std::int32_t> order;
    UnitCursor cursor{};
    while (Lub* lub = for_next_unit(cursor)) {
        order.push_back(lub->unit);
        for_release_unit(lub);
    }
    EXPECT_EQ(order, (std::vector<std::int32_t>{100, 621, 1142}));
    EXPECT_EQ(close_unit(621), 0);
    EXPECT_EQ(close_unit(100), 0);
    EXPECT_EQ(close_unit(1142), 0);
    EXPECT_EQ(slurp("u100.dat"), "hundred\r\n");
    EXPECT_EQ(slurp("u621.dat"), "six two one\r\n");
    EXPECT_EQ(slurp("u1142.dat"), "last\r\n");
}

TEST_F(UnitsTest, RecursiveStatementOnTheSameUnitFails40) {
    for (std::int32_t unit : {7, 300}) {
        Lub* outer = nullptr;
        ASSERT_EQ(for_lookup_unit(unit, SK_WRITE, &outer), 0u);
        Lub* inner = nullptr;
        EXPECT_EQ(for_lookup_unit(unit, SK_WRITE, &inner), status_of(MSG_RECURSIVE_IO)) << unit;
        for_release_unit(outer);
        ASSERT_EQ(for_lookup_unit(unit, SK_WRITE, &inner), 0u) << unit;
        for_release_unit(inner);
    }
}

TEST(DeviceNames, LookupRules) {
    struct Row {
        const char* name;
        int code;
        const char* stored;
    };
    // Only the bare names are devices (an empty extension counts as none):
    // on Linux a name with an extension is an ordinary file.
    const Row rows[] = {
        {"PRN.DAT", -1, ""},      {"CON.DAT", -1, ""},     {"con", 1, "CON"},        {"COM1.", -4, "COM1"},
        {"USER.DAT", -1, ""},     {"ERR.LOG", -1, ""},     {"CONOUT$.TXT", -1, ""},  {"LPT1.TXT", -1, ""},
        {"LPT2", -2, "LPT2"},     {"NUL", -3, "NUL"},      {"CONIN$", 0, "CONIN$"},  {"user", -6, "USER"},
        {"ERR", 2, "ERR"},        {"LINE", -4, "LINE"},    {"AUX.X", -1, ""},        {"COM12", -1, ""},
        {"data/CON", -1, ""},     {"PRNX.DAT", -1, ""},    {"aux.dat", -1, ""},      {"com1.dat", -1, ""},
        {"aux", -4, "AUX"},       {"Com1", -4, "COM1"},    {"nul.txt", -1, ""},      {"prn", -2, "PRN"},
    };
    for (const Row& row : rows) {
        char stored[8] = {};
        EXPECT_EQ(device_lookup(row.name, static_cast<int>(std::strlen(row.name)), stored), row.code) << row.name;
        if (row.code != -1) {
            EXPECT_STREQ(stored, row.stored) << row.name;
        }
    }
}

TEST_F(UnitsTest, DeviceNamesConnectToDevicesOrDiskFiles) {
    // Reserved names with an extension are ordinary disk files, read back
    // as written (AUX.dat and COM1.dat are no serial line to wait on).
    for (const char* name : {"USER.DAT", "ERR.LOG", "CONOUT$.TXT", "CON.DAT", "PRN.DAT", "aux.dat", "COM1.dat",
                             "nul.txt"}) {
        ASSERT_EQ(open_unit(30, Keywords().text(KW_FILE, name)), 0) << name;
        EXPECT_EQ(write_records(30, {"kept"}), 0u) << name;
        EXPECT_EQ(close_unit(30), 0);
        EXPECT_EQ(slurp(name), "kept\r\n") << name;
    }
    // The bare CON is the console, stored as CON; NUL swallows records.
    char name[16];
    ASSERT_EQ(open_unit(31, Keywords().text(KW_FILE, "con")), 0);
    ASSERT_EQ(inquire(31, Keywords().out_text(KW_FILE, name, sizeof name)), 0);
    EXPECT_EQ(std::string(name, sizeof name), "CON             ");
    EXPECT_FALSE(exists("con"));
    ASSERT_EQ(open_unit(32, Keywords().text(KW_FILE, "nul")), 0);
    EXPECT_EQ(write_records(32, {"gone"}), 0u);
    EXPECT_EQ(close_unit(32), 0);
    EXPECT_FALSE(exists("nul"));
    // Without the host, TITLE and IOFOCUS are refused as on a unit that is
    // no window.
    EXPECT_EQ(open_unit(33, Keywords().text(KW_FILE, "USER").text(KW_TITLE, "Plot")), 564);
    EXPECT_EQ(open_unit(33, Keywords().text(KW_FILE, "USER").inline_int(KW_IOFOCUS, 1)), 562);
}

TEST_F(UnitsTest, Fort5RedirectsUnitFive) {
    spit("typed.txt", "quartz\r\nsecond\n");
    setenv("FORT5", "typed.txt", 1);
    std::vector<std::string> records;
    Status s = read_records(5, 2, records);
    unsetenv("FORT5");
    ASSERT_EQ(s, 0u);
    EXPECT_EQ(records, (std::vector<std::string>{"quartz", "second"}));
    char name[128] = {};
    ASSERT_EQ(inquire(5, Keywords().out_text(KW_FILE, name, sizeof name - 1)), 0);
    EXPECT_EQ(std::string(name).substr(0, path("typed.txt").size()), path("typed.txt"));
}

TEST_F(UnitsTest, FirstWriteCreatesFortDotUnitWithItsFullPath) {
    ASSERT_EQ(write_records(20, {"first"}), 0u);
    EXPECT_EQ(slurp("fort.20"), "first\r\n");
    std::int32_t exist = 0;
    char form[9];
    ASSERT_EQ(inquire(-1, Keywords().text(KW_FILE, path("fort.20")).by_address(16, KW_EXIST, &exist)
                              .out_text(KW_FORM, form, sizeof form)),
              0);
    EXPECT_EQ(exist, -1);
    EXPECT_EQ(std::string(form, 9), "FORMATTED");
}

TEST_F(UnitsTest, BlankFileNameFailsOrTakesTheNextCommandLineArgument) {
    EXPECT_EQ(open_unit(11, Keywords().text(KW_FILE, "     ").text(KW_STATUS, "old")), 29);
    char arg0[] = "prog", arg1[] = "first.dat", arg2[] = "second.dat";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    for_set_command_line(3, argv);
    EXPECT_EQ(open_unit(11, Keywords().text(KW_FILE, "   ").text(KW_STATUS, "new"), kBranch | SF_PROMPT_NAMES), 0);
    EXPECT_EQ(open_unit(12, Keywords().text(KW_STATUS, "new"), kBranch | SF_PROMPT_NAMES), 0);
    EXPECT_TRUE(exists("first.dat"));
    EXPECT_TRUE(exists("second.dat"));
    for_set_command_line(0, nullptr);
}

TEST_F(UnitsTest, ReopenOfTheSameFileChangesBlankOnlyAndAnotherFileSwitches) {
    ASSERT_EQ(open_unit(15, Keywords().text(KW_FILE, "one.dat").text(KW_STATUS, "new")), 0);
    ASSERT_EQ(write_records(15, {"kept"}), 0u);
    char blank[4];
    ASSERT_EQ(open_unit(15, Keywords().text(KW_FILE, path("one.dat")).text(KW_BLANK, "zero")), 0);
    ASSERT_EQ(inquire(15, Keywords().out_text(KW_BLANK, blank, 4)), 0);
    EXPECT_EQ(std::string(blank, 4), "ZERO");
    ASSERT_EQ(write_records(15, {"still"}), 0u);  // the same connection goes on
    ASSERT_EQ(open_unit(15, Keywords().text(KW_FILE, "two.dat")), 0);
    EXPECT_EQ(slurp("one.dat"), "kept\r\nstill\r\n");
    ASSERT_EQ(write_records(15, {"second file"}), 0u);
    EXPECT_EQ(close_unit(15), 0);
    EXPECT_EQ(slurp("two.dat"), "second file\r\n");
}

TEST_F(UnitsTest, ScratchFilesAreTemporaryAndGoAwayOnClose) {
    ASSERT_EQ(open_unit(40, Keywords().text(KW_STATUS, "scratch")), 0);
    char name[200] = {};
    ASSERT_EQ(inquire(40, Keywords().out_text(KW_FILE, name, sizeof name - 1)), 0);
    std::string stored(name);
    stored = stored.substr(0, stored.find(' '));
    EXPECT_EQ(stored.substr(0, dir_.size() + 4), dir_ + "/FOR");
    EXPECT_TRUE(exists(stored));
    EXPECT_EQ(close_unit(40, Keywords().text(KW_DISPOSE, "keep")), 46);  // a scratch file cannot be kept
    EXPECT_EQ(close_unit(40), 0);
    EXPECT_FALSE(exists(stored));
    // A refused scratch OPEN leaves no temporary file behind.
    EXPECT_EQ(open_unit(40, Keywords().text(KW_STATUS, "scratch").text(KW_ACTION, "read")), 46);
    EXPECT_EQ(open_unit(40, Keywords().text(KW_STATUS, "scratch").inline_int(KW_RECL, -1)), 37);
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
    // The same when the unit was connected: its new scratch file is made
    // before the OPEN is refused, and goes again.
    ASSERT_EQ(open_unit(40, Keywords().text(KW_FILE, "first.dat")), 0);
    EXPECT_EQ(open_unit(40, Keywords().text(KW_STATUS, "scratch").text(KW_DISPOSE, "keep")), 46);
    ASSERT_EQ(open_unit(40, Keywords().text(KW_FILE, "first.dat")), 0);
    setenv("FORT_CONVERT40", "middle_endian", 1);
    EXPECT_EQ(open_unit(40, Keywords().text(KW_STATUS, "scratch")), 46);
    unsetenv("FORT_CONVERT40");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"first.dat"});
}

TEST_F(UnitsTest, KeywordFailures) {
    struct Row {
        const char* label;
        Keywords kw;
        std::uint32_t flags;
        int expected;
    };
    std::vector<Row> rows;
    static char file_text[] = "k.dat";
    static float real_recl = 80.0f;
    // The keyword list is read by the item walker: an entry it cannot size
    // is an internal consistency failure; a value type the keyword does not
    // take is an invalid argument.
    rows.push_back({"character by address", Keywords().by_address(56, KW_FILE, file_text), 0, 8});
    rows.push_back({"real RECL", Keywords().text(KW_FILE, "k.dat").by_address(26, KW_RECL, &real_recl), 0, 48});
    rows.push_back({"value in no table", Keywords().text(KW_FILE, "k.dat").text(KW_STATUS, "OLDISH"), 0, 45});
    rows.push_back({"code above 70", Keywords().text(KW_FILE, "k.dat").inline_int(71, 1), 0, 48});
    rows.push_back({"code below 2", Keywords().text(KW_FILE, "k.dat").inline_int(1, 1), 0, 48});
    rows.push_back({"EXIST in OPEN", Keywords().text(KW_FILE, "k.dat").inline_int(KW_EXIST, 1), 0, 48});
    rows.push_back({"integer STATUS out of table", Keywords().text(KW_FILE, "k.dat").inline_int(KW_STATUS, 9), 0, 48});
    rows.push_back({"compat STATUS", Keywords().text(KW_FILE, "k.dat").inline_int(KW_STATUS, 9), SF_COMPAT_NUMBERING,
                    570});
    rows.push_back({"compat ACTION", Keywords().text(KW_FILE, "k.dat").inline_int(KW_ACTION, 7), SF_COMPAT_NUMBERING,
                    749});
    rows.push_back({"RECL 0", Keywords().text(KW_FILE, "k.dat").inline_int(KW_RECL, 0), 0, 37});
    rows.push_back({"compat RECL 0", Keywords().text(KW_FILE, "k.dat").inline_int(KW_RECL, 0), SF_COMPAT_NUMBERING,
                    581});
    rows.push_back({"direct without RECL", Keywords().text(KW_FILE, "k.dat").text(KW_ACCESS, "direct"), 0, 37});
    rows.push_back({"DELIM on unformatted",
                    Keywords().text(KW_FILE, "k.dat").text(KW_FORM, "unformatted").text(KW_DELIM, "quote"), 0, 46});
    rows.push_back({"NEW read-only", Keywords().text(KW_FILE, "k.dat").text(KW_STATUS, "new").text(KW_ACTION, "read"),
                    0, 46});
    for (Row& row : rows) {
        EXPECT_EQ(open_unit(50, row.kw, kBranch | row.flags), row.expected) << row.label;
        EXPECT_FALSE(exists("k.dat")) << row.label;
    }
    setenv("FORT_CONVERT50", "middle_endian", 1);
    EXPECT_EQ(open_unit(50, Keywords().text(KW_FILE, "k.dat")), 46);
    setenv("FORT_CONVERT50", "big_endian", 1);
    EXPECT_EQ(open_unit(50, Keywords().text(KW_FILE, "k.dat").text(KW_FORM, "unformatted")), 0);
    unsetenv("FORT_CONVERT50");
    char convert[12];
    ASSERT_EQ(inquire(50, Keywords().out_text(KW_CONVERT, convert, sizeof convert)), 0);
    EXPECT_EQ(std::string(convert, sizeof convert), "BIG_ENDIAN  ");
    EXPECT_EQ(close_unit(50, Keywords().text(KW_FORM, "formatted")), 48);  // CLOSE takes STATUS only
    EXPECT_EQ(close_unit(50, Keywords().text(KW_DISPOSE, "discard")), 45);
}

TEST_F(UnitsTest, ReadOnlyUnitCannotDeleteItsFile) {
    spit("entry.dat", "line\n");
    ASSERT_EQ(open_unit(16, Keywords().text(KW_FILE, "entry.dat").text(KW_ACTION, "read")), 0);
    EXPECT_EQ(close_unit(16, Keywords().text(KW_DISPOSE, "delete")), 46);
    EXPECT_TRUE(exists("entry.dat"));
    EXPECT_EQ(close_unit(16), 0);
    // A read-only OPEN never creates the file.
    EXPECT_EQ(open_unit(16, Keywords().text(KW_FILE, "absent.dat").text(KW_ACTION, "read")), 29);
    EXPECT_FALSE(exists("absent.dat"));
}

// A name with a NUL inside is a file name error and touches nothing: cut at
// the NUL it would reach another file (here the entry data file "qu").  A
// trailing NUL counts as a blank.
TEST_F(UnitsTest, NameWithANulIsAFileNameError) {
    spit("qu", "kept\n");
    const std::string nul_name("qu\0x.dat", 8);
    char exist[4] = {};
    struct Row {
        const char* label;
        int result;
        int statement;  // 0 OPEN, 1 INQUIRE
        Keywords keywords;
    } rows[] = {
        {"OPEN old", 43, 0, Keywords().text(KW_FILE, nul_name).text(KW_STATUS, "old")},
        {"OPEN new", 43, 0, Keywords().text(KW_FILE, nul_name).text(KW_STATUS, "new")},
        {"OPEN unknown", 43, 0, Keywords().text(KW_FILE, nul_name)},
        {"DEFAULTFILE", 43, 0, Keywords().text(KW_FILE, "x.dat").text(KW_DEFAULTFILE, std::string("d\0ir", 5))},
        {"INQUIRE", 43, 1, Keywords().text(KW_FILE, nul_name).by_address(16, KW_EXIST, exist)},
        {"trailing NULs", 0, 1, Keywords().text(KW_FILE, std::string("qu\0\0", 4)).by_address(16, KW_EXIST, exist)},
    };
    for (Row& row : rows) {
        const int result = row.statement == 0 ? open_unit(10, row.keywords) : inquire(-1, row.keywords);
        EXPECT_EQ(result, row.result) << row.label;
        EXPECT_EQ(close_unit(10), 0);
    }
    EXPECT_EQ(exist[0], -1);  // the trailing NULs named "qu"
    EXPECT_EQ(slurp("qu"), "kept\n");
    EXPECT_FALSE(exists("x.dat"));
    EXPECT_FALSE(exists("d"));
}

// A directory where a file is expected: opening it for writing is refused
// as access denied, and so is the read-only retry (a directory is no file
// to read records from).  STATUS new finds it existing.
TEST_F(UnitsTest, DirectoryWhereAFileIsExpected) {
    ASSERT_EQ(mkdir("d.dat", 0755), 0);
    struct Row {
        const char* label;
        Keywords keywords;
        int result;
    } rows[] = {
        {"old (the entry file)", Keywords().text(KW_FILE, "d.dat").text(KW_STATUS, "old"), 9},
        {"unknown", Keywords().text(KW_FILE, "d.dat"), 9},
        {"action read", Keywords().text(KW_FILE, "d.dat").text(KW_ACTION, "read"), 9},
        {"action write", Keywords().text(KW_FILE, "d.dat").text(KW_ACTION, "write"), 9},
        {"new", Keywords().text(KW_FILE, "d.dat").text(KW_STATUS, "new"), 10},
    };
    for (Row& row : rows) EXPECT_EQ(open_unit(15, row.keywords), row.result) << row.label;
    EXPECT_EQ(open_unit(15, Keywords().text(KW_FILE, "d.dat"), kBranch | SF_COMPAT_NUMBERING), 600);
}

// A formatted WRITE of one record (A) with an error branch.
int write_statement(std::int32_t unit, const std::string& text) {
    static const char kFormat[] = "(A)";
    const std::uint8_t items[] = {TYPE_CHARACTER, 4, ITEM_END_OF_LIST, 0};
    const ArgWord args[] = {text.size(), reinterpret_cast<ArgWord>(text.data())};
    return format_write_begin(unit, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(kFormat), 3,
                              items, args);
}

// A FIFO, or a device that is no terminal, connected without ACTION is
// read-only unless its first statement writes: opened for writing too, the
// program would be the FIFO's own writer and never see its end.  The OPEN
// does not wait for a writer; the records a writer gives end with
// end-of-file (24) once it closes.  A first WRITE makes the unit writable
// as before; such a unit may be deleted.
TEST_F(UnitsTest, FifosAndDevicesWithoutActionAreReadUnlessWritten) {
    char action[9];
    auto action_of = [&](std::int32_t unit) {
        EXPECT_EQ(inquire(unit, Keywords().out_text(KW_ACTION, action, sizeof action)), 0);
        return std::string(action, sizeof action);
    };
    ASSERT_EQ(mkfifo("e.dat", 0600), 0);
    ASSERT_EQ(open_unit(10, Keywords().text(KW_FILE, "e.dat").text(KW_STATUS, "old")), 0);
    EXPECT_EQ(action_of(10), "READ     ");
    const int writer = open("e.dat", O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "title\n4 4 4\n", 12), 12);
    close(writer);
    std::vector<std::string> got;
    EXPECT_EQ(read_records(10, 3, got), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(got, (std::vector<std::string>{"title", "4 4 4"}));
    EXPECT_EQ(write_statement(10, "x"), MSG_WRITE_READONLY);
    EXPECT_EQ(close_unit(10, Keywords().text(KW_DISPOSE, "delete")), 0);
    EXPECT_FALSE(exists("e.dat"));

    // A device: /dev/null reads as an empty file.
    ASSERT_EQ(open_unit(11, Keywords().text(KW_FILE, "/dev/null")), 0);
    EXPECT_EQ(action_of(11), "READ     ");
    EXPECT_EQ(read_records(11, 1, got), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(close_unit(11), 0);

    // Written first, the unit reads and writes as before; ACTION decides as
    // for any file.
    ASSERT_EQ(mkfifo("out.fifo", 0600), 0);
    const int reader = open("out.fifo", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(open_unit(12, Keywords().text(KW_FILE, "out.fifo")), 0);
    ASSERT_EQ(write_statement(12, "record"), 0);
    EXPECT_EQ(action_of(12), "READWRITE");
    char bytes[16] = {};
    EXPECT_EQ(read(reader, bytes, sizeof bytes), 8);
    EXPECT_EQ(std::string(bytes), "record\r\n");
    EXPECT_EQ(close_unit(12), 0);
    ASSERT_EQ(open_unit(13, Keywords().text(KW_FILE, "/dev/null").text(KW_ACTION, "readwrite")), 0);
    EXPECT_EQ(action_of(13), "READWRITE");
    close(reader);
}

// Another process that connects unit 30 with `keywords` through the
// run-time and closes it again, each when the test asks.  The child is made
// at once and holds the table of units it had then: make it before the test
// connects files of its own.  Every wait has a limit; a child that dies is
// as one killed.
class OtherProcess {
public:
    explicit OtherProcess(Keywords keywords) {
        int answers[2], requests[2];
        if (pipe(answers) != 0 || pipe(requests) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(answers[0]);
            close(requests[1]);
            alarm(30);
            char c;
            while (read(requests[0], &c, 1) == 1) {
                const int r = c == 'o' ? open_unit(30, keywords) : close_unit(30);
                if (write(answers[1], &r, sizeof r) != sizeof r) break;
            }
            _exit(0);
        }
        close(answers[1]);
        close(requests[0]);
        answers_ = answers[0];
        requests_ = requests[1];
    }
    ~OtherProcess() { end(); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    // The result of the child's OPEN or CLOSE; -2 when no answer came.
    int open() { return ask('o'); }
    int close_file() { return ask('c'); }
    // Tells the child to end and waits for it (killed after 10 s).
    void end() {
        if (pid_ <= 0) return;
        close(requests_);
        close(answers_);
        for (int i = 0; i < 1000 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(10000);
        if (kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // The child dies at once, its file still connected.
    void crash() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        close(requests_);
        close(answers_);
        pid_ = -1;
    }

private:
    int ask(char request) {
        int result = -2;
        pollfd p{answers_, POLLIN, 0};
        if (pid_ > 0 && write(requests_, &request, 1) == 1 && poll(&p, 1, 10000) == 1 &&
            read(answers_, &result, sizeof result) != sizeof result)
            result = -2;
        return result;
    }
    pid_t pid_ = -1;
    int answers_ = -1, requests_ = -1;
};

// A unit that writes a disk file without SHARED lets other processes only
// read it, and a unit that reads lets them read: whatever comes second and
// conflicts fails with "open failure" (30) and changes nothing of the
// file.  SHARED lets writers share, and a reader with SHARED lets others
// write; SHARE='DENYRW' shares nothing.  The lock goes with a process that
// dies.
TEST_F(UnitsTest, OtherProcessesReadOrShareAFileAUnitHolds) {
    spit("f.dat", "kept\n");
    const auto file = [] { return Keywords().text(KW_FILE, "f.dat"); };
    struct Row {
        const char* label;
        Keywords holder, other;
        int result;
    } rows[] = {
        {"writer, then a reader", file(), file().text(KW_ACTION, "read"), 30},
        {"writer, then a writer", file(), file(), 30},
        {"writer, then a delete", file(), file().text(KW_STATUS, "old"), 30},
        {"reader, then a writer", file().text(KW_ACTION, "read"), file(), 30},
        {"reader, then a reader", file().text(KW_ACTION, "read"), file().text(KW_ACTION, "read"), 0},
        {"writer, then a reader that shares", file(), file().text(KW_ACTION, "read").inline_int(KW_SHARED, 1), 0},
        {"shared writers", file().inline_int(KW_SHARED, 1), file().inline_int(KW_SHARED, 1), 0},
        {"DENYRW reader, then a reader", file().text(KW_ACTION, "read").text(KW_SHARE, "denyrw"),
         file().text(KW_ACTION, "read"), 30},
    };
    for (Row& row : rows) {
        OtherProcess holder(row.holder);
        ASSERT_EQ(holder.open(), 0) << row.label;
        EXPECT_EQ(open_unit(31, row.other), row.result) << row.label;
        EXPECT_EQ(close_unit(31, Keywords().text(KW_DISPOSE, row.result == 0 ? "keep" : "delete")), 0) << row.label;
        holder.end();
        EXPECT_EQ(slurp("f.dat"), "kept\n") << row.label;
    }

    // The holder dies: its lock goes with it.
    OtherProcess crashed(file());
    ASSERT_EQ(crashed.open(), 0);
    EXPECT_EQ(open_unit(31, file()), 30);
    crashed.crash();
    EXPECT_EQ(open_unit(31, file()), 0);
    EXPECT_EQ(close_unit(31, Keywords().text(KW_DISPOSE, "delete")), 0);
    EXPECT_FALSE(exists("f.dat"));
}

// Units of one process on the same file never exclude each other; the
// process holds the file exclusively while any of them writes, and shared
// again when only readers are left.
TEST_F(UnitsTest, UnitsOfOneProcessShareTheirLock) {
    spit("f.dat", "line\n");
    const auto reader = [] { return Keywords().text(KW_FILE, "f.dat").text(KW_ACTION, "read"); };
    OtherProcess other(reader());
    ASSERT_EQ(open_unit(20, reader()), 0);
    EXPECT_EQ(other.open(), 0);
    EXPECT_EQ(other.close_file(), 0);
    ASSERT_EQ(open_unit(21, Keywords().text(KW_FILE, "f.dat").text(KW_STATUS, "old")), 0);
    EXPECT_EQ(other.open(), 30);
    EXPECT_EQ(close_unit(21), 0);
    EXPECT_EQ(other.open(), 0);
    EXPECT_EQ(other.close_file(), 0);
    EXPECT_EQ(close_unit(20), 0);
}

TEST_F(UnitsTest, SerialDeviceIsTheFirstSerialPort) {
    // Without a port the OPEN fails with "no such device"; with one it
    // connects without waiting for a carrier.
    int expected = -1;
    int fd = open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
        expected = 0;
    } else if (errno == ENOENT || errno == EIO || errno == ENXIO || errno == ENODEV) {
        expected = 42;
    }
    if (expected < 0) GTEST_SKIP() << "the serial port cannot be opened here";
    EXPECT_EQ(open_unit(16, Keywords().text(KW_FILE, "COM1.")), expected);
    EXPECT_EQ(open_unit(17, Keywords().text(KW_FILE, "line")), expected);
    char name[4];
    if (expected == 0) {
        ASSERT_EQ(inquire(17, Keywords().out_text(KW_FILE, name, sizeof name)), 0);
        EXPECT_EQ(std::string(name, 4), "LINE");
    }
}

TEST_F(UnitsTest, ReadOnlyFileIsRetriedForReadingAndCannotBeDeleted) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens read-only files for writing";
    spit("ro.dat", "line\n");
    chmod("ro.dat", 0444);
    ASSERT_EQ(open_unit(16, Keywords().text(KW_FILE, "ro.dat").text(KW_STATUS, "old")), 0);
    char action[9];
    ASSERT_EQ(inquire(16, Keywords().out_text(KW_ACTION, action, sizeof action)), 0);
    EXPECT_EQ(std::string(action, sizeof action), "READ     ");
    EXPECT_EQ(close_unit(16, Keywords().text(KW_DISPOSE, "delete")), 46);
    EXPECT_TRUE(exists("ro.dat"));
    // With ACTION given there is no retry.
    EXPECT_EQ(close_unit(16), 0);
    EXPECT_EQ(open_unit(16, Keywords().text(KW_FILE, "ro.dat").text(KW_ACTION, "readwrite")), 9);
}

// A stand-in lp records its arguments so that the print dispositions can be
// checked without a printer.
class PrintTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        spit("lp", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> " + path("lp.log") +
                       "\necho >> " + path("lp.log") + "\n");
        chmod("lp", 0755);
        setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", old_path_.c_str(), 1);
        unsetenv("FOR_DEFAULT_PRINT_DEVICE");
        TempDirTest::TearDown();
    }
    std::string old_path_;
};

TEST_F(PrintTest, PrintDeleteKeepsTheFileAndReturnsInformationFive) {
    ASSERT_EQ(open_unit(17, Keywords().text(KW_FILE, "listing.txt")), 0);
    ASSERT_EQ(write_records(17, {"page"}), 0u);
    EXPECT_EQ(close_unit(17, Keywords().text(KW_DISPOSE, "print/delete")), 5);
    EXPECT_TRUE(exists("listing.txt"));
    EXPECT_EQ(slurp("lp.log"), "--|" + path("listing.txt") + "|\n");

    // Without an error branch the information is shown, the program goes on
    // and the statement's result is 0.
    ASSERT_EQ(open_unit(17, Keywords().text(KW_FILE, "listing.txt")), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(close_unit(17, Keywords().text(KW_DISPOSE, "print/delete"), kCalc), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "forrtl: info (5): requested disposition modified, file not deleted, unit 17, file " +
                  path("listing.txt") + "\r\n");

    setenv("FOR_DEFAULT_PRINT_DEVICE", "office", 1);
    ASSERT_EQ(open_unit(17, Keywords().text(KW_FILE, "listing.txt")), 0);
    EXPECT_EQ(close_unit(17, Keywords().text(KW_DISPOSE, "PRINT")), 0);
    const std::string plain = "--|" + path("listing.txt") + "|\n";
    EXPECT_EQ(slurp("lp.log"), plain + plain + "-d|office|--|" + path("listing.txt") + "|\n");
}

TEST_F(PrintTest, PrinterDeviceSpoolsToTheDefaultPrinterAtClose) {
    setenv("FOR_DEFAULT_PRINT_DEVICE", "office", 1);  // only for the PRINT disposition
    ASSERT_EQ(open_unit(18, Keywords().text(KW_FILE, "prn")), 0);
    ASSERT_EQ(write_records(18, {"to the printer"}), 0u);
    EXPECT_EQ(close_unit(18), 0);
    std::string log = slurp("lp.log");
    ASSERT_EQ(log.substr(0, 3), "--|");
    EXPECT_NE(log.find("/FOR"), std::string::npos) << log;
    EXPECT_FALSE(exists("prn"));
}

// When lp cannot be started or refuses the file, the spool file of a
// printer unit is kept and the close fails with "CLOSE error" (28) naming
// it; a file closed with the print disposition is kept as always, and its
// close fails the same way.  At the end of the run the failure is
// reported and the remaining units are closed.
TEST_F(PrintTest, FailedPrintKeepsTheFileAndFailsTheClose) {
    struct Row {
        const char* label;
        const char* lp;  // the stand-in's script, nullptr for no lp at all
    } rows[] = {
        {"no lp", nullptr},
        {"lp refuses", "#!/bin/sh\necho 'lp: Error - no default destination available.' >&2\nexit 1\n"},
    };
    for (const Row& row : rows) {
        if (row.lp) {
            spit("lp", row.lp);
        } else {
            unlink("lp");
        }
        setenv("PATH", dir_.c_str(), 1);  // nothing else named lp
        auto spooled = [&] {
            std::vector<std::string> files;
            for (const auto& f : std::filesystem::directory_iterator(dir_))
                if (f.path().filename().string().rfind("FOR", 0) == 0) files.push_back(f.path().string());
            return files;
        };
        ASSERT_EQ(open_unit(18, Keywords().text(KW_FILE, "prn")), 0) << row.label;
        ASSERT_EQ(write_records(18, {"to the printer"}), 0u) << row.label;
        EXPECT_EQ(close_unit(18), 28) << row.label;
        std::vector<std::string> kept = spooled();
        ASSERT_EQ(kept.size(), 1u) << row.label;
        EXPECT_EQ(slurp(kept[0]), "to the printer\r\n") << row.label;
        unlink(kept[0].c_str());

        ASSERT_EQ(open_unit(19, Keywords().text(KW_FILE, "lpt1")), 0) << row.label;
        ASSERT_EQ(write_records(19, {"page"}), 0u) << row.label;
        ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "listing.txt").text(KW_DISPOSE, "print/delete")), 0);
        ::testing::internal::CaptureStderr();
        g_close_all_units();
        const std::string err = ::testing::internal::GetCapturedStderr();
        kept = spooled();
        ASSERT_EQ(kept.size(), 1u) << row.label;
        EXPECT_EQ(slurp(kept[0]), "page\r\n") << row.label;
        EXPECT_TRUE(exists("listing.txt")) << row.label;
        EXPECT_NE(err.find("forrtl: severe (28): CLOSE error, unit 19, file " + kept[0] + "\r\n"), std::string::npos)
            << row.label << err;
        EXPECT_NE(err.find("forrtl: severe (28): CLOSE error, unit 20, file " + path("listing.txt") + "\r\n"),
                  std::string::npos)
            << row.label << err;
        unlink(kept[0].c_str());
        g_exit_running = false;
    }
}

// At the end of the run a failed close is reported with its unit and file
// and does not stop the closing of the units that follow.
TEST_F(PrintTest, ExitHandlerReportsCloseFailuresAndGoesOn) {
    ASSERT_EQ(open_unit(23, Keywords().text(KW_FILE, "listing.txt").text(KW_DISPOSE, "print/delete")), 0);
    ASSERT_EQ(open_unit(24, Keywords().text(KW_FILE, "vanished.dat").text(KW_DISPOSE, "delete")), 0);
    ASSERT_EQ(open_unit(25, Keywords().text(KW_FILE, "last.dat")), 0);
    ASSERT_EQ(write_records(25, {"kept"}), 0u);
    ASSERT_EQ(unlink("vanished.dat"), 0);
    ::testing::internal::CaptureStderr();
    g_close_all_units();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "forrtl: info (5): requested disposition modified, file not deleted, unit 23, file " +
                  path("listing.txt") + "\r\n" + "forrtl: No such file or directory\r\n" +
                  "forrtl: severe (28): CLOSE error, unit 24, file " + path("vanished.dat") + "\r\n");
    EXPECT_TRUE(exists("listing.txt"));
    EXPECT_EQ(slurp("last.dat"), "kept\r\n");
    UnitCursor cursor{};
    EXPECT_EQ(for_next_unit(cursor), nullptr);
}

TEST_F(UnitsTest, SubmitDeleteRunsTheFileAndRemovesIt) {
    ASSERT_EQ(open_unit(19, Keywords().text(KW_FILE, "job.sh")), 0);
    ASSERT_EQ(write_records(19, {"echo ran > " + path("ran.txt")}), 0u);
    EXPECT_EQ(close_unit(19, Keywords().text(KW_DISPOSE, "submit/delete")), 0);
    // The job runs on its own; wait for its traces.
    for (int i = 0; i < 200 && (exists("job.sh") || !exists("ran.txt")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(slurp("ran.txt"), "ran\n");
    EXPECT_FALSE(exists("job.sh"));
}

TEST_F(UnitsTest, ExitHandlerClosesEveryUnitWithItsDisposition) {
    ASSERT_EQ(open_unit(21, Keywords().text(KW_FILE, "keep.dat")), 0);
    ASSERT_EQ(open_unit(22, Keywords().text(KW_FILE, "gone.dat").text(KW_DISPOSE, "delete")), 0);
    ASSERT_EQ(open_unit(700, Keywords().text(KW_FILE, "far.dat")), 0);
    ASSERT_EQ(write_records(21, {"k"}), 0u);
    ASSERT_EQ(write_records(700, {"f"}), 0u);
    ASSERT_NE(g_close_all_units, nullptr);
    g_close_all_units();
    EXPECT_EQ(slurp("keep.dat"), "k\r\n");
    EXPECT_EQ(slurp("far.dat"), "f\r\n");
    EXPECT_FALSE(exists("gone.dat"));
    UnitCursor cursor{};
    EXPECT_EQ(for_next_unit(cursor), nullptr);
}

}  // namespace

namespace {

// Standard input and output replaced by files for the length of a test.
class ConsoleTest : public TempDirTest {
protected:
    void redirect(int fd, const std::string& file, int flags) {
        int saved = dup(fd);
        int f = open(file.c_str(), flags, 0644);
        ASSERT_GE(f, 0);
        dup2(f, fd);
        close(f);
        saved_.push_back({fd, saved});
    }
    void TearDown() override {
        for_close_all_units();
        for (auto [fd, saved] : saved_) {
            dup2(saved, fd);
            close(saved);
        }
        TempDirTest::TearDown();
    }
    std::vector<std::pair<int, int>> saved_;
};

TEST_F(ConsoleTest, UnitFiveReadsStandardInputAndGivesReadAheadBack) {
    spit("stdin.txt", "quartz\r\nnext line\n");
    redirect(0, "stdin.txt", O_RDONLY);
    std::vector<std::string> records;
    ASSERT_EQ(read_records(5, 1, records), 0u);
    EXPECT_EQ(records, (std::vector<std::string>{"quartz"}));
    EXPECT_EQ(close_unit(5), 0);
    // Standard input stays open, positioned after the record that was used.
    EXPECT_EQ(lseek(0, 0, SEEK_CUR), 8);
}

// Unit 5 is console input: without the host a WRITE to it is a failed
// write (38), even when standard input could be written, and INQUIRE does
// not call it read-only.
TEST_F(ConsoleTest, WriteToUnitFiveIsAFailedWrite) {
    spit("stdin.txt", "quartz\n");
    redirect(0, "stdin.txt", O_RDWR);
    const char format[] = "(A)";
    const char text[] = "written";
    const std::uint8_t items[] = {TYPE_CHARACTER, 4, ITEM_END_OF_LIST, 0};
    const ArgWord args[] = {sizeof text - 1, reinterpret_cast<ArgWord>(text)};
    EXPECT_EQ(format_write_begin(5, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format),
                                 sizeof format - 1, items, args),
              38);
    char action[9];
    ASSERT_EQ(inquire(5, Keywords().out_text(KW_ACTION, action, sizeof action)), 0);
    EXPECT_EQ(std::string(action, sizeof action), "READWRITE");
    EXPECT_EQ(write_records(5, {"written"}), status_of(MSG_WRITE_ERROR));
    EXPECT_EQ(slurp("stdin.txt"), "quartz\n");
    std::vector<std::string> records;
    ASSERT_EQ(read_records(5, 1, records), 0u);
    EXPECT_EQ(records, (std::vector<std::string>{"quartz"}));
}

TEST_F(ConsoleTest, MissingNameIsAskedForOnTheConsole) {
    spit("answers.txt", "   \n  typed.dat  \n");
    redirect(0, "answers.txt", O_RDONLY);
    redirect(1, "shown.txt", O_WRONLY | O_CREAT | O_TRUNC);
    for_set_command_line(1, nullptr);
    int r = open_unit(44, Keywords().text(KW_STATUS, "new"), kBranch | SF_PROMPT_NAMES);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(exists("typed.dat"));
    const std::string prompt = "File name missing or blank - please enter file name\r\nUNIT 44? ";
    EXPECT_EQ(slurp("shown.txt"), prompt + prompt);
}

TEST_F(ConsoleTest, DefaultUnitsFollowTheirVariablesOrTheConsole) {
    redirect(1, "stdout.txt", O_WRONLY | O_CREAT | O_TRUNC);
    setenv("FOR_PRINT", "printed.txt", 1);
    EXPECT_EQ(write_records(-1, {"by PRINT"}), 0u);
    unsetenv("FOR_PRINT");
    EXPECT_EQ(write_records(-2, {"by TYPE"}), 0u);
    EXPECT_EQ(write_records(6, {"on six"}), 0u);
    for_close_all_units();
    EXPECT_EQ(slurp("printed.txt"), "by PRINT\r\n");
    EXPECT_EQ(slurp("stdout.txt"), "by TYPE\r\non six\r\n");
}

TEST_F(UnitsTest, InternalUnitsAreFreshBlocksOffTheTable) {
    Lub* a = nullptr;
    Lub* b = nullptr;
    ASSERT_EQ(for_lookup_unit(-5, SK_WRITE, &a), 0u);
    ASSERT_EQ(for_lookup_unit(-5, SK_WRITE, &b), 0u);  // nested internal transfers are allowed
    EXPECT_NE(a, b);
    EXPECT_NE(a->internal_area, nullptr);
    for_release_unit(b);
    for_release_unit(a);
    UnitCursor cursor{};
    EXPECT_EQ(for_next_unit(cursor), nullptr);
}

}  // namespace

namespace {

TEST_F(UnitsTest, DefaultFileAndReplace) {
    mkdir("sub", 0777);
    ASSERT_EQ(open_unit(45, Keywords().text(KW_FILE, "a.dat").text(KW_DEFAULTFILE, "  sub  ").text(KW_STATUS, "new")),
              0);
    ASSERT_EQ(write_records(45, {"in sub"}), 0u);
    EXPECT_EQ(close_unit(45), 0);
    EXPECT_EQ(slurp("sub/a.dat"), "in sub\r\n");
    // REPLACE empties an existing file at once, before anything is written.
    ASSERT_EQ(open_unit(45, Keywords().text(KW_FILE, "sub/a.dat").text(KW_STATUS, "replace")), 0);
    EXPECT_EQ(slurp("sub/a.dat"), "");
    EXPECT_EQ(close_unit(45), 0);
}

// Statements on one unit from several threads never mix their records.
TEST_F(UnitsTest, ThreadsTakeTurnsOnAUnit) {
    ASSERT_EQ(open_unit(61, Keywords().text(KW_FILE, "threads.txt")), 0);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 100; ++i) {
                std::string record = "thread " + std::to_string(t) + " record " + std::to_string(i);
                if (write_records(61, {record, record}) != 0) ++failures;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(close_unit(61), 0);
    std::string all = slurp("threads.txt");
    // Each statement's two records stay together.
    std::size_t at = 0;
    int pairs = 0;
    while (at < all.size()) {
        std::size_t end = all.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        std::string first = all.substr(at, end - at);
        std::size_t end2 = all.find("\r\n", end + 2);
        ASSERT_NE(end2, std::string::npos);
        EXPECT_EQ(all.substr(end + 2, end2 - end - 2), first);
        at = end2 + 2;
        ++pairs;
    }
    EXPECT_EQ(pairs, 400);
}

}  // namespace
