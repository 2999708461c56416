// The end of the program and of the application, each in a child process:
// the exit prompt's text and answers with the three exit behaviours, Enter
// in the real box choosing No, the fatal path with its exit hooks, and a
// second initialisation.
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "for_lub.h"
#include "for_startup.h"
#include "for_stmt.h"
#include "for_stop.h"
#include "host_test_support.h"

namespace {

using namespace hosttest;

int g_answer = 1;
int report_box(const char* text, const char* title, unsigned style) {
    report("BOX " + std::string(title) + "|" + one_line(text) + "|" + std::to_string(style));
    return g_answer;
}
const host::DialogProvider kReportingDialogs = {report_box, nullptr};

// The child's application, its boxes reported.
struct ChildApp {
    int argc = 1;
    char arg0[8] = "loxnar";
    char* argv[2] = {arg0, nullptr};
    QApplication app{argc, argv};
    ChildApp() { host::set_dialog_provider(&kReportingDialogs); }
};

int g_stop_code = 0;

// The program: one line of output, then STOP with a code.
void stopping_program(int, char**) {
    forrtl::g_host->write_text("hello\r\n", 7, 1024, 0);
    forrtl::for_stop(nullptr, 0, 0, g_stop_code, forrtl::STOP_NUMERIC_CODE);
}

// Runs the stopping program.  When the application is still open 300 ms
// after the program finished, "OPEN" is reported and Exit (Ctrl+C in the
// window) closes it.
int run_stopping(int behaviour, bool standard_dialogs) {
    ChildApp app;
    if (standard_dialogs) host::set_dialog_provider(nullptr);
    if (host::initialise() != 0) return 100;
    host::set_exit_behaviour(behaviour);
    host::start_calculation(stopping_program, app.argc, app.argv);
    int finished_ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            // The standard box: report it and press Enter.
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                report("BOX " + message->windowTitle().toStdString() + "|" + one_line(message->text().toStdString()));
                QTest::keyClick(message, Qt::Key_Return);
            }
            return;
        }
        if (host::state_word() != "Finished") return;
        if (++finished_ticks == 30) {
            report("OPEN");
            QTest::keyClick(host::window_view(1024), Qt::Key_C, Qt::ControlModifier);
        }
    });
    timer.start(10);
    QApplication::exec();
    return host::exit_code();
}

TEST(ExitPrompt, TextAnswersAndExitBehaviours) {
    struct Row {
        const char* label;
        int behaviour;
        int answer;
        int code;
        std::vector<std::string> boxes;
        bool stays_open;
    };
    const std::string app = "host_exit_test|";
    const Row rows[] = {
        {"Yes closes at once", 1, forrtl::MB_ANSWER_YES, 3,
         {app + "Program Terminated with exit code 3\\nExit Window?|308"}, false},
        {"No keeps the windows until Exit", 1, forrtl::MB_ANSWER_NO, 0,
         {app + "Program Terminated with exit code 0\\nExit Window?|308"}, true},
        {"behaviour 2 closes without asking", 2, 0, 5, {}, false},
        {"behaviour 3 keeps the windows without asking", 3, 0, 7, {}, true},
    };
    for (const Row& r : rows) {
        const ChildRun run = run_child([&] {
            g_answer = r.answer;
            g_stop_code = r.code;
            return run_stopping(r.behaviour, false);
        });
        ASSERT_FALSE(run.timed_out) << r.label << "\n" << run.report;
        EXPECT_EQ(run.exit_status, r.code) << r.label;
        EXPECT_EQ(tagged(run.report, "BOX "), r.boxes) << r.label;
        EXPECT_EQ(tagged(run.report, "OPEN").size(), r.stays_open ? 1u : 0u) << r.label;
    }
}

TEST(ExitPrompt, EnterInTheStandardBoxChoosesNo) {
    const ChildRun run = run_child([] {
        g_stop_code = 0;
        return run_stopping(1, true);
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(tagged(run.report, "BOX "),
              std::vector<std::string>{"host_exit_test|Program Terminated with exit code 0\\nExit Window?"});
    EXPECT_EQ(tagged(run.report, "OPEN").size(), 1u) << run.report;
}

TEST(ExitCommand, MinimalMenuExitClosesWhileTheProgramComputes) {
    // No text window was ever shown: the minimal menu; the program only
    // computes and transfers records to files.
    const ChildRun run = run_child([] {
        ChildApp app;
        host::initialise();
        host::start_calculation(
            [](int, char**) {
                for (;;) {
                    forrtl::g_host->transfer_gate();
                    usleep(1000);
                }
            },
            app.argc, app.argv);
        QTimer::singleShot(100, [] {
            QMainWindow* frame = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* f = qobject_cast<QMainWindow*>(w)) frame = f;
            }
            const QList<QAction*> bar = frame->menuBar()->actions();
            report("BAR " + std::to_string(bar.size()) + " " + bar[0]->text().toStdString());
            for (QAction* item : bar[0]->menu()->actions()) {
                report("ITEM " + item->text().toStdString());
                item->trigger();
            }
        });
        QApplication::exec();
        return host::exit_code();
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(tagged(run.report, "BAR "), std::vector<std::string>{"1 &File"});
    EXPECT_EQ(tagged(run.report, "ITEM "), std::vector<std::string>{"E&xit"});
    EXPECT_TRUE(tagged(run.report, "BOX ").empty());
}

TEST(FatalPath, BoxThenExitHooksInOrderThenExitCodeMinusOne) {
    const ChildRun run = run_child([] {
        ChildApp app;
        host::initialise();
        static void (*const kHooks[])() = {
            [] { report("HOOK 0"); }, [] { report("HOOK 1"); }, [] { report("HOOK 2"); },
        };
        int accepted = 0;
        for (int i = 0; i < 40; ++i) {
            if (host::register_exit_hook(kHooks[i < 3 ? i : 2]) == 0) break;
            ++accepted;
        }
        report("ACCEPTED " + std::to_string(accepted));
        host::fatal(5, "frame.cpp", 42);
        return 0;  // not reached
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 255);  // -1
    EXPECT_EQ(tagged(run.report, "BOX "),
              std::vector<std::string>{"PaneShell Fatal Error|Internal Error - unexpected error, file \"frame.cpp\", line 42|8208"});
    // 32 hooks at most: the host's own (the menus' release) and 31 more.
    const std::vector<std::string> accepted = tagged(run.report, "ACCEPTED ");
    ASSERT_EQ(accepted, std::vector<std::string>{"31"});
    const int n = 31;
    const std::vector<std::string> hooks = tagged(run.report, "HOOK ");
    ASSERT_EQ(hooks.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(hooks[0], "0");
    EXPECT_EQ(hooks[1], "1");
    EXPECT_EQ(hooks[2], "2");
}

TEST(FatalPath, OnTheCalculationThreadFilesKeepTheirRecords) {
    char pattern[] = "/tmp/loxnar_fatal_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/unit20.txt";
    const ChildRun run = run_child([&] {
        setenv("FORT20", path.c_str(), 1);
        ChildApp app;
        host::initialise();
        host::start_calculation(
            [](int argc, char** argv) {
                forrtl::for_rtl_init(argc, argv, 0);
                // The first record goes out at once (the file is cut after
                // it); the second is held in a write-behind block.
                static const char kFormat[] = "('record')";
                const std::uint8_t no_items[2] = {forrtl::ITEM_END_OF_LIST, 0};
                for (int i = 0; i < 2; ++i) {
                    forrtl::format_write_begin(20, forrtl::SF_FORMAT_TEXT,
                                               reinterpret_cast<const std::uint8_t*>(kFormat), sizeof kFormat - 1,
                                               no_items, nullptr);
                }
                host::fatal(4, "windows.cpp", 7);
            },
            app.argc, app.argv);
        QApplication::exec();
        return 0;
    });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 255);
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, "record\r\nrecord\r\n");
    std::filesystem::remove_all(pattern);
}

TEST(FatalPath, TestHookObservesTheExitCode) {
    const ChildRun run = run_child([] {
        ChildApp app;
        host::initialise();
        host::set_process_end([](int code) { report("END " + std::to_string(code)); });
        host::fatal(0, "frame.cpp", 1);  // code 0: no box
        return 9;
    });
    EXPECT_EQ(run.exit_status, 9);
    EXPECT_EQ(tagged(run.report, "END "), std::vector<std::string>{"-1"});
    EXPECT_TRUE(tagged(run.report, "BOX ").empty());
}

TEST(HostStart, SecondInitialisationWarnsAndChangesNothing) {
    const ChildRun run = run_child([] {
        ChildApp app;
        report("FIRST " + std::to_string(host::initialise()));
        report("SECOND " + std::to_string(host::initialise()));
        report("TITLE " + host::window_title(1024) + "|" + host::window_title(1025));
        return 0;
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(tagged(run.report, "FIRST "), std::vector<std::string>{"0"});
    EXPECT_EQ(tagged(run.report, "SECOND "), std::vector<std::string>{"-1"});
    EXPECT_EQ(tagged(run.report, "TITLE "), std::vector<std::string>{"Graphic1|"});
    const std::vector<std::string> boxes = tagged(run.report, "BOX ");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("PaneShell Warning|Possible internal inconsistency\\nfile \"host.cpp\", line ", 0), 0u)
        << boxes[0];
}

}  // namespace
