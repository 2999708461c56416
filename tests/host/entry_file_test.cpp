// The entry data file opened from the window: File > Open Entry File...
// and a file dropped on the frame answer the prompt for the user with the
// file's name, from the file's folder, while the program waits for it (not
// while it is paused); a file whose name the answer cannot hold gets a box
// and the program goes on waiting.  The real calculator, in a child
// process of its own.
#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <filesystem>

#include "command_line.h"
#include "commands.h"
#include "entry_file.h"
#include "host_state.h"
#include "host_test_support.h"
#include "loxnar_program.h"
#include "test_files.h"

namespace {

using namespace hosttest;
namespace fs = std::filesystem;

const host::EntryFileRule kRule = {"&Open Entry File...", "Open Entry File", "Entry data files (*.dat);;All Files (*)",
                                   calculator::accept_entry_file};

std::string g_chosen;  // what the file dialog gives

int answer_box(const char* text, const char* title, unsigned) {
    report("BOX " + std::string(title) + "|" + one_line(text));
    if (std::strncmp(text, "Program Terminated", 18) == 0) {
        report(std::string("ENDED ") + (host::command_enabled(host::kOpenEntryFile) ? "enabled" : "grayed"));
    }
    return forrtl::MB_ANSWER_YES;  // the exit prompt: close
}
int open_file(char* buffer, int capacity, const char* title, const char* filters) {
    report(std::string("DIALOG ") + title + "|" + filters);
    if (g_chosen.size() + 1 > static_cast<std::size_t>(capacity)) return 0;
    std::memcpy(buffer, g_chosen.c_str(), g_chosen.size() + 1);
    return 1;
}
const host::DialogProvider kDialogs = {answer_box, nullptr, open_file};

QMainWindow* frame() { return qobject_cast<QMainWindow*>(host::ui_frame_widget()); }

// The item as a user finds it: its popup opened first.
QAction* open_item() {
    for (QAction* bar_item : frame()->menuBar()->actions()) {
        if (bar_item->text() != "&File") continue;
        bar_item->menu()->popup(QPoint(0, 0));
        QCoreApplication::processEvents();
        bar_item->menu()->hide();
        for (QAction* item : bar_item->menu()->actions()) {
            if (item->text() == "&Open Entry File...") return item;
        }
    }
    return nullptr;
}

// Drags `path` over the frame and drops it; whether the drag was taken.
bool drop(const fs::path& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame(), &dropped);
    pump_for(20);
    return true;
}

std::string enabled(QAction* item) { return item ? (item->isEnabled() ? "enabled" : "grayed") : "missing"; }

int entry_file_child(const fs::path& start, const fs::path& data) {
    fs::current_path(start);
    ChildArgs& args = child_args("loxnar");
    QApplication app(args.argc, args.argv);
    host::set_dialog_provider(&kDialogs);
    host::set_entry_file_rule(&kRule);
    if (host::initialise() != 0) return 100;
    host::start_calculation(run_program, args.argc, args.argv);
    QTimer::singleShot(0, [&] {
        pump_until([] { return host::read_pending(1024) && host::window_shown(1024); });
        report("WAITING " + enabled(open_item()));
        QTest::keyClick(host::window_view(1024), Qt::Key_S, Qt::ControlModifier);
        report("PAUSED " + enabled(open_item()) + (drop(data / "quartz.dat") ? " taken" : " refused"));
        QTest::keyClick(host::window_view(1024), Qt::Key_Q, Qt::ControlModifier);
        report(std::string("BAD NAME ") + (drop(data / "abcdefghijklmnopqrstu.dat") ? "taken" : "refused") + " " +
               (host::read_pending(1024) ? "still waiting" : "answered"));
        QTest::keyClicks(host::window_view(1024), "qu");  // typed, then replaced
        g_chosen = (data / "quartz.dat").string();
        if (QAction* item = open_item()) item->trigger();
    });
    app.exec();
    report("TEXT " + one_line(host::window_text(1024)).substr(0, 120));
    return host::exit_code();
}

TEST(EntryFile, OpenedFromTheMenuOrDroppedAnswersThePrompt) {
    const fs::path start = testfiles::fresh_dir("entry_file_start");
    const fs::path data = testfiles::fresh_dir("entry_file_data");
    fs::copy_file(fs::path(LOXNAR_SOURCE_DIR) / "examples/quartz.dat", data / "quartz.dat");
    testfiles::write_file(data / "abcdefghijklmnopqrstu.dat", "");
    const ChildRun run = run_child([&] { return entry_file_child(start, data); });
    ASSERT_FALSE(run.timed_out) << run.report;
    EXPECT_EQ(run.exit_status, 0) << run.report;
    EXPECT_EQ(tagged(run.report, "WAITING "), std::vector<std::string>{"enabled"}) << run.report;
    EXPECT_EQ(tagged(run.report, "PAUSED "), std::vector<std::string>{"grayed refused"}) << run.report;
    EXPECT_EQ(tagged(run.report, "ENDED "), std::vector<std::string>{"grayed"}) << run.report;
    EXPECT_EQ(tagged(run.report, "BAD NAME "), std::vector<std::string>{"taken still waiting"}) << run.report;
    EXPECT_EQ(tagged(run.report, "DIALOG "),
              std::vector<std::string>{"Open Entry File|Entry data files (*.dat);;All Files (*)"});
    const std::vector<std::string> boxes = tagged(run.report, "BOX ");
    ASSERT_EQ(boxes.size(), 2u) << run.report;
    EXPECT_EQ(boxes[0], "host_entry_file_test|The entry name 'abcdefghijklmnopqrstu' has 21 characters; the "
                        "program takes at most 20.");
    EXPECT_EQ(boxes[1], "host_entry_file_test|Program Terminated with exit code 0\\nExit Window?");
    // The name typed for the user in place of "qu"; the listing beside the
    // entry file, none where the program started.
    const std::vector<std::string> text = tagged(run.report, "TEXT ");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].substr(0, 74), "     LOXNAR calculates d(hkl)\\n  entry .dat file (no extension) ??quartz\\n");
    EXPECT_NE(testfiles::read_file(data / "quartz.imp.dat").find("ENDING TIME"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(start));
    fs::remove_all(start);
    fs::remove_all(data);
}

}  // namespace
