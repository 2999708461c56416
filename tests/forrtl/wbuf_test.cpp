// Write-behind buffering of output records on disk files: the same bytes
// reach the file as when every record is written on its own, and the
// buffered records are on disk at every point where something else may
// look at the file.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <iostream>

#include "for_diags.h"
#include "for_open_params.h"
#include "for_stop.h"
#include "for_wbuf.h"
#include "unit_fixture.h"

namespace {

using namespace unit_test;

class WbufTest : public TempDirTest {
protected:
    void TearDown() override {
        TempDirTest::TearDown();
        for_wbuf_set_enabled(true);
    }
};

bool has_block(std::int32_t unit) {
    Lub* lub = nullptr;
    if (for_lookup_unit(unit, SK_INQUIRE, &lub) != 0) return false;
    bool buffered = for_wbuf_buffered(lub);
    for_release_unit(lub);
    return buffered;
}

Status write_unformatted(std::int32_t unit, const std::string& bytes) {
    Lub* lub = nullptr;
    Status s = for_lookup_unit(unit, SK_WRITE, &lub);
    if (s != 0) return s;
    s = for_begin_output_record(lub);
    if (s == 0) s = for_record_room(lub, static_cast<std::int32_t>(bytes.size()));
    if (s == 0) {
        std::memcpy(lub->rec.buffer + lub->rec.pos, bytes.data(), bytes.size());
        lub->rec.pos += static_cast<std::int32_t>(bytes.size());
        s = for_put_unformatted_record(lub);
    }
    for_release_unit(lub);
    return s;
}

std::vector<std::string> numbered(int count, int width) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        std::string r = std::to_string(i);
        out.push_back(std::string(static_cast<std::size_t>(width) - r.size(), ' ') + r);
    }
    return out;
}

TEST_F(WbufTest, SameBytesWithAndWithoutBuffering) {
    struct Row {
        const char* label;
        std::string before;                // the file's contents before the OPEN ("" none)
        std::function<void()> statements;  // on unit 20, file "out.dat"
    };
    const Row rows[] = {
        {"FORTRAN carriage control, one statement a record", "",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat").text(KW_CARRIAGECONTROL, "fortran")), 0);
             for (const std::string& r : std::vector<std::string>{" A", "+B", "0C", "1D", "$Name? ", " X",
                                                              std::string("\0Q", 2), "+R", "", "0"})
                 ASSERT_EQ(write_records(20, {r}), 0u) << "[" << r << "]";
         }},
        {"dollar records, LIST carriage control", "",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat")), 0);
             ASSERT_EQ(write_records(20, {"prompt? "}, true), 0u);
             ASSERT_EQ(write_records(20, {"answer", "more"}, true), 0u);
             ASSERT_EQ(write_records(20, {"end"}), 0u);
         }},
        {"truncate on write of a longer old file", std::string(300, 'o'),
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat").text(KW_STATUS, "unknown")), 0);
             ASSERT_EQ(write_records(20, {"new 1", "new 2"}), 0u);
         }},
        {"APPEND after old contents", "old 1\r\nold 2\r\n",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat").text(KW_ACCESS, "append")), 0);
             ASSERT_EQ(write_records(20, numbered(3, 6)), 0u);
         }},
        {"POSITION append", "old\r\n",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat").text(KW_POSITION, "append")), 0);
             ASSERT_EQ(write_records(20, {"after"}), 0u);
         }},
        {"FIXED records", "",
         [] {
             ASSERT_EQ(open_unit(20, Keywords()
                                         .text(KW_FILE, "out.dat")
                                         .text(KW_RECORDTYPE, "fixed")
                                         .inline_int(KW_RECL, 4)),
                       0);
             ASSERT_EQ(write_records(20, {"ab", "wxyz", ""}), 0u);
         }},
        {"unformatted length words, big endian", "",
         [] {
             ASSERT_EQ(open_unit(20, Keywords()
                                         .text(KW_FILE, "out.dat")
                                         .text(KW_FORM, "unformatted")
                                         .text(KW_CONVERT, "BIG_ENDIAN")),
                       0);
             ASSERT_EQ(write_unformatted(20, "abc"), 0u);
             ASSERT_EQ(write_unformatted(20, std::string(70000, 'u')), 0u);
             ASSERT_EQ(write_unformatted(20, std::string(5, '\0')), 0u);
         }},
        {"records across many blocks and one larger than a block", "",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat")), 0);
             ASSERT_EQ(write_records(20, numbered(5000, 33)), 0u);
             ASSERT_EQ(write_records(20, {std::string(kWriteBehindSize + 7, 'L')}), 0u);
             ASSERT_EQ(write_records(20, numbered(3000, 21)), 0u);
         }},
        {"read-ahead given back before a write", "a\nb\nc\n",
         [] {
             ASSERT_EQ(open_unit(20, Keywords().text(KW_FILE, "out.dat").text(KW_STATUS, "old")), 0);
             std::vector<std::string> got;
             ASSERT_EQ(read_records(20, 1, got), 0u);
             ASSERT_EQ(write_records(20, {"X", "Y"}), 0u);
         }},
    };
    for (const Row& row : rows) {
        std::string result[2];
        for (int on = 0; on < 2; ++on) {
            for_wbuf_set_enabled(on == 1);
            std::remove("out.dat");
            if (!row.before.empty()) spit("out.dat", row.before);
            row.statements();
            if (HasFatalFailure()) return;
            EXPECT_EQ(has_block(20), on == 1) << row.label;
            ASSERT_EQ(close_unit(20), 0) << row.label;
            result[on] = slurp("out.dat");
        }
        EXPECT_FALSE(result[0].empty()) << row.label;
        EXPECT_EQ(result[1] == result[0], true) << row.label << "\n  unbuffered [" << visible(result[0].substr(0, 200))
                                                << "]\n  buffered   [" << visible(result[1].substr(0, 200)) << "]";
    }
}

TEST_F(WbufTest, RecordsAreOnDiskBeforeTheFileIsLookedAtAgain) {
    // Reading the unit itself, at the end of the file.
    ASSERT_EQ(open_unit(21, Keywords().text(KW_FILE, "rw.dat")), 0);
    ASSERT_TRUE(has_block(21));
    ASSERT_EQ(write_records(21, {"one", "two"}), 0u);
    // The first record goes out at once: the file ends after it.
    EXPECT_EQ(slurp("rw.dat"), "one\r\n") << "[held back]";
    std::vector<std::string> got;
    EXPECT_EQ(read_records(21, 1, got), status_of(MSG_END_OF_FILE));
    EXPECT_EQ(slurp("rw.dat"), "one\r\ntwo\r\n") << "[read on the same unit]";

    // OPEN of the connected unit on the same file.
    ASSERT_EQ(write_records(21, {"three"}), 0u);
    ASSERT_EQ(open_unit(21, Keywords().text(KW_FILE, "rw.dat")), 0);
    EXPECT_EQ(slurp("rw.dat"), "one\r\ntwo\r\nthree\r\n") << "[re-OPEN]";

    // A diagnostic that does not end the run.
    ASSERT_EQ(write_records(21, {"four"}), 0u);
    for_report(make_status(SEV_INFO, 5), 2, 21, "rw.dat");
    EXPECT_EQ(slurp("rw.dat"), "one\r\ntwo\r\nthree\r\nfour\r\n") << "[diagnostic]";
    ASSERT_EQ(write_records(21, {"five"}), 0u);
    for_report_system_error("forrtl", ENOENT);
    EXPECT_EQ(slurp("rw.dat"), "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n") << "[system error line]";

    // CLOSE with STATUS='DELETE' removes the file after writing it out, and
    // the unit's block is free for the next file.
    ASSERT_EQ(write_records(21, {"six"}), 0u);
    ASSERT_EQ(close_unit(21), 0);
    EXPECT_EQ(slurp("rw.dat"), "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n") << "[CLOSE]";
}

TEST_F(WbufTest, SecondConnectionOfTheFileSeesEveryRecord) {
    ASSERT_EQ(open_unit(22, Keywords().text(KW_FILE, "shared.dat")), 0);
    ASSERT_EQ(write_records(22, {"first", "second"}), 0u);
    ASSERT_EQ(open_unit(23, Keywords().text(KW_FILE, "shared.dat").text(KW_STATUS, "old")), 0);
    std::vector<std::string> got;
    ASSERT_EQ(read_records(23, 2, got), 0u);
    EXPECT_EQ(got, (std::vector<std::string>{"first", "second"}));
    // From now on the writer writes through.
    ASSERT_EQ(write_records(22, {"third"}), 0u);
    ASSERT_EQ(read_records(23, 1, got), 0u);
    EXPECT_EQ(got.back(), "third");
}

TEST_F(WbufTest, PipesAreWrittenRecordByRecord) {
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    int reader = open("fifo", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(open_unit(24, Keywords().text(KW_FILE, "fifo")), 0);
    EXPECT_FALSE(has_block(24));
    for (const char* r : {"alpha", "beta"}) {
        ASSERT_EQ(write_records(24, {r}), 0u);
        char got[64];
        ssize_t n = read(reader, got, sizeof got);
        EXPECT_EQ(std::string(got, n > 0 ? static_cast<std::size_t>(n) : 0), std::string(r) + "\r\n") << r;
    }
    ASSERT_EQ(close_unit(24), 0);
    close(reader);
}

// The death tests below run the statements in a child and look at the file
// it leaves behind.  Standard error goes to the end of the same file (it is
// opened for appending), so a record still held back when the message
// appears would be written over the message.
void results_and_stderr_in(const char* file) {
    ASSERT_EQ(open_unit(30, Keywords().text(KW_FILE, file)), 0);
    ASSERT_EQ(write_records(30, {"r1", "r2"}), 0u);
    int fd = open(file, O_WRONLY | O_APPEND);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

// The run-time's exception handlers, in place of any the sanitizer runtime
// installed (a handler already there would be kept).
void run_time_handlers() {
    for (int s : {SIGSEGV, SIGILL, SIGFPE, SIGBUS}) std::signal(s, SIG_DFL);
    for_install_exception_handlers();
}

TEST_F(WbufTest, RecordsPrecedeTheMessageThatEndsTheRun) {
    struct Row {
        const char* label;
        void (*end)();
        const char* message_start;
    };
    const Row rows[] = {
        {"severe diagnostic", [] { for_report(status_of(MSG_WRITE_ERROR), 2, 30, "x"); }, "forrtl: severe (38)"},
        {"math error", [] { for_report_math_error(2002, "DOMAIN error", 0); }, "\r\nrun-time error M2002"},
        {"system error line", [] { for_report_system_error("forrtl", ENOENT); _exit(0); }, "forrtl: "},
        {"SIGSEGV", [] { run_time_handlers(); raise(SIGSEGV); }, "forrtl: severe (157)"},
        {"SIGFPE", [] { run_time_handlers(); raise(SIGFPE); }, "forrtl: "},
        {"STOP", [] { for_stop(nullptr, 0, SF_ERROR_BRANCH, 0, 0); }, ""},
        {"return from main", [] { std::exit(0); }, ""},
    };
    for (const Row& row : rows) {
        std::string file = std::string("end") + std::to_string(&row - rows) + ".txt";
        auto child = [&] {
            results_and_stderr_in(file.c_str());
            row.end();
            _exit(99);
        };
        EXPECT_EXIT(child(),
            [](int status) { return !WIFEXITED(status) || WEXITSTATUS(status) != 99; }, "")
            << row.label;
        std::string got = slurp(file);
        EXPECT_EQ(visible(got.substr(0, 8 + std::strlen(row.message_start))),
                  visible("r1\r\nr2\r\n" + std::string(row.message_start)))
            << row.label;
    }
}

// A record that cannot be stored (the file size limit, a full disk) fails
// its own WRITE with 38, not a later one: the blocks reserve their space
// before they fill, and without space the records go one by one.  The file
// keeps every record before the failing one, and no part of it.  Each row
// writes 12-byte records until one fails.
TEST_F(WbufTest, RecordThatCannotBeStoredFailsItsOwnWrite) {
    struct Row {
        const char* label;
        int limit;           // file size limit in bytes, or 0
        int disk_kib;        // size of a tmpfs holding the file, or 0
        int failing_errno;
    } rows[] = {
        {"file size limit inside the first block", 1000, 0, EFBIG},
        {"file size limit after two blocks", 150000, 0, EFBIG},
        {"full disk after a reserved block", 0, 100, ENOSPC},
    };
    for (const Row& row : rows) {
        std::string folder = dir_;
        if (row.disk_kib) {
            folder = path("disk");
            mkdir(folder.c_str(), 0755);
            const std::string options = "size=" + std::to_string(row.disk_kib) + "k";
            if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
                std::cout << "[ SKIPPED  ] " << row.label << ": no tmpfs can be mounted here\n";
                continue;
            }
        }
        const std::string file = folder + "/out.dat";
        auto child = [&] {
            signal(SIGXFSZ, SIG_IGN);
            if (row.limit) {
                struct rlimit limit {rlim_t(row.limit), rlim_t(row.limit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (open_unit(31, Keywords().text(KW_FILE, file)) != 0) _exit(2);
            Lub* lub = nullptr;
            if (for_lookup_unit(31, SK_WRITE, &lub) != 0) _exit(3);
            for (int i = 0;; ++i) {
                for_begin_output_record(lub);
                std::memcpy(lub->rec.buffer + lub->rec.pos, "         0", 10);
                lub->rec.pos += 10;
                Status s = for_put_record(lub);
                if (s == 0) continue;
                if (s != status_of(MSG_WRITE_ERROR) || lub->system_error != row.failing_errno) _exit(4);
                struct stat st;
                if (stat(file.c_str(), &st) != 0 || st.st_size != std::int64_t(i) * 12) _exit(5);
                _exit(0);
            }
        };
        EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "") << row.label;
        const std::string got = slurp(file);
        EXPECT_EQ(got.size() % 12, 0u) << row.label;
        EXPECT_EQ(got.substr(got.size() - 12), "         0\r\n") << row.label;
        if (row.limit) {
            EXPECT_GT(got.size() + 12, std::size_t(row.limit)) << row.label;
        }
        if (row.disk_kib) umount2(folder.c_str(), MNT_DETACH);
    }
}

// Write errors the unit's own statements did not see (the descriptor went
// bad under a full block) are reported by the unit's next WRITE, or at the
// latest when the unit is closed; closed by the exit handler at a STOP,
// they end the run with status 38, never 0.
TEST_F(WbufTest, LateWriteErrorIsReportedAndEndsTheRunWith38) {
    auto spoil = [](std::int32_t unit) {
        Lub* lub = nullptr;
        for_lookup_unit(unit, SK_INQUIRE, &lub);
        int fd = open("/dev/null", O_RDONLY);  // writes fail with EBADF
        dup2(fd, lub->handle);
        close(fd);
        for_release_unit(lub);
    };
    auto child = [&] {
        if (open_unit(31, Keywords().text(KW_FILE, "late.dat")) != 0) _exit(2);
        if (write_records(31, numbered(30, 8)) != 0) _exit(3);
        spoil(31);
        // A diagnostic writes every block out; the failure waits for the
        // unit's next WRITE.
        for_report(make_status(SEV_INFO, 5), 2, 21, "rw.dat");
        if (write_records(31, {"x"}) != status_of(MSG_WRITE_ERROR)) _exit(4);
        if (open_unit(31, Keywords().text(KW_FILE, "late.dat")) != 0) _exit(5);
        if (write_records(31, numbered(30, 8)) != 0) _exit(6);
        spoil(31);
        for_stop(nullptr, 0, kCalculatorFlags, 0, 0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(38),
                "forrtl: Bad file descriptor\r\nforrtl: severe \\(38\\): error during write, unit 31, file " +
                    path("late.dat"));
}

TEST_F(WbufTest, UnitsOnStandardOutputShareOneBlock) {
    auto child = [] {
            int fd = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDOUT_FILENO);
            close(fd);
            if (write_records(6, {"six"}) != 0) _exit(2);
            if (!has_block(6)) _exit(3);
            if (write_records(-1, {"print"}) != 0) _exit(4);
            if (write_records(6, {"six again"}) != 0) _exit(5);
            for_close_all_units();
            _exit(0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
    std::string got = slurp("stdout.txt");
    EXPECT_NE(got.find("six"), std::string::npos) << visible(got);
    EXPECT_LT(got.find("six"), got.find("print")) << visible(got);
    EXPECT_LT(got.find("print"), got.find("six again")) << visible(got);
}

}  // namespace
