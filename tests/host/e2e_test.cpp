// The calculator end to end in the windowed host (offscreen), each run in a
// child process: the entry name typed into the window, the window's text
// store against the console listing, the results file against the
// console-mode run; the missing-file path; closing the frame mid-run.
#include <gtest/gtest.h>

#include <QMainWindow>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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
const fs::path kLoxnar = fs::path(LOXNAR_BINARY_DIR) / "loxnar";

std::string mask_stamps(std::string text) {
    text = std::regex_replace(text, std::regex("[0-9]{4}/[0-9]{2}/[0-9]{2}"), "YYYY/MM/DD");
    return std::regex_replace(text, std::regex("[0-9]{2}h[0-9]{2}mn[0-9]{2}s"), "HHhMMmnSSs");
}

// The child's side: boxes are reported; the exit prompt is answered Yes
// after the window's text store is reported.
int report_box(const char* text, const char* title, unsigned style) {
    report("BOX " + std::string(title) + "|" + one_line(text) + "|" + std::to_string(style));
    if (std::string(text).rfind("Program Terminated", 0) == 0) {
        report("TEXT " + one_line(host::window_text(1024)));
        return forrtl::MB_ANSWER_YES;
    }
    return 1;
}
const host::DialogProvider kReportingDialogs = {report_box, nullptr};

// Runs loxnar's calculation in the host in `dir`, typing `name` and Enter
// when the program asks (nothing when it is empty); `during` runs every
// 10 ms on the interface thread once the program has asked.  `given` is
// the answer given beforehand, as the command line gives it.
int run_host(const fs::path& dir, const std::string& name, const std::function<void()>& during = {},
             const std::string& given = {}) {
    fs::current_path(dir);
    if (!given.empty()) forrtl::for_preset_console_answer(given.data(), static_cast<int>(given.size()));
    ChildArgs& args = child_args("loxnar");
    QApplication app(args.argc, args.argv);
    host::set_dialog_provider(&kReportingDialogs);
    if (host::initialise() != 0) return 100;
    host::start_calculation(run_program, args.argc, args.argv);
    bool typed = !given.empty();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!typed && host::read_pending(1024)) {
            if (!name.empty()) {
                QTest::keyClicks(host::window_view(1024), QString::fromStdString(name));
                QTest::keyClick(host::window_view(1024), Qt::Key_Return);
            }
            typed = true;
        }
        if (typed && during) during();
    });
    timer.start(10);
    app.exec();
    return host::exit_code();
}

// The console listing of an example as the window shows it: the typed name
// echoed after the prompt, no line ends.
std::string expected_window_text(const std::string& example, const std::string& typed) {
    std::istringstream in(read_file(kSource / "examples/expected" / (example + ".console")));
    std::string line, text;
    int n = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (n == 1) line += typed;
        if (n++) text += "\\n";
        text += line;
    }
    return text;
}

// The name typed in the window, or given beforehand (the command line's
// ENTRY): either way the window shows it after the prompt.
TEST(HostEndToEnd, QuartzTypedInTheWindow) {
    for (const bool given : {false, true}) {
        const fs::path dir = fresh_dir("quartz");
        fs::copy_file(kSource / "examples/quartz.dat", dir / "quartz.dat");
        const ChildRun run = run_child([&] { return given ? run_host(dir, "", {}, "quartz") : run_host(dir, "quartz"); });
        ASSERT_FALSE(run.timed_out) << run.report;
        EXPECT_EQ(run.exit_status, 0) << run.report;

        const std::vector<std::string> boxes = tagged(run.report, "BOX ");
        ASSERT_EQ(boxes.size(), 1u) << run.report;
        EXPECT_EQ(boxes[0], "host_e2e_test|Program Terminated with exit code 0\\nExit Window?|308");
        const std::vector<std::string> text = tagged(run.report, "TEXT ");
        ASSERT_EQ(text.size(), 1u);
        EXPECT_EQ(mask_stamps(text[0]), expected_window_text("quartz", "quartz")) << given;

        // The results file is the console-mode run's, byte for byte but the stamps.
        const fs::path console_dir = fresh_dir("quartz_console");
        fs::copy_file(kSource / "examples/quartz.dat", console_dir / "quartz.dat");
        const std::string command =
            "cd '" + console_dir.string() + "' && echo quartz | '" + kLoxnar.string() + "' --console >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string in_host = read_file(dir / "quartz.imp.dat");
        EXPECT_FALSE(in_host.empty());
        EXPECT_EQ(mask_stamps(in_host), mask_stamps(read_file(console_dir / "quartz.imp.dat")));
        EXPECT_EQ(mask_stamps(in_host), read_file(kSource / "examples/expected/quartz.imp.dat"));
        fs::remove_all(dir);
        fs::remove_all(console_dir);
    }
}

TEST(HostEndToEnd, MissingEntryFileShowsTwoDiagnosticsThenThePrompt) {
    const fs::path dir = fresh_dir("missing");
    const ChildRun run = run_child([&] { return run_host(dir, "nosuch"); });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 29) << run.report;
    const std::vector<std::string> boxes = tagged(run.report, "BOX ");
    ASSERT_EQ(boxes.size(), 3u) << run.report;
    EXPECT_EQ(boxes[0], "Velstra run-time error |forrtl: No such file or directory\\r\\n|8208");
    EXPECT_EQ(boxes[1], "Velstra run-time error |forrtl: severe (29): file not found, unit 10, file " +
                            (fs::canonical(dir) / "nosuch.dat").string() + "\\r\\n|8208");
    EXPECT_EQ(boxes[2], "host_e2e_test|Program Terminated with exit code 29\\nExit Window?|308");
    fs::remove_all(dir);
}

TEST(HostEndToEnd, ClosingTheFrameMidRunKeepsEveryRecordWritten) {
    const fs::path dir = fresh_dir("close");
    // Many cases whose cells differ, so that each case's plane table is its own.
    {
        std::ofstream entry(dir / "many.dat", std::ios::binary);
        const int cases = 20000;
        for (int i = 0; i < cases; ++i) {
            entry << "case " << i << "\n" << 3.0 + 0.001 * i << " 4.9134 5.4052 90.0 90.0 120.0\n"
                  << "1 3 0 0 0 0 0  1.50 5.00  5 5 5  1.5406\n" << (i + 1 < cases ? 1 : 0) << "\n";
        }
    }
    const ChildRun run = run_child([&] {
        return run_host(dir, "many", [] {
            static int ticks = 0;
            if (++ticks != 10) return;
            // What the console shows when the frame is closed.
            report("SHOWN " + one_line(host::window_text(1024)));
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* frame = qobject_cast<QMainWindow*>(w)) frame->close();
            }
        });
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 0) << run.report;
    EXPECT_TRUE(tagged(run.report, "BOX ").empty()) << run.report;  // no question asked
    const std::vector<std::string> shown = tagged(run.report, "SHOWN ");
    ASSERT_EQ(shown.size(), 1u) << run.report;
    const std::string results = read_file(dir / "many.imp.dat");
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.substr(results.size() - 2), "\r\n");
    // The plane-table rows the console showed before the close are in the
    // results file (each row goes to the file right after the console; the
    // last one may have been cut short by the close).
    const std::regex table_row("^ +[0-9]+ +[0-9]+ +-?[0-9]+ +[0-9]+\\.[0-9]+ .*");
    std::vector<std::string> rows;
    std::size_t pos = 0;
    const std::string& text = shown[0];
    while (pos <= text.size()) {
        std::size_t end = text.find("\\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (std::regex_match(line, table_row)) rows.push_back(line);
        pos = end + 2;
    }
    ASSERT_GE(rows.size(), 2u) << shown[0];
    EXPECT_NE(results.find(rows[rows.size() - 2] + "\r\n"), std::string::npos) << rows[rows.size() - 2];
    fs::remove_all(dir);
}

TEST(HostEndToEnd, ClosingTheFrameWhileTheProgramWaitsForItsAnswer) {
    const fs::path dir = fresh_dir("close_read");
    const ChildRun run = run_child([&] {
        return run_host(dir, "", [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* frame = qobject_cast<QMainWindow*>(w)) frame->close();
            }
        });
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 0) << run.report;
    EXPECT_TRUE(tagged(run.report, "BOX ").empty()) << run.report;
    EXPECT_TRUE(fs::is_empty(dir));  // no file opened: the read never returned
    fs::remove_all(dir);
}

}  // namespace
