// The loxnar program driven through its failure paths from outside: odd
// entry names, full disks, closed standard descriptors, broken pipes,
// signals in the middle of a run, an entry data file that is a FIFO, two
// runs of the same entry at once and the console on a printer without lp.
// Each test starts build/loxnar in a fresh folder with fork and exec, so
// that it can set the descriptors, limits and signals the case needs, and
// waits for it with a time limit: a run that hangs is killed and fails the
// test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using testfiles::read_file;
using testfiles::write_file;

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

// One case of the quartz example; `cases` of them make an entry data file
// (continuation flags 1 ... 1 0, or all 1 when more cases follow).
std::string entry_of(int cases, bool more_follow = false) {
    std::string text;
    for (int i = 0; i < cases; ++i) {
        text += "alpha-quartz SiO2, trigonal P3(2)21, Cu K-alpha1\n"
                "4.9134 4.9134 5.4052 90.0 90.0 120.0\n"
                "1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n";
        text += i + 1 < cases || more_follow ? "1\n" : "0\n";
    }
    return text;
}

// How the program is started.
struct Launch {
    std::string typed;              // standard input (a file), unless `input_pipe`
    bool input_pipe = false;        // standard input is a pipe the test writes `typed` to and holds open
    bool output_pipe = false;       // standard output is a pipe the test reads
    std::vector<int> closed;        // standard descriptors closed for the run
    rlim_t file_size = RLIM_INFINITY;
    rlim_t cpu_seconds = RLIM_INFINITY;  // soft CPU time limit (SIGXCPU), no core dump
    long alarm_us = 0;                   // SIGALRM after this many microseconds
    std::vector<std::string> env;   // NAME=value settings added to the environment
    std::string logs = "std";       // the console and diagnostics go to <logs>out.txt and <logs>err.txt
};

Launch typed(const std::string& text) {
    Launch how;
    how.typed = text;
    return how;
}

struct Outcome {
    int status = -1;      // exit status, 128 + signal when killed by one, -2 when it hung
    bool killed = false;  // ended by a signal rather than by exiting
    std::string out, err;
};

class LoxnarFailures : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loxnar-fail-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        // Typing into a program that closed its standard input must not
        // end the test.
        signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        if (!mount_.empty()) umount2(mount_.c_str(), MNT_DETACH);
        fs::remove_all(dir_);
    }

    void entry(const std::string& name, const std::string& text) { write_file(dir_ / (name + ".dat"), text); }
    std::string results(const std::string& name) { return read_file(dir_ / name); }

    // Starts loxnar --console in `folder` (the test's folder by default).
    pid_t start(const Launch& how, const fs::path& folder = {}) {
        const fs::path where = folder.empty() ? dir_ : folder;
        if (!how.input_pipe) write_file(dir_ / "stdin.txt", how.typed);
        int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
        if (how.input_pipe && pipe(in_pipe) != 0) return -1;
        if (how.output_pipe && pipe(out_pipe) != 0) return -1;
        const std::string in_path = (dir_ / "stdin.txt").string();
        const std::string out_path = (dir_ / (how.logs + "out.txt")).string();
        const std::string err_path = (dir_ / (how.logs + "err.txt")).string();
        const std::string binary = LOXNAR_BINARY_DIR "/loxnar";
        const std::string cwd = where.string();
        std::vector<char*> envp;
        for (const std::string& setting : how.env) envp.push_back(const_cast<char*>(setting.c_str()));
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        envp.push_back(nullptr);
        pid_t pid = fork();
        if (pid != 0) {
            if (how.input_pipe) {
                close(in_pipe[0]);
                input_ = in_pipe[1];
                if (!how.typed.empty() && write(input_, how.typed.data(), how.typed.size()) < 0) return -1;
            }
            if (how.output_pipe) {
                close(out_pipe[1]);
                output_ = out_pipe[0];
            }
            return pid;
        }
        // The child: async-signal-safe calls only, up to the exec.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE, SIGXFSZ, SIGALRM, SIGUSR1, SIGXCPU}) signal(s, SIG_DFL);
        int in = how.input_pipe ? in_pipe[0] : open(in_path.c_str(), O_RDONLY);
        int out = how.output_pipe ? out_pipe[1] : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        for (int fd : how.closed) close(fd);
        if (how.file_size != RLIM_INFINITY) {
            struct rlimit limit {how.file_size, how.file_size};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (how.cpu_seconds != RLIM_INFINITY) {
            struct rlimit cpu {how.cpu_seconds, RLIM_INFINITY}, no_core {0, 0};
            setrlimit(RLIMIT_CPU, &cpu);
            setrlimit(RLIMIT_CORE, &no_core);
        }
        if (how.alarm_us > 0) {
            // An interval timer outlives the exec.
            struct itimerval t {{0, 0}, {how.alarm_us / 1000000, how.alarm_us % 1000000}};
            setitimer(ITIMER_REAL, &t, nullptr);
        }
        char* const argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>("--console"), nullptr};
        execve(binary.c_str(), argv, envp.data());
        _exit(127);
    }

    // Waits for the program, killing it after `seconds`.
    Outcome finish(pid_t pid, int seconds = 60, const std::string& logs = "std") {
        Outcome o;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            o.status = -2;
        } else {
            o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            o.killed = WIFSIGNALED(status);
        }
        if (input_ >= 0) close(input_);
        if (output_ >= 0) close(output_);
        input_ = output_ = -1;
        o.out = read_file(dir_ / (logs + "out.txt"));
        o.err = read_file(dir_ / (logs + "err.txt"));
        return o;
    }

    Outcome run(const Launch& how, const fs::path& folder = {}) { return finish(start(how, folder), 60, how.logs); }

    // A tmpfs of `kib` KiB mounted on a folder of the test; empty when the
    // machine does not let the test mount one.
    fs::path small_disk(int kib) {
        const fs::path at = dir_ / "disk";
        fs::create_directory(at);
        const std::string options = "size=" + std::to_string(kib) + "k";
        if (mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) return {};
        mount_ = at.string();
        return at;
    }

    fs::path dir_;
    std::string mount_;
    int input_ = -1, output_ = -1;
};

}  // namespace

// Entry names the user may type.  A NUL inside the name is a file name
// error that touches no file (cut at the NUL the name would be "qu", the
// entry data file, found as an old results file and deleted).  AUX and COM1
// with an extension are ordinary files, not the serial line.  A directory
// where a file is expected is refused as access denied (9).
TEST_F(LoxnarFailures, OddEntryNames) {
    const std::string one_case = entry_of(1);
    write_file(dir_ / "qu", one_case);
    entry("aux", one_case);
    entry("com1", one_case);
    fs::create_directory(dir_ / "folder.dat");
    entry("busy", one_case);
    fs::create_directory(dir_ / "busy.imp.dat");
    struct Row {
        std::string typed;
        int status;
        std::string err_tail;  // how standard error ends ("" nothing on it)
        std::string results;   // the results file the run leaves ("" none)
    } rows[] = {
        {std::string("qu\0x\n", 5), 43, "forrtl: severe (43): file name specification error, unit 10, file unknown\r\n",
         ""},
        {"aux\n", 0, "", "aux.imp.dat"},
        {"com1\n", 0, "", "com1.imp.dat"},
        {"folder\n", 9, "permission to access file denied, unit 10, file " + (dir_ / "folder.dat").string() + "\r\n",
         ""},
        {"busy\n", 9, "permission to access file denied, unit 15, file " + (dir_ / "busy.imp.dat").string() + "\r\n",
         ""},
    };
    for (const Row& row : rows) {
        Outcome r = run(typed(row.typed));
        EXPECT_EQ(r.status, row.status) << row.typed << r.err;
        if (row.err_tail.empty()) {
            EXPECT_EQ(r.err, "") << row.typed;
        } else {
            EXPECT_TRUE(ends_with(r.err, row.err_tail)) << row.typed << r.err;
        }
        if (!row.results.empty()) {
            EXPECT_EQ(count_of(results(row.results), " LOXNAR RESULTS\r\n"), 1) << row.typed;
        }
    }
    EXPECT_EQ(read_file(dir_ / "qu"), one_case);
    EXPECT_FALSE(fs::exists(dir_ / "qu.imp.dat"));
    EXPECT_TRUE(fs::is_directory(dir_ / "busy.imp.dat"));
}

// A standard descriptor closed at the start: the program does not wait on
// a descriptor of its own in its place.  Closed standard input is a failed
// read of the entry name (39), closed standard output a failed write of the
// banner (38); closed standard error loses the diagnostics only.
TEST_F(LoxnarFailures, ClosedStandardDescriptors) {
    entry("quartz", entry_of(2));
    struct Row {
        int closed;
        int status;
        std::string err_tail;
    } rows[] = {
        {0, 39, "forrtl: severe (39): error during read, unit 5, file CONIN$\r\n"},
        {1, 38, "forrtl: severe (38): error during write, unit 6, file CONOUT$\r\n"},
        {2, 0, ""},
    };
    for (const Row& row : rows) {
        fs::remove(dir_ / "quartz.imp.dat");
        Launch how;
        how.input_pipe = true;  // held open: a read of it would wait for ever
        how.typed = "quartz\n";
        how.closed = {row.closed};
        Outcome r = finish(start(how), 20);
        EXPECT_EQ(r.status, row.status) << "closed " << row.closed << ": " << r.err;
        EXPECT_TRUE(ends_with(r.err, row.err_tail)) << "closed " << row.closed << ": " << r.err;
        if (row.status == 0) {
            EXPECT_EQ(count_of(results("quartz.imp.dat"), " LOXNAR RESULTS\r\n"), 2);
        }
    }
}

// A full disk or the file size limit in the middle of a run: the WRITE whose
// record cannot be stored reports 38 for the results file and ends the run
// with status 38.  The file keeps whole records only, and the console and
// the file stop at the same case.
TEST_F(LoxnarFailures, FullDiskEndsTheRunAtTheRecordThatDoesNotFit) {
    const std::string forty = entry_of(40);
    struct Row {
        const char* label;
        int disk_kib;  // the run's folder on a tmpfs of this size, or 0
        rlim_t limit;  // file size limit, or RLIM_INFINITY
        const char* system_text;
    } rows[] = {
        {"24 KiB disk", 24, RLIM_INFINITY, "forrtl: No space left on device\r\n"},
        {"file size limit", 0, 20000, "forrtl: File too large\r\n"},
    };
    for (const Row& row : rows) {
        fs::path folder = dir_;
        if (row.disk_kib) {
            folder = small_disk(row.disk_kib);
            if (folder.empty()) {
                std::cout << "[ SKIPPED  ] " << row.label << ": no tmpfs can be mounted here\n";
                continue;
            }
        }
        write_file(folder / "quartz.dat", forty);
        fs::remove(folder / "quartz.imp.dat");
        Launch how = typed("quartz\n");
        how.file_size = row.limit;
        Outcome r = run(how, folder);
        const std::string file = read_file(folder / "quartz.imp.dat");
        const std::string tail = std::string(row.system_text) + "forrtl: severe (38): error during write, unit 15, file " +
                                 (folder / "quartz.imp.dat").string() + "\r\n";
        EXPECT_EQ(r.status, 38) << row.label << r.err;
        EXPECT_TRUE(ends_with(r.err, tail)) << row.label << r.err;
        EXPECT_TRUE(ends_with(file, "\r\n")) << row.label;
        const int in_file = count_of(file, " LOXNAR RESULTS\r\n");
        const int on_console = count_of(r.out, " LOXNAR RESULTS\r\n");
        EXPECT_GT(in_file, 3) << row.label;
        EXPECT_LT(in_file, 40) << row.label;
        EXPECT_TRUE(on_console == in_file || on_console == in_file + 1)
            << row.label << ": console " << on_console << ", file " << in_file;
        if (row.disk_kib) {
            umount2(mount_.c_str(), MNT_DETACH);
            mount_.clear();
        }
    }
}

namespace {

struct EventSignal {
    int signal_number;
    int status;
    std::string message;
};

const EventSignal kEventSignals[] = {
    {SIGINT, 0, "forrtl: error (200): program aborting due to control-C event\r\n"},
    {SIGQUIT, 1, "forrtl: error (200): program aborting due to control-BREAK event\r\n"},
    {SIGHUP, 2, "forrtl: error (200): program aborting due to menu-CLOSE event\r\n"},
    {SIGTERM, 143, "forrtl: error (78): process killed (SIGTERM)\r\n"},
};

}  // namespace

// Console events and SIGTERM at random times during a run of 300 cases,
// many times over: the calculation makes no further statement once the
// event is handled, so the run ends with the event's status and its one
// message, every unit is closed with whole records, the results file holds
// every case the console showed, and no stray file (fort.10) appears.
TEST_F(LoxnarFailures, EventsAtRandomTimesEndTheRunCleanly) {
    entry("quartz", entry_of(300));
    std::mt19937 random(20260210);
    for (const EventSignal& ev : kEventSignals) {
        for (int round = 0; round < 20; ++round) {
            fs::remove(dir_ / "quartz.imp.dat");
            pid_t pid = start(typed("quartz\n"));
            ASSERT_GT(pid, 0);
            // The results file is opened after the run-time's start-up.
            for (int i = 0; i < 5000 && !fs::exists(dir_ / "quartz.imp.dat"); ++i) usleep(200);
            usleep(std::uniform_int_distribution<int>(0, 15000)(random));
            kill(pid, ev.signal_number);
            Outcome r = finish(pid, 30);
            const std::string label = "signal " + std::to_string(ev.signal_number) + " round " + std::to_string(round);
            const std::string file = results("quartz.imp.dat");
            const int in_file = count_of(file, " LOXNAR RESULTS\r\n");
            const int on_console = count_of(r.out, " LOXNAR RESULTS\r\n");
            EXPECT_FALSE(r.killed) << label;
            if (r.err.empty()) {
                // The run was over before the signal came.
                EXPECT_EQ(r.status, 0) << label;
                EXPECT_EQ(in_file, 300) << label;
            } else {
                EXPECT_EQ(r.status, ev.status) << label;
                EXPECT_EQ(r.err, ev.message) << label;
            }
            EXPECT_TRUE(file.empty() || ends_with(file, "\r\n")) << label;
            EXPECT_GE(in_file, on_console - 1) << label;
            EXPECT_FALSE(fs::exists(dir_ / "fort.10")) << label;
            if (HasFailure()) return;
        }
    }
}

// An event while the program waits for the entry name ends it at once.
TEST_F(LoxnarFailures, EventWhileWaitingForTheEntryName) {
    for (const EventSignal& ev : kEventSignals) {
        Launch how;
        how.input_pipe = true;  // open, nothing typed
        how.output_pipe = true;
        pid_t pid = start(how);
        ASSERT_GT(pid, 0);
        // The prompt is shown just before the READ of the name.
        std::string shown;
        char buffer[256];
        while (shown.find("(no extension) ??") == std::string::npos) {
            ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, std::size_t(n));
        }
        kill(pid, ev.signal_number);
        Outcome r = finish(pid, 10);
        EXPECT_EQ(r.status, ev.status) << ev.signal_number;
        EXPECT_FALSE(r.killed) << ev.signal_number;
        EXPECT_TRUE(ends_with(r.err, ev.message)) << ev.signal_number << r.err;
    }
}

// A console that stops reading (loxnar | head -c 200000): the WRITE to the
// broken pipe fails with 38 on unit 6 and the exit handler closes the
// results file intact, holding every case the console showed.
TEST_F(LoxnarFailures, BrokenConsolePipeIsAFailedWrite) {
    entry("quartz", entry_of(1000));
    Launch how = typed("quartz\n");
    how.output_pipe = true;
    pid_t pid = start(how);
    ASSERT_GT(pid, 0);
    std::string shown;
    char buffer[4096];
    while (shown.size() < 200000) {
        ssize_t n = read(output_, buffer, std::min(sizeof buffer, 200000 - shown.size()));
        if (n <= 0) break;
        shown.append(buffer, std::size_t(n));
    }
    close(output_);
    output_ = -1;
    Outcome r = finish(pid, 30);
    EXPECT_EQ(r.status, 38) << r.err;
    EXPECT_FALSE(r.killed);
    EXPECT_TRUE(ends_with(r.err, "forrtl: Broken pipe\r\n"
                                 "forrtl: severe (38): error during write, unit 6, file CONOUT$\r\n"))
        << r.err;
    const std::string file = results("quartz.imp.dat");
    EXPECT_TRUE(ends_with(file, "\r\n"));
    EXPECT_GE(count_of(file, " LOXNAR RESULTS\r\n"), count_of(shown, " LOXNAR RESULTS\r\n"));
}

namespace {

// The records of a results file that the console shows too, in order: the
// stamps, the table header and the rows.
std::vector<std::string> console_records_of(const std::string& listing) {
    std::vector<std::string> out;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.back() != '\r') break;  // a record cut short
        line.pop_back();
        const bool row = line.size() == 66 && line[32] == ':' && line[65] == ':';
        if (row || line.rfind(" LOXNAR RESULTS", 0) == 0 || line.rfind(" DATE : ", 0) == 0 ||
            line.rfind(" ENDING", 0) == 0)
            out.push_back(line);
    }
    return out;
}

// The console's records after the banner and the prompt.
std::vector<std::string> records_after_prompt(const std::string& console) {
    std::vector<std::string> out;
    const std::size_t prompt = console.find("(no extension) ??");
    if (prompt == std::string::npos) return out;
    std::istringstream in(console.substr(console.find('\n', prompt) + 1));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.back() != '\r') break;
        line.pop_back();
        out.push_back(line);
    }
    return out;
}

// One case that computes for hours: bounds above the fast walk's and a
// window that keeps no plane.
const char kEndlessCase[] =
    "endless\n"
    "4.9134 4.9134 5.4052 90.0 90.0 120.0\n"
    "0 0 0 0 0 0 0  100.0 200.0  9000 9000 9000  1.5406\n"
    "0\n";

}  // namespace

// A signal that ends the process by its default action (a CPU time limit,
// an alarm, a user signal) in the middle of a run: every record completed
// before it is written, to the results file and to the console, and the
// process ends by that signal.  The console then shows what the file holds,
// less at most the statement under way (before, each lost up to 64 KiB).
TEST_F(LoxnarFailures, FatalSignalDuringARunWritesEveryRecordFirst) {
    // The run ends in a case that computes for hours: the signal always
    // comes before the end.
    entry("quartz", entry_of(100000, true) + kEndlessCase);
    struct Row {
        const char* label;
        int signal_number;
        Launch how;
    };
    std::vector<Row> rows(3);
    rows[0] = {"SIGALRM", SIGALRM, typed("quartz\n")};
    rows[0].how.alarm_us = 150000;
    rows[1] = {"SIGUSR1", SIGUSR1, typed("quartz\n")};
    rows[2] = {"SIGXCPU", SIGXCPU, typed("quartz\n")};
    rows[2].how.cpu_seconds = 1;
    for (const Row& row : rows) {
        fs::remove(dir_ / "quartz.imp.dat");
        pid_t pid = start(row.how);
        ASSERT_GT(pid, 0);
        if (row.signal_number == SIGUSR1) {
            for (int i = 0; i < 5000 && !fs::exists(dir_ / "quartz.imp.dat"); ++i) usleep(200);
            usleep(100000);
            kill(pid, SIGUSR1);
        }
        Outcome r = finish(pid, 60);
        EXPECT_TRUE(r.killed) << row.label << ": status " << r.status;
        EXPECT_EQ(r.status, 128 + row.signal_number) << row.label;
        EXPECT_EQ(r.err, "") << row.label;
        const std::vector<std::string> in_file = console_records_of(results("quartz.imp.dat"));
        const std::vector<std::string> shown = records_after_prompt(r.out);
        EXPECT_GT(shown.size(), 100u) << row.label;
        // The console and the file each get their own statement for every
        // stamp and row, so one lags the other by at most the records of
        // one statement: two for a date stamp (its title and date lines).
        const std::size_t common = std::min(in_file.size(), shown.size());
        EXPECT_LE(std::max(in_file.size(), shown.size()) - common, 2u)
            << row.label << ": the console shows " << shown.size() << " records, the file holds " << in_file.size();
        EXPECT_TRUE(std::equal(shown.begin(), shown.begin() + long(common), in_file.begin())) << row.label;
    }
}

// A run that writes and then computes for long: no record stays in memory
// for more than half a second, so kill -9 after a pause in output loses
// none, and a CPU time limit reached while computing ends the run by
// SIGXCPU with every record written.
TEST_F(LoxnarFailures, KillAfterAPauseInOutputLosesNothing) {
    entry("quartz", entry_of(3, true) + kEndlessCase);
    for (const bool cpu_limit : {false, true}) {
        const char* label = cpu_limit ? "CPU limit" : "kill -9";
        fs::remove(dir_ / "quartz.imp.dat");
        Launch how = typed("quartz\n");
        how.output_pipe = true;
        if (cpu_limit) how.cpu_seconds = 1;
        pid_t pid = start(how);
        ASSERT_GT(pid, 0);
        // The fourth case's start stamp reaches the console within half a
        // second of its WRITE; the walk is under way from then on.
        std::string shown;
        char buffer[4096];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count_of(shown, " STARTING TIME") < 4 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{output_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, std::size_t(n));
        }
        EXPECT_EQ(count_of(shown, " STARTING TIME"), 4) << label;
        if (!cpu_limit) {
            usleep(600000);
            kill(pid, SIGKILL);
        }
        Outcome r = finish(pid, 30);
        EXPECT_EQ(r.status, 128 + (cpu_limit ? SIGXCPU : SIGKILL)) << label;
        const std::string file = results("quartz.imp.dat");
        EXPECT_EQ(count_of(file, " LOXNAR RESULTS\r\n"), 4) << label;
        EXPECT_TRUE(ends_with(file, " LAMBDA =  1.5406\r\n\r\n")) << label << ": " << file.substr(file.size() - 80);
    }
}

// Standard output and standard error on one file or one pipe (2>&1): the
// diagnostic that ends the run comes after every console record written
// before it, and nothing follows it.
TEST_F(LoxnarFailures, DiagnosticFollowsTheConsoleRecordsOnOneStream) {
    entry("bad", "one\n4 4 4 90 90 90\n0 0 0 0 0 0 0 1 5 2 2 2 1.5406\n1\ntwo\n4 x 4 90 90 90\n");
    const std::string tail = " LOXNAR RESULTS\r\n";
    const std::string message = "forrtl: severe (59): list-directed I/O syntax error, unit 10, file " +
                                (dir_ / "bad.dat").string() + "\r\n";
    for (const bool piped : {false, true}) {
        fs::remove(dir_ / "bad.imp.dat");
        const std::string both = (dir_ / "both.txt").string();
        const std::string binary = LOXNAR_BINARY_DIR "/loxnar";
        const std::string command = "cd '" + dir_.string() + "' && echo bad | '" + binary + "' --console " +
                                    (piped ? "2>&1 | cat > '" + both + "'" : "> '" + both + "' 2>&1");
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status)) << piped;
        if (!piped) {
            EXPECT_EQ(WEXITSTATUS(status), 59);
        }
        const std::string out = read_file(both);
        EXPECT_EQ(count_of(out, " LOXNAR RESULTS\r\n"), 2) << piped;
        EXPECT_EQ(count_of(out, "forrtl"), 1) << piped;
        EXPECT_TRUE(ends_with(out, " STARTING TIME :  " + out.substr(out.size() - message.size() - 12, 12) + message))
            << piped << ": " << out.substr(out.size() - 200);
    }
}

namespace {

// Opens the FIFO `path` for writing once a reader has it open (at most
// `seconds` later), writes `text` and closes it.  False when no reader came.
bool feed_fifo(const fs::path& path, const std::string& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int fd = -1;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && errno == ENXIO &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// Reads the program's console pipe until `text` has been shown.
bool shown_on(int output, const std::string& text) {
    std::string shown;
    char buffer[256];
    while (shown.find(text) == std::string::npos) {
        const ssize_t n = read(output, buffer, sizeof buffer);
        if (n <= 0) return false;
        shown.append(buffer, std::size_t(n));
    }
    return true;
}

}  // namespace

// An entry data file that is a FIFO is read, not written: when its writer
// closes early the run ends with end-of-file (24) on unit 10, as for a
// short file.  While no writer has come the run waits, and a console
// event or SIGTERM still ends it with its status and message.
TEST_F(LoxnarFailures, FifoEntryFileEndsAtItsWritersEndOrAtAnEvent) {
    ASSERT_EQ(mkfifo((dir_ / "e.dat").c_str(), 0600), 0);
    pid_t pid = start(typed("e\n"));
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(feed_fifo(dir_ / "e.dat", "title\n4 4 4 90 90 90\n", 20));
    Outcome r = finish(pid, 20);
    EXPECT_EQ(r.status, 24) << r.err;
    EXPECT_TRUE(ends_with(r.err, "forrtl: severe (24): end-of-file during read, unit 10, file " +
                                     (dir_ / "e.dat").string() + "\r\n"))
        << r.err;
    EXPECT_EQ(count_of(results("e.imp.dat"), "title"), 1);

    for (const EventSignal& ev : {kEventSignals[0], kEventSignals[3]}) {
        fs::remove(dir_ / "e.imp.dat");
        Launch how = typed("e\n");
        how.output_pipe = true;
        pid = start(how);
        ASSERT_GT(pid, 0);
        // The start stamp comes just before the READ of the title.
        EXPECT_TRUE(shown_on(output_, "STARTING TIME")) << ev.signal_number;
        kill(pid, ev.signal_number);
        r = finish(pid, 10);
        EXPECT_EQ(r.status, ev.status) << ev.signal_number << r.err;
        EXPECT_EQ(r.err, ev.message) << ev.signal_number;
        EXPECT_TRUE(fs::is_fifo(dir_ / "e.dat"));
    }
}

// Two runs of the same entry at once: the first holds its entry data file
// and its results file (a long run, its console a pipe the test reads only
// later); the second finds the entry data file in use, stops at its OPEN
// with "open failure" (30), the system's text first, and touches nothing.
// The first writes its whole listing and ends with 0.  A first run killed
// with SIGKILL leaves no lock behind: the next run takes the files.
TEST_F(LoxnarFailures, SecondRunOfTheSameEntryStopsAndTheFirstKeepsItsListing) {
    entry("e", entry_of(300));
    for (bool crash : {false, true}) {
        const std::string label = crash ? "first run killed" : "first run going on";
        fs::remove(dir_ / "e.imp.dat");
        Launch first = typed("e\n");
        first.output_pipe = true;
        first.logs = "first";
        const pid_t a = start(first);
        ASSERT_GT(a, 0);
        const int a_console = output_;
        output_ = -1;
        for (int i = 0; i < 5000 && !fs::exists(dir_ / "e.imp.dat"); ++i) usleep(1000);
        ASSERT_TRUE(fs::exists(dir_ / "e.imp.dat")) << label;
        if (crash) {
            kill(a, SIGKILL);
            output_ = a_console;
            EXPECT_TRUE(finish(a, 10, "first").killed) << label;
        }

        Launch second = typed("e\n");
        second.logs = "second";
        Outcome b = run(second);
        if (crash) {
            EXPECT_EQ(b.status, 0) << label << b.err;
            EXPECT_EQ(count_of(results("e.imp.dat"), " LOXNAR RESULTS\r\n"), 300) << label;
            continue;
        }
        EXPECT_EQ(b.status, 30) << label << b.err;
        EXPECT_EQ(b.err, "forrtl: Device or resource busy\r\nforrtl: severe (30): open failure, unit 10, file " +
                             (dir_ / "e.dat").string() + "\r\n")
            << label;
        EXPECT_EQ(count_of(b.out, "LOXNAR RESULTS"), 0) << label;

        // The first run goes on to its end.
        std::string shown;
        char buffer[4096];
        for (ssize_t n; (n = read(a_console, buffer, sizeof buffer)) > 0;) shown.append(buffer, std::size_t(n));
        output_ = a_console;
        Outcome r = finish(a, 30, "first");
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(count_of(shown, " LOXNAR RESULTS\r\n"), 300) << label;
        const std::string file = results("e.imp.dat");
        EXPECT_EQ(count_of(file, " LOXNAR RESULTS\r\n"), 300) << label;
        EXPECT_EQ(count_of(file, "ENDING TIME"), 300) << label;
    }
}

// The console on the printer (FORT6=PRN): the records are spooled to a
// temporary file that lp takes when the run ends.  When lp is missing or
// refuses the file, the file is kept, the run says which file it is
// ("CLOSE error", 28) and ends with status 28.
TEST_F(LoxnarFailures, ConsoleOnThePrinterKeepsItsRecordsWhenLpFails) {
    entry("quartz", entry_of(2));
    const fs::path bin = dir_ / "bin", spool = dir_ / "spool";
    fs::create_directory(bin);
    fs::create_directory(spool);
    struct Row {
        const char* label;
        const char* lp;  // the stand-in's script, nullptr for none
        int status;
    } rows[] = {
        {"no lp", nullptr, 28},
        {"lp refuses", "#!/bin/sh\nexit 1\n", 28},
        {"lp prints", "#!/bin/sh\ncat \"$2\" > \"$(dirname \"$2\")/../printed.txt\"\n", 0},
    };
    for (const Row& row : rows) {
        fs::remove(bin / "lp");
        if (row.lp) {
            write_file(bin / "lp", row.lp);
            fs::permissions(bin / "lp", fs::perms::owner_all);
        }
        fs::remove(dir_ / "quartz.imp.dat");
        Launch how = typed("quartz\n");
        how.env = {"FORT6=PRN", "PATH=" + bin.string() + ":/usr/bin:/bin", "TMPDIR=" + spool.string()};
        Outcome r = run(how);
        EXPECT_EQ(r.status, row.status) << row.label << r.err;
        EXPECT_EQ(r.out, "") << row.label;
        std::vector<fs::path> kept;
        for (const auto& f : fs::directory_iterator(spool)) kept.push_back(f.path());
        const std::string printed = row.status == 0 ? read_file(dir_ / "printed.txt") : "";
        if (row.status == 0) {
            EXPECT_TRUE(kept.empty()) << row.label;
            EXPECT_EQ(r.err, "") << row.label;
            EXPECT_EQ(count_of(printed, " LOXNAR RESULTS\r\n"), 2) << row.label;
            continue;
        }
        ASSERT_EQ(kept.size(), 1u) << row.label;
        EXPECT_TRUE(ends_with(r.err, "forrtl: severe (28): CLOSE error, unit 6, file " + kept[0].string() + "\r\n"))
            << row.label << r.err;
        const std::string console = read_file(kept[0]);
        EXPECT_EQ(console.rfind("     LOXNAR calculates d(hkl)\r\n", 0), 0u) << row.label;
        EXPECT_EQ(count_of(console, " LOXNAR RESULTS\r\n"), 2) << row.label;
        fs::remove(kept[0]);
    }
}
