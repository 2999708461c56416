// Help: the "FPSHL_HLP" lookup, the help document's topics, Contents and
// Using Help, and help mode (F1 on each item of the open menus opens the
// item's topic, or says "Help not available for menu item", instead of
// acting).
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "frame.h"
#include "help.h"
#include "host_state.h"
#include "host_test_support.h"
#include "test_files.h"

namespace {

using testfiles::read_file;

using namespace hosttest;
namespace fs = std::filesystem;

TEST(HelpLookup, FpshlHlpThenTheProgramsFolderThenTheDataFolders) {
    const fs::path root = fs::temp_directory_path() / ("loxnar_help_lookup_" + std::to_string(getpid()));
    struct Row {
        const char* label;
        const char* variable;   // nullptr: unset; "@" stands for the root folder
        std::vector<const char*> files;  // present, relative to the root
        const char* xdg;        // nullptr: unset; "@" for the root
        const char* expected;   // relative to the root; "=" prefix: as it is
    };
    const Row rows[] = {
        {"a folder ending in /", "@/doc/", {"doc/FPSHL.html", "bin/FPSHL.html"}, nullptr, "doc/FPSHL.html"},
        {"a name gets .html", "@/doc/mine", {"doc/mine.html", "bin/FPSHL.html"}, nullptr, "doc/mine.html"},
        {"a name with its extension", "@/doc/mine.htm", {"doc/mine.htm"}, nullptr, "doc/mine.htm"},
        {"an extension without a name", "@/doc/.html", {"doc/FPSHL.html"}, nullptr, "doc/FPSHL.html"},
        {"a folder without the final / is a name", "@/doc", {"doc/FPSHL.html", "bin/FPSHL.html"}, nullptr, "bin/FPSHL.html"},
        {"a missing file: the search", "@/doc/", {"bin/FPSHL.html"}, nullptr, "bin/FPSHL.html"},
        {"empty is unset", "", {"bin/FPSHL.html"}, nullptr, "bin/FPSHL.html"},
        {"the program's folder first", nullptr, {"bin/FPSHL.html", "d2/loxnar/FPSHL.html"}, "@/d1:@/d2", "bin/FPSHL.html"},
        {"then the data folders in order", nullptr, {"d1/loxnar/FPSHL.html", "d2/loxnar/FPSHL.html"}, "@/d1:@/d2/", "d1/loxnar/FPSHL.html"},
        {"the second data folder", nullptr, {"d2/loxnar/FPSHL.html"}, "@/d1::@/d2", "d2/loxnar/FPSHL.html"},
        {"then share/loxnar beside the program", nullptr, {"share/loxnar/FPSHL.html"}, "@/d1", "bin/../share/loxnar/FPSHL.html"},
        {"nothing found: the name as it is", "@/doc/", {}, "@/d1", "=FPSHL.html"},
    };
    auto at_root = [&](const char* text) -> std::string {
        if (!text) return std::string();
        std::string s = text;
        for (std::size_t pos; (pos = s.find('@')) != std::string::npos;) s.replace(pos, 1, root.string());
        return s;
    };
    for (const Row& row : rows) {
        fs::remove_all(root);
        fs::create_directories(root / "bin");
        for (const char* file : row.files) {
            fs::create_directories((root / file).parent_path());
            std::ofstream(root / file) << "<html></html>";
        }
        const std::string variable = at_root(row.variable);
        const std::string xdg = at_root(row.xdg);
        const std::string found = host::find_help_file(row.variable ? variable.c_str() : nullptr, (root / "bin").string(),
                                                       row.xdg ? xdg.c_str() : nullptr);
        const std::string expected = row.expected[0] == '=' ? std::string(row.expected + 1) : (root / row.expected).string();
        EXPECT_EQ(found, expected) << row.label;
    }
    fs::remove_all(root);
}

// Every context number a command leads to, and the contents and the page
// about the help window, are topics (anchors) of the shipped document.
TEST(HelpDocument, HasATopicForEveryContextNumber) {
    const std::string html = read_file(fs::path(LOXNAR_SOURCE_DIR) / "host/help/FPSHL.html");
    ASSERT_FALSE(html.empty());
    EXPECT_NE(html.find("<a name=\"contents\">"), std::string::npos);
    EXPECT_NE(html.find("<a name=\"using-help\">"), std::string::npos);
    for (int context = 1000; context <= 1018; ++context) {
        EXPECT_NE(html.find("<a name=\"context-" + std::to_string(context) + "\">"), std::string::npos) << context;
    }
}

class Help : public testing::Test {
protected:
    void SetUp() override {
        // The shipped document, through the variable (a folder ending in /).
        setenv("FPSHL_HLP", LOXNAR_SOURCE_DIR "/host/help/", 1);
        window_ = on_calc([] { return ops().open_window("Helped"); });
        on_calc([this] { return ops().write_text("x\r\n", 3, window_, 0); });
        ASSERT_TRUE(pump_until([this] { return host::window_shown(window_); }));
        host::ui_activate_window(host::window_for(window_));
        frame_ = qobject_cast<QMainWindow*>(host::ui_frame_widget());
        ASSERT_NE(frame_, nullptr);
        ASSERT_TRUE(pump_until([this] { return frame_->menuBar()->actions().size() == 6; }));
    }
    void TearDown() override { on_calc([this] { return ops().close_window(window_, 0); }); }

    // Opens the item's popup, highlights the item and presses F1.
    void press_f1_on(QAction* item) {
        for (QAction* bar_item : frame_->menuBar()->actions()) {
            QMenu* popup = bar_item->menu();
            if (!popup || !popup->actions().contains(item)) continue;
            popup->popup(QPoint(10, 10));
            ASSERT_TRUE(pump_until([&] { return popup->isVisible(); }));
            popup->setActiveAction(item);
            QTest::keyClick(popup, Qt::Key_F1);
            pump_for(30);
            EXPECT_FALSE(popup->isVisible());
            return;
        }
        FAIL() << "no popup holds " << item->text().toStdString();
    }

    int window_ = -1;
    QMainWindow* frame_ = nullptr;
};

TEST_F(Help, ContentsAndUsingHelpOpenTheirTopics) {
    ASSERT_NE(host::help_file().find("FPSHL.html"), std::string::npos);
    ASSERT_TRUE(fs::exists(host::help_file())) << host::help_file();
    host::run_command(1016);
    EXPECT_TRUE(host::help_window_source().endsWith(QStringLiteral("FPSHL.html#contents")))
        << host::help_window_source().toStdString();
    host::run_command(1017);
    EXPECT_TRUE(host::help_window_source().endsWith(QStringLiteral("FPSHL.html#using-help")))
        << host::help_window_source().toStdString();
}

// F1 on each item of the full menu: the item's context topic, or the box;
// the command itself is not carried out (Exit does not close, Pause does
// not pause, Status Bar keeps the bar).
TEST_F(Help, HelpModeOnEveryMenuItem) {
    for (QAction* bar_item : frame_->menuBar()->actions()) {
        for (QAction* item : bar_item->menu()->actions()) {
            const int command = item->data().toInt();
            if (command <= 0) continue;
            const std::string label = item->text().toStdString();
            const std::size_t boxes_before = boxes().size();
            const bool bar_before = host::frame_status_bar_visible();
            press_f1_on(item);
            const int context = host::help_context(command);
            const std::vector<Box> all = boxes();
            if (context != 0) {
                EXPECT_EQ(all.size(), boxes_before) << label;
                EXPECT_TRUE(host::help_window_source().endsWith(QStringLiteral("#context-%1").arg(context)))
                    << label << ": " << host::help_window_source().toStdString();
            } else {
                ASSERT_EQ(all.size(), boxes_before + 1) << label;
                EXPECT_EQ(all.back().text, "Help not available for menu item") << label;
                EXPECT_EQ(all.back().title, host::facts().app_name) << label;
            }
            EXPECT_EQ(host::state_word(), "Running") << label;
            EXPECT_EQ(host::frame_status_bar_visible(), bar_before) << label;
            EXPECT_FALSE(host::shutting_down()) << label;
        }
    }
    // The table's examples: Copy leads to 1002, Select Text to none; help
    // mode ended with the command, so the next command acts.
    EXPECT_EQ(host::help_context(1004), 1002);
    EXPECT_EQ(host::help_context(1001), 0);
    const std::size_t boxes_before = boxes().size();
    host::run_command(1018);  // About, not in help mode: its box
    ASSERT_EQ(boxes().size(), boxes_before + 1);
    EXPECT_NE(boxes().back().text.find("LOXNAR"), std::string::npos);
}

// F1 on an entry of the Window popup's list of windows, which has no
// topic: the box, the menu closed, the listed window not activated.
TEST_F(Help, HelpModeOnTheWindowList) {
    QMenu* popup = nullptr;
    for (QAction* bar_item : frame_->menuBar()->actions()) {
        if (bar_item->text() == "&Window") popup = bar_item->menu();
    }
    ASSERT_NE(popup, nullptr);
    popup->popup(QPoint(10, 10));
    ASSERT_TRUE(pump_until([&] { return popup->isVisible(); }));
    QAction* listed = nullptr;
    for (QAction* item : popup->actions()) {
        if (item->text().endsWith(QStringLiteral(" Helped"))) listed = item;
    }
    ASSERT_NE(listed, nullptr);
    const std::size_t boxes_before = boxes().size();
    popup->setActiveAction(listed);
    QTest::keyClick(popup, Qt::Key_F1);
    pump_for(30);
    EXPECT_FALSE(popup->isVisible());
    ASSERT_EQ(boxes().size(), boxes_before + 1);
    EXPECT_EQ(boxes().back().text, "Help not available for menu item");
}

}  // namespace
