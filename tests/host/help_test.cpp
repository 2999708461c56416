// Help: the "FPSHL_HLP" lookup, the help document's topics, Contents and
// Using Help, and help mode (F1 on each item of the open menus opens the
// item's topic, or says "Help not available for menu item", instead of
// acting).
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextBrowser>
#include <QTextDocument>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

// The topics of the shipped document: anchor, heading.
std::vector<std::pair<std::string, std::string>> topics() {
    const std::string html = read_file(fs::path(LOXNAR_SOURCE_DIR) / "host/help/FPSHL.html");
    const std::regex heading("<h[12]><a name=\"([^\"]*)\"></a>([^<]*)</h[12]>");
    std::vector<std::pair<std::string, std::string>> found;
    for (std::sregex_iterator it(html.begin(), html.end(), heading), end; it != end; ++it) {
        found.emplace_back((*it)[1], (*it)[2]);
    }
    return found;
}

// Every context number a command leads to, the contents, the page about
// the help window and the topics about the program are topics (headings
// holding their anchors) of the shipped document, and every link of it
// leads to one.
TEST(HelpDocument, HasATopicForEveryContextNumberAndEveryLink) {
    std::set<std::string> names;
    for (const auto& [name, title] : topics()) names.insert(name);
    std::vector<std::string> wanted = {"contents",   "using-help", "getting-started", "entry-file", "parameters",
                                       "conditions", "planes",     "listing",         "diagnostics", "exit-status"};
    for (int context = 1000; context <= 1018; ++context) wanted.push_back("context-" + std::to_string(context));
    for (const std::string& name : wanted) EXPECT_TRUE(names.count(name)) << name;
    const std::string html = read_file(fs::path(LOXNAR_SOURCE_DIR) / "host/help/FPSHL.html");
    const std::regex link("href=\"#([^\"]*)\"");
    for (std::sregex_iterator it(html.begin(), html.end(), link), end; it != end; ++it) {
        EXPECT_TRUE(names.count((*it)[1])) << "a link to #" << (*it)[1];
    }
}

QTextBrowser* help_window() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* browser = qobject_cast<QTextBrowser*>(w); browser && browser->isVisible()) return browser;
    }
    return nullptr;
}

// The help window shows topic `name` alone: its heading first and no
// other topic heading.
void expect_topic_alone(const std::string& name, const std::string& label) {
    EXPECT_EQ(host::help_window_source().toStdString(), "loxnar-help:" + name) << label;
    QTextBrowser* browser = help_window();
    ASSERT_NE(browser, nullptr) << label;
    std::vector<std::string> headings;
    for (QTextBlock b = browser->document()->begin(); b.isValid(); b = b.next()) {
        const int level = b.blockFormat().headingLevel();
        if (level == 1 || level == 2) headings.push_back(b.text().toStdString());
    }
    std::string title;
    for (const auto& [topic, heading] : topics()) {
        if (topic == name) title = heading;
    }
    EXPECT_EQ(headings, std::vector<std::string>{title}) << label;
    EXPECT_EQ(browser->document()->begin().text().toStdString(), title) << label;
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
    expect_topic_alone("contents", "Contents");
    host::run_command(1017);
    expect_topic_alone("using-help", "Using Help");
}

// A link leads to its topic alone; Alt+Left goes back to the topic before.
TEST_F(Help, LinksLeadToOneTopicAtATime) {
    host::run_command(1016);
    QTextBrowser* browser = help_window();
    ASSERT_NE(browser, nullptr);
    // A click on the link, as the user makes it.
    const QTextCursor link = browser->document()->find(QStringLiteral("The condition codes and the lattice centrings"));
    ASSERT_FALSE(link.isNull());
    QTextCursor middle = link;
    middle.setPosition((link.selectionStart() + link.selectionEnd()) / 2);
    const QPoint at = browser->cursorRect(middle).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    pump_for(20);
    expect_topic_alone("conditions", "the link to the condition codes");
    EXPECT_NE(browser->toPlainText().indexOf(QStringLiteral("body-centred lattice I")), -1);
    QTest::keyClick(browser, Qt::Key_Left, Qt::AltModifier);
    expect_topic_alone("contents", "back");
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
                expect_topic_alone("context-" + std::to_string(context), label);
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
