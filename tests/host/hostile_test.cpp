// The windowed program driven through its failure paths, each run in a child
// process running loxnar's calculation.  Ends the program did not ask for: a
// console event or SIGTERM in every state of a run (waiting for the entry
// name, computing, paused, a diagnostic box open, the exit prompt, the
// windows kept after the end, waiting for an entry FIFO nobody writes), the
// display going away (Qt's display connection ends the process with exit()),
// and Exit after a unit could not be closed: the process ends without a box
// or a question, with the status console mode gives, and every record the
// window showed is in the results file.  Hostile input: a NUL typed into the
// entry name, a results file that hits the file size limit.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "calculation_run.h"
#include "for_exit_handler.h"
#include "for_startup.h"
#include "host_test_support.h"
#include "loxnar_program.h"
#include "test_files.h"

namespace {

using testfiles::read_file;
using testfiles::fresh_dir;

using namespace hosttest;
namespace fs = std::filesystem;

const fs::path kSource = LOXNAR_SOURCE_DIR;

// The entry data file "many": cases whose cells differ, so that each plane
// table is its own; far more than a run gets through before it is ended.
void write_many(const fs::path& dir) {
    std::ofstream entry(dir / "many.dat", std::ios::binary);
    const int cases = 20000;
    for (int i = 0; i < cases; ++i) {
        entry << "case " << i << "\n" << 3.0 + 0.001 * i << " 4.9134 5.4052 90.0 90.0 120.0\n"
              << "1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n" << (i + 1 < cases ? 1 : 0) << "\n";
    }
}

enum class State { Name, Computing, Paused, DiagnosticBox, ExitPrompt, WindowsKept, FifoWait };

const char* entry_for(State state) {
    switch (state) {
    case State::DiagnosticBox: return "nosuch";
    case State::FifoWait: return "fifo";
    case State::ExitPrompt:
    case State::WindowsKept: return "quartz";
    default: return "many";
    }
}

QMessageBox* box_starting(const char* text) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box && box->text().startsWith(QString::fromLatin1(text)) ? box : nullptr;
}

// The child: runs `program` in the host with the standard boxes, in `dir`
// with standard error going to `err`, brings the run to `state` as a user
// would, reports what the window shows and then does `act` once.
int run_until(const fs::path& dir, const fs::path& err, State state, host::Program program,
              const std::function<void()>& act, bool guarded = false) {
    for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) signal(s, SIG_DFL);
    std::freopen(err.c_str(), "w", stderr);
    fs::current_path(dir);
    ChildArgs& args = child_args("loxnar");
    QApplication app(args.argc, args.argv);
    if (guarded) host::guard_unexpected_exit();
    if (host::initialise() != 0) return 100;
    host::start_calculation(program, args.argc, args.argv);
    bool typed = false, paused = false, answered = false, done = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (done) return;
        bool ready = false;
        if (!typed && host::read_pending(1024)) {
            typed = true;
            if (state != State::Name) {
                QTest::keyClicks(host::window_view(1024), QString::fromLatin1(entry_for(state)));
                QTest::keyClick(host::window_view(1024), Qt::Key_Return);
            }
        }
        // Computing: the window has shown two whole cases.
        const std::string shown = typed ? host::window_text(1024) : std::string();
        const bool writing = shown.find("ENDING", shown.find("ENDING") + 1) != std::string::npos;
        switch (state) {
        case State::Name: ready = typed; break;
        case State::Computing: ready = writing; break;
        case State::Paused:
            if (writing && !paused) {
                paused = true;
                QTest::keyClick(host::window_view(1024), Qt::Key_S, Qt::ControlModifier);
            }
            ready = paused && host::state_word() == "Paused";
            break;
        case State::DiagnosticBox: ready = box_starting("forrtl") != nullptr; break;
        // The start stamp comes just before the READ of the entry FIFO.
        case State::FifoWait: ready = shown.find("STARTING TIME") != std::string::npos; break;
        case State::ExitPrompt: ready = box_starting("Program Terminated") != nullptr; break;
        case State::WindowsKept:
            if (QMessageBox* prompt = box_starting("Program Terminated")) {
                QTest::keyClick(prompt, Qt::Key_Return);  // No: the windows stay
                answered = true;
            }
            ready = answered && !QApplication::activeModalWidget() && host::state_word() == "Finished";
            break;
        }
        if (!ready) return;
        done = true;
        report("SHOWN " + one_line(host::window_text(1024)));
        act();
    });
    timer.start(5);
    app.exec();
    return host::exit_code();
}

// The plane-table rows the window showed are in the results file (the
// last one may have been cut short by the end).
void expect_rows_shown_are_in(const std::string& shown, const std::string& results, const std::string& label) {
    const std::regex table_row("^ +[0-9]+ +[0-9]+ +-?[0-9]+ +[0-9]+\\.[0-9]+ .*");
    std::vector<std::string> rows;
    std::size_t pos = 0;
    while (pos <= shown.size()) {
        std::size_t end = shown.find("\\n", pos);
        if (end == std::string::npos) end = shown.size();
        const std::string line = shown.substr(pos, end - pos);
        if (std::regex_match(line, table_row)) rows.push_back(line);
        pos = end + 2;
    }
    ASSERT_GE(rows.size(), 2u) << label << ": " << shown;
    EXPECT_NE(results.find(rows[rows.size() - 2] + "\r\n"), std::string::npos) << label;
    EXPECT_EQ(results.substr(results.size() - 2), "\r\n") << label;
}

struct Outcome {
    ChildRun run;
    std::string err, shown, results;
    bool stray_files = false;
};

Outcome run_case(const std::string& name, State state, const std::function<void()>& act,
                 host::Program program = run_program, bool guarded = false) {
    const fs::path dir = fresh_dir(name);
    const fs::path err = dir.string() + ".err";
    write_many(dir);
    fs::copy_file(kSource / "examples/quartz.dat", dir / "quartz.dat");
    mkfifo((dir / "fifo.dat").c_str(), 0600);  // nobody writes to it
    Outcome o;
    o.run = run_child([&] { return run_until(dir, err, state, program, act, guarded); });
    o.err = read_file(err);
    const std::vector<std::string> shown = tagged(o.run.report, "SHOWN ");
    if (!shown.empty()) o.shown = shown[0];
    o.results = read_file(dir / (std::string(entry_for(state)) + ".imp.dat"));
    for (const auto& file : fs::directory_iterator(dir)) {
        const std::string f = file.path().filename().string();
        if (f != "many.dat" && f != "quartz.dat" && f != "fifo.dat" && f.find(".imp.dat") == std::string::npos)
            o.stray_files = true;
    }
    fs::remove_all(dir);
    fs::remove(err);
    return o;
}

struct EventRow {
    const char* label;
    State state;
    int signal_number;
    int status;           // the process's exit status
    const char* message;  // on standard error; "" none (the program had ended)
};

const char kTerm[] = "forrtl: error (78): process killed (SIGTERM)\r\n";

// A console event or SIGTERM under the window ends the application as Exit
// does, whatever it is doing: no box stays up, nothing is asked, the status
// is the event's (the program's own once it has ended by itself).
TEST(WindowEnds, ConsoleEventsAndSigtermInEveryState) {
    const EventRow rows[] = {
        {"control-C at the name", State::Name, SIGINT, 0,
         "forrtl: error (200): program aborting due to control-C event\r\n"},
        {"control-BREAK at the name", State::Name, SIGQUIT, 1,
         "forrtl: error (200): program aborting due to control-BREAK event\r\n"},
        {"close at the name", State::Name, SIGHUP, 2, "forrtl: error (200): program aborting due to menu-CLOSE event\r\n"},
        {"SIGTERM at the name", State::Name, SIGTERM, 143, kTerm},
        {"SIGTERM computing", State::Computing, SIGTERM, 143, kTerm},
        {"close while paused", State::Paused, SIGHUP, 2, "forrtl: error (200): program aborting due to menu-CLOSE event\r\n"},
        {"SIGTERM with a diagnostic box", State::DiagnosticBox, SIGTERM, 143, kTerm},
        {"control-C at the exit prompt", State::ExitPrompt, SIGINT, 0, ""},
        {"SIGTERM with the windows kept", State::WindowsKept, SIGTERM, 0, ""},
    };
    for (const EventRow& r : rows) {
        const int signal_number = r.signal_number;
        const Outcome o = run_case("event", r.state, [signal_number] { kill(getpid(), signal_number); });
        ASSERT_FALSE(o.run.timed_out) << r.label << "\n" << o.run.report;
        EXPECT_EQ(o.run.exit_status, r.status) << r.label;
        EXPECT_EQ(o.err.find("forrtl"), o.err.rfind("forrtl")) << r.label << ": one message at most\n" << o.err;
        if (*r.message) {
            EXPECT_NE(o.err.find(r.message), std::string::npos) << r.label << "\n" << o.err;
        } else {
            EXPECT_EQ(o.err.find("forrtl"), std::string::npos) << r.label << "\n" << o.err;
        }
        if (r.state == State::Computing || r.state == State::Paused) expect_rows_shown_are_in(o.shown, o.results, r.label);
        if (r.state == State::ExitPrompt || r.state == State::WindowsKept) {
            EXPECT_NE(o.results.find(" LOXNAR RESULTS\r\n"), std::string::npos) << r.label;
        }
        EXPECT_FALSE(o.stray_files) << r.label;
    }
}

// Qt's display connection ends the process with exit() when the display
// goes away.  The units are closed first, then the process ends at once:
// the host's objects are not destroyed under a calculation thread that
// waits on them (which hung the process), and the status says whether the
// program had ended.
TEST(WindowEnds, DisplayGoneEndsTheProcessWithTheRecordsWritten) {
    struct Row {
        const char* label;
        State state;
        int status;
    } rows[] = {
        {"paused mid-run", State::Paused, 1},
        {"at the exit prompt", State::ExitPrompt, 0},
    };
    for (const Row& r : rows) {
        const Outcome o = run_case("display", r.state, [] { std::exit(1); }, run_program, true);
        ASSERT_FALSE(o.run.timed_out) << r.label << "\n" << o.run.report;
        EXPECT_EQ(o.run.exit_status, r.status) << r.label;
        if (r.state == State::Paused) {
            expect_rows_shown_are_in(o.shown, o.results, r.label);
        } else {
            EXPECT_NE(o.results.find(" LOXNAR RESULTS\r\n"), std::string::npos) << r.label;
        }
    }
}

// An entry data file that is a FIFO nobody writes to keeps the program
// waiting for its first record; Exit and SIGTERM still end it at once.
TEST(WindowEnds, ExitWhileTheEntryFifoHasNoWriter) {
    struct Row {
        const char* label;
        std::function<void()> act;
        int status;
    } rows[] = {
        {"Exit", [] { QTest::keyClick(host::window_view(1024), Qt::Key_C, Qt::ControlModifier); }, 0},
        {"SIGTERM", [] { kill(getpid(), SIGTERM); }, 143},
    };
    for (const Row& r : rows) {
        const Outcome o = run_case("fifo", State::FifoWait, r.act);
        ASSERT_FALSE(o.run.timed_out) << r.label << "\n" << o.run.report;
        EXPECT_EQ(o.run.exit_status, r.status) << r.label << "\n" << o.err;
        EXPECT_NE(o.shown.find("STARTING TIME"), std::string::npos) << r.label;
        EXPECT_FALSE(o.stray_files) << r.label;
    }
}

// A unit that could not be closed makes the status that failure's, also
// when the user closes the application: never 0 after lost records.
TEST(WindowEnds, ExitAfterAFailedCloseEndsWithItsStatus) {
    const Outcome o = run_case(
        "close_failed", State::Name, [] { QTest::keyClick(host::window_view(1024), Qt::Key_C, Qt::ControlModifier); },
        [](int argc, char** argv) {
            forrtl::for_rtl_init(argc, argv, 0);
            forrtl::for_note_exit_failure(forrtl::status_of(forrtl::MSG_WRITE_ERROR));
            calculator::calculation_run();
        });
    ASSERT_FALSE(o.run.timed_out) << o.run.report;
    EXPECT_EQ(o.run.exit_status, 38);
}

// ---------------------------------------------------------------------------
// Hostile input through the window, the boxes reported and answered (Yes to
// the exit prompt).

int report_and_answer(const char* text, const char* title, unsigned) {
    report("BOX " + std::string(title) + "|" + one_line(text));
    return std::string(text).rfind("Program Terminated", 0) == 0 ? forrtl::MB_ANSWER_YES : 1;
}
const host::DialogProvider kAnsweringDialogs = {report_and_answer, nullptr};

// Runs the calculation in `dir` and, when it asks for the entry name,
// types `text` as the display delivers its keys (Ctrl+@ comes as the key @
// with the text NUL) and Enter.
int run_typed(const fs::path& dir, const QString& text) {
    fs::current_path(dir);
    ChildArgs& args = child_args("loxnar");
    QApplication app(args.argc, args.argv);
    host::set_dialog_provider(&kAnsweringDialogs);
    if (host::initialise() != 0) return 100;
    host::start_calculation(run_program, args.argc, args.argv);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!host::read_pending(1024)) return;
        timer.stop();
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, c.isNull() ? Qt::Key_At : Qt::Key_unknown,
                            c.isNull() ? Qt::ControlModifier : Qt::NoModifier, QString(c));
            QApplication::sendEvent(host::window_view(1024), &press);
        }
        QTest::keyClick(host::window_view(1024), Qt::Key_Return);
    });
    timer.start(5);
    app.exec();
    return host::exit_code();
}

// A NUL typed into the entry name is a file name error (43): the name is
// not cut at the NUL, so the entry file "qu" is neither taken for an old
// results file nor deleted.
TEST(WindowInput, NulInTheEntryNameTouchesNoFile) {
    const fs::path dir = fresh_dir("nul");
    fs::copy_file(kSource / "examples/quartz.dat", dir / "qu");
    const ChildRun run = run_child([&] { return run_typed(dir, QString("qu") + QChar(0) + "x"); });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 43);
    EXPECT_EQ(tagged(run.report, "BOX "),
              (std::vector<std::string>{
                  "Velstra run-time error |forrtl: severe (43): file name specification error, unit 10, file unknown\\r\\n",
                  "host_hostile_test|Program Terminated with exit code 43\\nExit Window?"}));
    EXPECT_EQ(read_file(dir / "qu"), read_file(kSource / "examples/quartz.dat"));
    EXPECT_FALSE(fs::exists(dir / "qu.imp.dat"));
    fs::remove_all(dir);
}

// The results file reaches the file size limit: the WRITE whose record does
// not fit shows its 38 box, the exit prompt shows 38 and the process ends
// with 38; the file keeps whole records only.
TEST(WindowInput, FileSizeLimitEndsTheRunWith38) {
    const fs::path dir = fresh_dir("limit");
    {
        std::ofstream entry(dir / "forty.dat", std::ios::binary);
        for (int i = 0; i < 40; ++i) {
            entry << "alpha-quartz SiO2\n4.9134 4.9134 5.4052 90.0 90.0 120.0\n"
                     "1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n"
                  << (i < 39 ? "1\n" : "0\n");
        }
    }
    const ChildRun run = run_child([&] {
        const rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        return run_typed(dir, "forty");
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 38);
    const std::string file = (fs::canonical(dir) / "forty.imp.dat").string();
    EXPECT_EQ(tagged(run.report, "BOX "),
              (std::vector<std::string>{"Velstra run-time error |forrtl: File too large\\r\\n",
                                        "Velstra run-time error |forrtl: severe (38): error during write, unit 15, file " +
                                            file + "\\r\\n",
                                        "host_hostile_test|Program Terminated with exit code 38\\nExit Window?"}));
    const std::string results = read_file(dir / "forty.imp.dat");
    EXPECT_LE(results.size(), 20000u);
    EXPECT_EQ(results.substr(results.size() - 2), "\r\n");
    fs::remove_all(dir);
}

}  // namespace
