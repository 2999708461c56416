// Write-behind buffering of output records on disk files and on standard
// output that is no terminal: the same bytes reach the file as when every
// record is written on its own, the buffered records are out at every
// point where something else may look at the file, a record is handed to
// the system within half a second, and a signal that ends the process
// writes every completed record first.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <thread>

#include "for_diags.h"
#include "for_open_params.h"
#include "for_startup.h"
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

// ---------------------------------------------------------------------------
// Standard output, signals and the half-second bound.

// Standard output is buffered like a disk file unless it is a terminal,
// whose records go out one by one as they are written.
TEST_F(WbufTest, StandardOutputIsBufferedUnlessATerminal) {
    struct Row {
        const char* label;
        std::function<int()> open_target;  // the descriptor standard output becomes
        bool buffered;
    };
    const Row rows[] = {
        {"regular file", [] { return open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600); }, true},
        {"pipe",
         [] {
             int p[2];
             if (pipe(p) != 0) return -1;
             return p[1];  // the read end stays open: writes do not fail
         },
         true},
        {"/dev/null", [] { return open("/dev/null", O_WRONLY); }, true},
        {"terminal",
         [] {
             int master = posix_openpt(O_RDWR | O_NOCTTY);
             if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
             return open(ptsname(master), O_RDWR | O_NOCTTY);
         },
         false},
    };
    for (const Row& row : rows) {
        auto child = [&] {
            int fd = row.open_target();
            if (fd < 0) _exit(2);
            dup2(fd, STDOUT_FILENO);
            if (write_records(6, {"one"}) != 0) _exit(3);
            _exit(has_block(6) ? 10 : 11);
        };
        EXPECT_EXIT(child(), ::testing::ExitedWithCode(row.buffered ? 10 : 11), "") << row.label;
    }
}

// With standard output and standard error on one pipe or file (2>&1),
// records, unit 0's records and diagnostics come out in the order the
// program made them.
TEST_F(WbufTest, StandardErrorAndOutputKeepTheirOrder) {
    const char* kinds[] = {"pipe", "file"};
    for (const char* kind : kinds) {
        int p[2] = {-1, -1};
        const bool piped = std::strcmp(kind, "pipe") == 0;
        if (piped) {
            ASSERT_EQ(pipe(p), 0);
        }
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int fd = piped ? p[1] : open("both.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            if (write_records(6, {"a"}) != 0 || write_records(0, {"b"}) != 0 || write_records(6, {"c"}) != 0)
                _exit(2);
            for_report(make_status(SEV_INFO, 5), 2, 21, "x.dat");
            if (write_records(6, {"d"}) != 0) _exit(3);
            for_report_system_error("forrtl", ENOENT);
            if (write_records(6, {"e"}) != 0) _exit(4);
            for_stop(nullptr, 0, kCalculatorFlags, 0, 0);
        }
        if (piped) close(p[1]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kind;
        std::string got;
        if (piped) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(p[0], buffer, sizeof buffer)) > 0) got.append(buffer, std::size_t(n));
            close(p[0]);
        } else {
            got = slurp("both.txt");
        }
        EXPECT_EQ(visible(got), visible("a\r\nb\r\nc\r\n"
                                        "forrtl: info (5): requested disposition modified, file not deleted, unit 21, "
                                        "file x.dat\r\n"
                                        "d\r\nforrtl: No such file or directory\r\ne\r\n"))
            << kind;
    }
}

namespace {

// A count the child keeps where the parent reads it after the child is gone.
struct SharedCount {
    std::atomic<long>* value;
    SharedCount() {
        void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        value = page == MAP_FAILED ? nullptr : new (page) std::atomic<long>(0);
    }
    ~SharedCount() {
        if (value) munmap(value, 4096);
    }
};

long records_in(const std::string& text) {
    long n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
    return n;
}

// Waits for the child at most `seconds`, then kills it; its wait status.
int wait_at_most(pid_t pid, int seconds) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status;
}

// In the child: standard output to `file`, no core dumps, the run-time's
// signal handling as a run starts it.
void start_child_run(const char* file) {
    struct rlimit no_core {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    for_install_console_handler();
}

}  // namespace

// A signal whose default action ends the process, left at its default by
// the program: the records held back are written, then the process ends by
// the same signal.  The child writes each record to a file unit and to
// standard output (a file, so buffered too) and counts the records done;
// at its end both hold every counted record (and at most the one under
// way).  Without the flush each loses what its last block held.
TEST_F(WbufTest, FatalSignalWritesEveryCompletedRecordFirst) {
    struct Row {
        const char* label;
        int signal_number;
        std::function<void()> in_child;  // arms the signal in the child
        bool sent_by_parent;
    };
    const Row rows[] = {
        {"SIGXCPU (CPU time limit)", SIGXCPU,
         [] {
             struct rlimit cpu {1, RLIM_INFINITY};
             setrlimit(RLIMIT_CPU, &cpu);
         },
         false},
        {"SIGALRM", SIGALRM,
         [] {
             struct itimerval t {{0, 0}, {0, 300000}};
             setitimer(ITIMER_REAL, &t, nullptr);
         },
         false},
        {"SIGVTALRM", SIGVTALRM,
         [] {
             struct itimerval t {{0, 0}, {0, 300000}};
             setitimer(ITIMER_VIRTUAL, &t, nullptr);
         },
         false},
        {"SIGUSR1", SIGUSR1, [] {}, true},
        {"real-time signal", SIGRTMIN + 3, [] {}, true},
        {"SIGABRT (abort)", SIGABRT, [] {}, false},
    };
    for (const Row& row : rows) {
        SharedCount done;
        ASSERT_NE(done.value, nullptr);
        std::remove("sig.dat");
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            start_child_run("sig.out");
            if (open_unit(30, Keywords().text(KW_FILE, "sig.dat")) != 0) _exit(2);
            row.in_child();
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            for (long n = 0;; ++n) {
                const std::string text = "record " + std::to_string(n);
                if (write_records(30, {text}) != 0 || write_records(6, {text}) != 0) _exit(3);
                done.value->store(n + 1);
                if (row.signal_number == SIGABRT && n == 30000) abort();
                if (n % 4096 == 0 && std::chrono::steady_clock::now() > give_up) _exit(99);
            }
        }
        if (row.sent_by_parent) {
            while (done.value->load() < 20000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            kill(pid, row.signal_number);
        }
        const int status = wait_at_most(pid, 40);
        ASSERT_TRUE(WIFSIGNALED(status)) << row.label << ": status " << status;
        EXPECT_EQ(WTERMSIG(status), row.signal_number) << row.label;
        const long counted = done.value->load();
        const std::string file = slurp("sig.dat"), console = slurp("sig.out");
        EXPECT_GE(records_in(file), counted) << row.label;
        EXPECT_LE(records_in(file), counted + 1) << row.label;
        EXPECT_GE(records_in(console), counted) << row.label;
        EXPECT_LE(records_in(console), counted + 1) << row.label;
        EXPECT_TRUE(file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0) << row.label;
    }
}

// A program that writes and then computes (or waits) keeps no record in
// memory longer than half a second: kill -9 after a pause in output loses
// none, on a disk file and on standard output through a pipe.
TEST_F(WbufTest, KillAfterAPauseInOutputLosesNothing) {
    SharedCount done;
    ASSERT_NE(done.value, nullptr);
    int console[2];
    ASSERT_EQ(pipe(console), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(console[1], STDOUT_FILENO);
        close(console[0]);
        close(console[1]);
        if (open_unit(30, Keywords().text(KW_FILE, "paused.dat")) != 0) _exit(2);
        for (int n = 0; n < 300; ++n) {
            const std::string text = "record " + std::to_string(n);
            if (write_records(30, {text}) != 0 || write_records(6, {text}) != 0) _exit(3);
        }
        if (!has_block(30) || !has_block(6)) _exit(4);
        done.value->store(300);
        for (;;) pause();
    }
    close(console[1]);
    while (done.value->load() < 300 && waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    kill(pid, SIGKILL);
    const int status = wait_at_most(pid, 10);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    std::string shown;
    char buffer[4096];
    ssize_t n;
    while ((n = read(console[0], buffer, sizeof buffer)) > 0) shown.append(buffer, std::size_t(n));
    close(console[0]);
    EXPECT_EQ(records_in(slurp("paused.dat")), 300);
    EXPECT_EQ(records_in(shown), 300);
}

}  // namespace
