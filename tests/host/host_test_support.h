// Helpers of the host tests: pumping the interface thread's events while a
// test-made calculation thread calls the host operations, typing into a
// window, recording the boxes the host shows, and running a whole
// application in a child process (for what ends the process: the exit
// prompt, the fatal path, closing the frame, the calculator end to end).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "for_host.h"
#include "host.h"

namespace hosttest {

// Runs the interface thread's events until `done()` or the time-out.
inline bool pump_until(const std::function<bool()>& done, int timeout_ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

inline void pump_for(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A calculation thread: the test's stand-in for the program.
class CalcThread {
public:
    explicit CalcThread(std::function<void()> body)
        : thread_([this, body = std::move(body)] {
              body();
              done_.store(true);
          }) {}
    ~CalcThread() {
        if (!join() && thread_.joinable()) thread_.detach();  // a failed test leaves it blocked
    }
    bool done() const { return done_.load(); }
    // Waits for the body, pumping events meanwhile.
    bool join(int timeout_ms = 20000) {
        if (!thread_.joinable()) return true;
        if (!pump_until([this] { return done(); }, timeout_ms)) return false;
        thread_.join();
        return true;
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The arguments of a child's application object (one a child process).
// They stay for the life of the process: Qt keeps argc by reference and
// the run-time keeps argv, beyond the application object.
struct ChildArgs {
    int argc = 1;
    char* argv[2] = {nullptr, nullptr};
};
inline ChildArgs& child_args(const char* program_name) {
    static std::string name;
    static ChildArgs args;
    name = program_name;
    args.argv[0] = name.data();
    return args;
}

inline const forrtl::HostOps& ops() { return *forrtl::g_host; }

// A record written to `window` through the host's write operation.
inline int write(int window, const std::string& text) {
    return ops().write_text(text.data(), static_cast<int>(text.size()), window, 0);
}

// Runs `body` on a calculation thread and returns its result.
template <typename F>
auto on_calc(F body) {
    decltype(body()) result{};
    CalcThread t([&] { result = body(); });
    t.join();
    return result;
}

inline QWidget* view(int window) {
    QWidget* w = nullptr;
    pump_until([&] { return (w = host::window_view(window)) != nullptr; }, 5000);
    return w;
}

inline void type(int window, const QString& text) { QTest::keyClicks(view(window), text); }
inline void key(int window, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(view(window), k, m);
}

// Boxes shown through the dialog provider.
struct Box {
    std::string text, title;
    unsigned style;
};
struct BoxLog {
    std::mutex mutex;
    std::vector<Box> boxes;
    int answer = 1;  // the button every box gets
};
inline BoxLog& box_log() {
    static BoxLog log;
    return log;
}
inline int record_box(const char* text, const char* title, unsigned style) {
    BoxLog& log = box_log();
    std::lock_guard lock(log.mutex);
    log.boxes.push_back({text ? text : "", title ? title : "", style});
    return log.answer;
}
inline std::vector<Box> boxes() {
    std::lock_guard lock(box_log().mutex);
    return box_log().boxes;
}
inline const host::DialogProvider kRecordingDialogs = {record_box, nullptr};

// ---------------------------------------------------------------------------
// Child processes.

inline int& report_fd() {
    static int fd = -1;
    return fd;
}

// Adds a line to the child's report.
inline void report(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(report_fd(), text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

struct ChildRun {
    int exit_status = -1;  // the process's exit status, -1 when it did not exit
    bool timed_out = false;
    std::string report;
};

// Runs `body` in a child process; the body builds its own QApplication (on
// the offscreen platform) and returns the exit status, unless the process
// ends elsewhere.
inline ChildRun run_child(const std::function<int()>& body, int timeout_ms = 60000) {
    ChildRun run;
    int fds[2];
    if (pipe(fds) != 0) return run;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        report_fd() = fds[1];
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int status = body();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    close(fds[1]);
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int left = timeout_ms - static_cast<int>(timer.elapsed());
        if (left <= 0) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(&p, 1, left) <= 0) continue;
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        run.report.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    return run;
}

// The lines of a report that begin with `tag`, without it.
inline std::vector<std::string> tagged(const std::string& report, const std::string& tag) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < report.size()) {
        std::size_t end = report.find('\n', pos);
        if (end == std::string::npos) end = report.size();
        const std::string line = report.substr(pos, end - pos);
        if (line.compare(0, tag.size(), tag) == 0) out.push_back(line.substr(tag.size()));
        pos = end + 1;
    }
    return out;
}

// Reports as one line: escapes the line ends of `text`.
inline std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace hosttest
