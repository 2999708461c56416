// End-to-end runs of the loxnar program: each test runs build/loxnar in a
// fresh temporary folder with an entry data file and a typed name on
// standard input, then compares the results file and the console output
// byte for byte with the date and time stamps masked.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using testfiles::read_file;
using testfiles::write_file;

// Replaces the digits of every stamp with letters, so that listings taken at
// different times compare equal.
std::string mask_stamps(const std::string& text) {
    static const std::regex date(R"( DATE : \d{4}/\d{2}/\d{2})");
    static const std::regex time(R"(TIME( *):  \d{2}h\d{2}mn\d{2}s)");
    std::string s = std::regex_replace(text, date, " DATE : YYYY/MM/DD");
    return std::regex_replace(s, time, "TIME$1:  HHhMMmnSSs");
}

struct RunResult {
    int exit_status = -1;
    std::string out, err;
};

class LoxnarRun : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loxnar-run-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void entry(const std::string& name, const std::string& text) { write_file(dir_ / (name + ".dat"), text); }

    RunResult run(const std::string& typed, const std::string& env = "") {
        write_file(dir_ / "stdin.txt", typed);
        std::string cmd = "cd '" + dir_.string() + "' && " + env + " '" LOXNAR_BINARY_DIR "/loxnar' --console" +
                          " < stdin.txt > stdout.txt 2> stderr.txt";
        int status = std::system(cmd.c_str());
        RunResult r;
        r.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = read_file(dir_ / "stdout.txt");
        r.err = read_file(dir_ / "stderr.txt");
        return r;
    }

    std::string results(const std::string& name) { return read_file(dir_ / name); }

    fs::path dir_;
};

}  // namespace

namespace {

const char kCubic4[] =
    "cubic test cell\n"
    "4.0 4.0 4.0 90 90 90\n";

std::string lines_of(const std::string& text, const std::string& needle) {
    std::string found;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.find(needle) != std::string::npos) found += line + "\n";
    return found;
}

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

}  // namespace

// Every bundled example gives its expected listing and console output.
TEST_F(LoxnarRun, BundledExamplesGiveTheirExpectedListings) {
    const fs::path examples = fs::path(LOXNAR_SOURCE_DIR) / "examples";
    for (const char* name : {"quartz", "silicon", "gypsum", "albite", "salts"}) {
        fs::copy_file(examples / (std::string(name) + ".dat"), dir_ / (std::string(name) + ".dat"));
        RunResult r = run(std::string(name) + "\n");
        EXPECT_EQ(r.exit_status, 0) << name;
        EXPECT_EQ(r.err, "") << name;
        EXPECT_EQ(mask_stamps(results(std::string(name) + ".imp.dat")),
                  read_file(examples / "expected" / (std::string(name) + ".imp.dat")))
            << name;
        EXPECT_EQ(mask_stamps(r.out), read_file(examples / "expected" / (std::string(name) + ".console"))) << name;
    }
}

// The typed name's trailing blanks are not part of the file names; names of
// 17 and 20 characters lose the tail of ".imp.dat" (24 characters at most).
TEST_F(LoxnarRun, FileNamesAreBuiltFromTheTypedName) {
    const std::string one_case = std::string(kCubic4) + "0 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406\n0\n";
    struct Row {
        std::string typed, entry, results;
    } rows[] = {
        {"quartz   \n", "quartz", "quartz.imp.dat"},
        {"abcdefghijklmnopq\n", "abcdefghijklmnopq", "abcdefghijklmnopq.imp.da"},
        {"abcdefghijklmnopqrst\n", "abcdefghijklmnopqrst", "abcdefghijklmnopqrst.imp"},
    };
    for (const Row& row : rows) {
        entry(row.entry, one_case);
        RunResult r = run(row.typed);
        EXPECT_EQ(r.exit_status, 0) << row.entry << r.err;
        EXPECT_TRUE(fs::exists(dir_ / row.results)) << row.results;
        EXPECT_NE(results(row.results).find("NUMBER OF CALCULATED PLANES =   3"), std::string::npos) << row.results;
    }
}

// An old results file is announced with its 24-character name (blanks
// included), deleted and written anew.
TEST_F(LoxnarRun, OldResultsFileIsAnnouncedAndReplaced) {
    entry("quartz", std::string(kCubic4) + "0 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406\n0\n");
    write_file(dir_ / "quartz.imp.dat", "old contents that must disappear\n");
    RunResult r = run("quartz\n");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(lines_of(r.out, "warning"), " warning, this old file will be deleted :quartz.imp.dat          \r\n");
    EXPECT_EQ(results("quartz.imp.dat").find("old contents"), std::string::npos);
    EXPECT_EQ(results("quartz.imp.dat").substr(0, 17), " LOXNAR RESULTS\r\n");
}

// Two cases: the separator "1" stands between the first end stamp and the
// second header, and the second start stamp repeats the first end stamp.
TEST_F(LoxnarRun, TwoCasesAreSeparatedAndShareTheStamp) {
    entry("two", std::string(kCubic4) + "0 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406\n1\n" + kCubic4 +
                     "0 0 0 0 0 0 0 1.9 2.1 2 2 2 1.5406\n0\n");
    RunResult r = run("two\n");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string text = results("two.imp.dat");
    EXPECT_EQ(count_of(text, " LOXNAR RESULTS\r\n"), 2);
    EXPECT_NE(text.find(" ENDING\r\n DATE : "), std::string::npos);
    const std::size_t sep = text.find("s\r\n1\r\n LOXNAR RESULTS\r\n");
    ASSERT_NE(sep, std::string::npos);
    // The end stamp before the separator and the start stamp after it.
    const std::string end_stamp = text.substr(text.rfind(" DATE : ", sep), 20);
    const std::string next_start = text.substr(text.find(" DATE : ", sep), 20);
    EXPECT_EQ(end_stamp, next_start);
    const std::string end_time = text.substr(sep - 9, 10);
    EXPECT_EQ(text.substr(text.find("STARTING TIME :  ", sep) + 17, 10), end_time);
    EXPECT_EQ(count_of(r.out, " LOXNAR RESULTS\r\n"), 2);
    EXPECT_EQ(count_of(r.out, "\n1\r\n"), 0);  // the separator goes to the file only
}

// Counts, bounds and the plane table's layout.
TEST_F(LoxnarRun, CountLineTableAndEchoEdgeCases) {
    struct Row {
        const char* label;
        std::string parameters;
        std::vector<std::string> expected;   // lines that must be in the results file
        std::vector<std::string> absent;     // texts that must be in neither file nor console
    } rows[] = {
        {"one plane: count line, no table", "0 0 0 0 0 0 0 3.9 4.1 -1 -1 -1 1.5406",
         {" NUMBER OF CALCULATED PLANES =   1\r\n\r\n ENDING\r\n"}, {"2 THET"}},
        {"zero bounds echoed as 8", "0 0 0 0 0 0 0 3.9 4.1 0 0 0 1.5406",
         {"  HMAX =   8          KMAX =   8           LMAX =   8\r\n"}, {}},
        {"n = 3 clears the right half", "1 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406",
         {"   0   1   0   4.00000    22.21 :   0   0   0   0.00000     0.00 :\r\n",
          " NUMBER OF CALCULATED PLANES =   3\r\n"},
         {}},
        {"full table", "0 0 0 0 0 0 0 0.1 100 30 30 30 1.5406",
         {" NUMBER OF CALCULATED PLANES = 600\r\n"}, {}},
    };
    for (const Row& row : rows) {
        entry("case", std::string(kCubic4) + row.parameters + "\n0\n");
        RunResult r = run("case\n");
        EXPECT_EQ(r.exit_status, 0) << row.label;
        EXPECT_EQ(r.err, "") << row.label;
        const std::string text = results("case.imp.dat");
        for (const std::string& line : row.expected) EXPECT_NE(text.find(line), std::string::npos) << row.label << line;
        for (const std::string& t : row.absent) {
            EXPECT_EQ(text.find(t), std::string::npos) << row.label << t;
            EXPECT_EQ(r.out.find(t), std::string::npos) << row.label << " (console) " << t;
        }
        if (std::string(row.label) == "full table") {
            EXPECT_EQ(count_of(text, " :\r\n"), 1 + 300);
            EXPECT_EQ(count_of(r.out, " :\r\n"), 1 + 300);
        }
    }
}

// Values too wide for their fields are printed as asterisks; the output
// conversion error is reported after the record is written and the run goes
// on to the end.
TEST_F(LoxnarRun, FieldOverflowShowsAsterisksAndTheRunGoesOn) {
    entry("wide", std::string(kCubic4) + "0 0 0 0 0 0 0 1000 2000 10000 1 1 1.5406\n0\n");
    RunResult r = run("wide\n");
    EXPECT_EQ(r.exit_status, 0);
    const std::string text = results("wide.imp.dat");
    EXPECT_NE(text.find(" D MINIMUM =******          D MAXIMUM =******\r\n"), std::string::npos);
    EXPECT_NE(text.find("  HMAX =****          KMAX =   1           LMAX =   1\r\n"), std::string::npos);
    EXPECT_NE(text.find(" NUMBER OF CALCULATED PLANES =   0\r\n"), std::string::npos);
    EXPECT_NE(text.find(" ENDING"), std::string::npos);
    EXPECT_EQ(r.err, "forrtl: error (63): output conversion error, unit 15, file " + (dir_ / "wide.imp.dat").string() +
                         "\r\n");
}

// Errors a user meets: each ends with its numbered diagnostic and exit
// status, and the results file keeps every record written before the fault.
TEST_F(LoxnarRun, ErrorsEndTheRunWithTheirDiagnostic) {
    const std::string params = "0 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406\n";
    struct Row {
        const char* label;
        std::string entry_text;  // empty: no entry file
        std::string err;         // {dir} stands for the folder
        int exit_status;
        std::string results_tail;  // how the results file ends ("-" none)
    } rows[] = {
        {"missing entry file", "",
         "forrtl: No such file or directory\r\nforrtl: severe (29): file not found, unit 10, file {dir}/e.dat\r\n", 29,
         "-"},
        {"malformed value", "T\n4.0 abc 4.0 90 90 90\n" + params + "0\n",
         "forrtl: severe (59): list-directed I/O syntax error, unit 10, file {dir}/e.dat\r\n", 59, "T" + std::string(71, ' ') + "\r\n"},
        {"value for the wrong item", std::string(kCubic4) + "0 0 0 0 0 0 0 'x' 4.1 1 1 1 1.5406\n0\n",
         "forrtl: severe (64): input conversion error, unit 10, file {dir}/e.dat\r\n", 64,
         "GAMMA =   90.000\r\n\r\n"},
        {"end of file before NEXT", std::string(kCubic4) + params,
         "forrtl: severe (24): end-of-file during read, unit 10, file {dir}/e.dat\r\n", 24, "ENDING TIME   :  "},
        {"impossible cell", "T\n4 4 4 10 10 170\n" + params + "0\n",
         "\r\nrun-time error M6201: MATH\r\n- sqrt: DOMAIN error\r\n", 3, " LAMBDA =  1.5406\r\n\r\n"},
    };
    for (const Row& row : rows) {
        fs::remove(dir_ / "e.dat");
        fs::remove(dir_ / "e.imp.dat");
        if (!row.entry_text.empty()) entry("e", row.entry_text);
        RunResult r = run("e\n");
        EXPECT_EQ(r.exit_status, row.exit_status) << row.label;
        std::string err = row.err;
        for (std::size_t p; (p = err.find("{dir}")) != std::string::npos;) err.replace(p, 5, dir_.string());
        EXPECT_EQ(r.err, err) << row.label;
        if (row.results_tail == "-") {
            EXPECT_FALSE(fs::exists(dir_ / "e.imp.dat")) << row.label;
        } else {
            const std::string text = results("e.imp.dat");
            EXPECT_EQ(text.substr(0, 17), " LOXNAR RESULTS\r\n") << row.label;
            const std::string tail = row.results_tail;
            if (tail.find("TIME") != std::string::npos) {
                EXPECT_NE(text.find(tail), std::string::npos) << row.label;
                EXPECT_EQ(text.substr(text.size() - 3), "s\r\n") << row.label;
            } else {
                ASSERT_GE(text.size(), tail.size()) << row.label;
                EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << row.label;
            }
        }
    }
}

// A results file that cannot be created (the name is taken by a link to
// nowhere) ends the run with message 10; the link is left alone.
TEST_F(LoxnarRun, ResultsFileThatCannotBeCreated) {
    entry("e", std::string(kCubic4) + "0 0 0 0 0 0 0 3.9 4.1 1 1 1 1.5406\n0\n");
    fs::create_symlink("/nonexistent-loxnar-dir/x", dir_ / "e.imp.dat");
    RunResult r = run("e\n");
    EXPECT_EQ(r.exit_status, 10);
    EXPECT_EQ(r.err, "forrtl: File exists\r\nforrtl: severe (10): cannot overwrite existing file, unit 15, file " +
                         (dir_ / "e.imp.dat").string() + "\r\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "e.imp.dat"));
}

// --help and --version answer as Linux programs do.
// A display that is named but does not answer (a stale DISPLAY) leaves the
// program on the console, with one line on standard error saying so.
TEST_F(LoxnarRun, DisplayThatDoesNotAnswerRunsOnTheConsole) {
    const fs::path examples = fs::path(LOXNAR_SOURCE_DIR) / "examples";
    fs::copy_file(examples / "quartz.dat", dir_ / "quartz.dat");
    write_file(dir_ / "stdin.txt", "quartz\n");
    for (const char* env : {"DISPLAY=:4242 WAYLAND_DISPLAY=", "DISPLAY=unix:4242.0 WAYLAND_DISPLAY=",
                            "DISPLAY= WAYLAND_DISPLAY=no-such-wayland-socket"}) {
        fs::remove(dir_ / "quartz.imp.dat");
        std::string cmd = "cd '" + dir_.string() + "' && env -u QT_QPA_PLATFORM " + env + " '" LOXNAR_BINARY_DIR
                          "/loxnar' < stdin.txt > stdout.txt 2> stderr.txt";
        const int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << env;
        EXPECT_EQ(read_file(dir_ / "stderr.txt"), "loxnar: the display does not answer; running on the console\n")
            << env;
        EXPECT_EQ(mask_stamps(read_file(dir_ / "stdout.txt")), read_file(examples / "expected" / "quartz.console"))
            << env;
    }
}

TEST_F(LoxnarRun, HelpAndVersion) {
    std::string cmd = "'" LOXNAR_BINARY_DIR "/loxnar' --help > '" + (dir_ / "h").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(dir_ / "h").rfind("Usage: loxnar", 0), 0u);
    cmd = "'" LOXNAR_BINARY_DIR "/loxnar' --version > '" + (dir_ / "v").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(dir_ / "v").rfind("loxnar ", 0), 0u);
    cmd = "'" LOXNAR_BINARY_DIR "/loxnar' --bogus 2> /dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
}

// ENTRY on the command line answers the prompt: the program works in the
// entry file's folder and its console shows the name on the prompt's line;
// every other byte (console, results file, standard error, status) is that
// of the run in that folder with the name typed, an old results file or
// not.  Standard input is not read: it may be closed.
TEST_F(LoxnarRun, EntryOnTheCommandLineAnswersThePrompt) {
    const fs::path examples = fs::path(LOXNAR_SOURCE_DIR) / "examples";
    fs::create_directories(dir_ / "typed");
    fs::create_directories(dir_ / "data");
    for (const char* example : {"quartz", "silicon", "gypsum", "albite", "salts", "nosuch"}) {
        const std::string name = example;
        for (const std::string& given : {"data/" + name + ".dat", dir_.string() + "/data/" + name}) {
            for (const bool old : {false, true}) {
                const std::string label = given + (old ? " (old results)" : "");
                for (const char* folder : {"typed", "data"}) {
                    if (name != "nosuch") fs::copy_file(examples / (name + ".dat"), dir_ / folder / (name + ".dat"),
                                                        fs::copy_options::overwrite_existing);
                    fs::remove(dir_ / folder / (name + ".imp.dat"));
                    if (old) write_file(dir_ / folder / (name + ".imp.dat"), "old\r\n");
                }
                const std::string loxnar = "'" LOXNAR_BINARY_DIR "/loxnar' --console";
                const std::string typed = "cd '" + (dir_ / "typed").string() + "' && echo " + name + " | " + loxnar +
                                          " >out 2>err; echo $? >status";
                const std::string given_cmd = "cd '" + dir_.string() + "' && " + loxnar + " '" + given +
                                              "' <&- >data/out 2>data/err; echo $? >data/status";
                ASSERT_EQ(std::system(typed.c_str()), 0);
                ASSERT_EQ(std::system(given_cmd.c_str()), 0);
                std::string console = read_file(dir_ / "typed/out");
                const std::string prompt = "  entry .dat file (no extension) ??";
                ASSERT_NE(console.find(prompt), std::string::npos) << label;
                console.insert(console.find(prompt) + prompt.size(), name);
                EXPECT_EQ(mask_stamps(read_file(dir_ / "data/out")), mask_stamps(console)) << label;
                EXPECT_EQ(read_file(dir_ / "data/status"), read_file(dir_ / "typed/status")) << label;
                std::string err = read_file(dir_ / "typed/err");
                for (std::size_t p; (p = err.find("/typed/")) != std::string::npos;) err.replace(p, 7, "/data/");
                EXPECT_EQ(read_file(dir_ / "data/err"), err) << label;
                EXPECT_EQ(mask_stamps(read_file(dir_ / "data" / (name + ".imp.dat"))),
                          mask_stamps(read_file(dir_ / "typed" / (name + ".imp.dat"))))
                    << label;
                EXPECT_FALSE(fs::exists(dir_ / (name + ".imp.dat"))) << label;
            }
        }
    }
}

// An ENTRY the program cannot follow ends it with status 2 and one message
// before anything is opened: nothing is written, the console stays empty.
TEST_F(LoxnarRun, EntryThatCannotBeFollowedEndsWithStatus2) {
    fs::create_directories(dir_ / "folder");
    const struct {
        const char* entry;
        const char* message;
    } rows[] = {
        {"nosuch/quartz.dat", "loxnar: cannot work in the folder 'nosuch': No such file or directory\n"},
        {"folder", "loxnar: 'folder' is a folder, not an entry data file\n"},
        {"folder/abcdefghijklmnopqrstu.dat",
         "loxnar: the entry name 'abcdefghijklmnopqrstu' has 21 characters; the program takes at most 20\n"
         "Try 'loxnar --help'.\n"},
        {"folder/.dat", "loxnar: 'folder/.dat' names no entry data file\nTry 'loxnar --help'.\n"},
    };
    for (const auto& row : rows) {
        for (const char* mode : {"--console", ""}) {
            // Without --console a window would open were the entry taken.
            const std::string cmd = "cd '" + dir_.string() + "' && env QT_QPA_PLATFORM=offscreen '" LOXNAR_BINARY_DIR
                                    "/loxnar' " + mode + " '" + row.entry + "' </dev/null >stdout.txt 2>stderr.txt";
            const int status = std::system(cmd.c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << row.entry << mode;
            EXPECT_EQ(read_file(dir_ / "stderr.txt"), row.message) << row.entry << mode;
            EXPECT_EQ(read_file(dir_ / "stdout.txt"), "") << row.entry << mode;
            std::vector<std::string> files;
            for (const auto& e : fs::recursive_directory_iterator(dir_)) files.push_back(e.path().filename().string());
            std::sort(files.begin(), files.end());
            EXPECT_EQ(files, (std::vector<std::string>{"folder", "stderr.txt", "stdout.txt"})) << row.entry << mode;
        }
    }
}
