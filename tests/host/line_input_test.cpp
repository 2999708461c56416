// Line reading in a text window: the line editor's limits, the kept rest of
// a long line, paste input, and the keys that no read takes.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QKeyEvent>

#include <functional>

#include "host_state.h"
#include "host_test_support.h"

namespace {

using namespace hosttest;

// A read of `capacity` characters in `window` on a calculation thread.
class Reader {
public:
    Reader(int window, int capacity)
        : window_(window), buffer_(static_cast<std::size_t>(capacity) + 1, '\0'),
          thread_([this, capacity] { count_ = ops().read_line(buffer_.data(), capacity, window_); }) {}
    // Waits until the read waits and its window is shown (keys reach it).
    bool wait_pending() {
        return pump_until([this] { return (host::read_pending(window_) && host::window_shown(window_)) || thread_.done(); });
    }
    // The line read (after join), or "<-1>".
    std::string line() {
        EXPECT_TRUE(thread_.join());
        return count_ < 0 ? "<-1>" : std::string(buffer_.data(), static_cast<std::size_t>(count_));
    }

private:
    int window_;
    std::vector<char> buffer_;
    int count_ = -2;
    CalcThread thread_;
};

class LineInput : public testing::Test {
protected:
    void SetUp() override {
        window_ = on_calc([] { return ops().open_window("Input"); });
        ASSERT_GE(window_, 1024);
    }
    void TearDown() override {
        on_calc([this] { return ops().close_window(window_, 0); });
    }
    int window_ = -1;
};

TEST_F(LineInput, The128thCharacterIsTakenThe129thRefused) {
    Reader reader(window_, 200);
    ASSERT_TRUE(reader.wait_pending());
    const int beeps = host::beep_count();
    type(window_, QString(127, QLatin1Char('a')) + "bc");
    EXPECT_EQ(host::beep_count(), beeps + 1);
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), std::string(127, 'a') + "b");
    std::string shown = host::window_text(window_);
    std::erase(shown, '\n');  // the echo wraps at the window's last column
    EXPECT_EQ(shown, std::string(127, 'a') + "b");
}

TEST_F(LineInput, TabStopsTwoShortOfTheCapacity) {
    Reader reader(window_, 200);
    ASSERT_TRUE(reader.wait_pending());
    type(window_, QString(125, QLatin1Char('x')));
    const int beeps = host::beep_count();
    key(window_, Qt::Key_Tab);
    EXPECT_EQ(host::beep_count(), beeps + 1);
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), std::string(125, 'x') + " ");
}

TEST_F(LineInput, TabAddsEightBlanks) {
    Reader reader(window_, 200);
    ASSERT_TRUE(reader.wait_pending());
    type(window_, "a");
    key(window_, Qt::Key_Tab);
    type(window_, "b");
    key(window_, Qt::Key_J, Qt::ControlModifier);  // Ctrl+J ends the line too
    EXPECT_EQ(reader.line(), "a        b");
}

TEST_F(LineInput, LongLineIsDeliveredInPiecesWithoutWaitOrEcho) {
    {
        Reader reader(window_, 60);
        ASSERT_TRUE(reader.wait_pending());
        type(window_, QString(100, QLatin1Char('k')));
        key(window_, Qt::Key_Return);
        EXPECT_EQ(reader.line(), std::string(60, 'k'));
    }
    const std::string shown = host::window_text(window_);
    Reader rest(window_, 60);
    EXPECT_EQ(rest.line(), std::string(40, 'k'));  // at once: no key pressed
    EXPECT_EQ(host::window_text(window_), shown);
}

TEST_F(LineInput, BackspaceNeverErasesThePrompt) {
    on_calc([this] { return ops().write_text("ab", 2, window_, 0); });
    Reader reader(window_, 80);
    ASSERT_TRUE(reader.wait_pending());
    const int beeps = host::beep_count();
    key(window_, Qt::Key_Backspace);  // empty line: nothing
    type(window_, "xy");
    key(window_, Qt::Key_Backspace);
    key(window_, Qt::Key_Backspace);
    key(window_, Qt::Key_Backspace);
    type(window_, "z");
    EXPECT_EQ(host::window_text(window_), "abz");
    EXPECT_EQ(host::beep_count(), beeps);
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), "z");
}

TEST_F(LineInput, StatusBarShowsThePendingRead) {
    Reader reader(window_, 80);
    ASSERT_TRUE(reader.wait_pending());
    EXPECT_TRUE(pump_until([] { return host::status_message() == "Input pending in Input"; }));
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), "");
    EXPECT_TRUE(pump_until([] { return host::status_message().empty(); }));
}

// Keys typed while the window that waits is minimised (still the active
// one) go to its line, through the frame's window as a user's keys do.
TEST_F(LineInput, KeysReachAMinimisedWindow) {
    Reader reader(window_, 80);
    ASSERT_TRUE(reader.wait_pending());
    QWidget* sub = view(window_)->parentWidget();
    host::ui_activate_window(host::window_for(window_));
    sub->showMinimized();
    ASSERT_TRUE(pump_until([&] { return sub->isMinimized(); }));
    QWindow* frame = host::ui_frame_widget()->windowHandle();
    for (const char c : std::string("ab")) QTest::keyClick(frame, c);
    QTest::keyClick(frame, Qt::Key_Return);
    EXPECT_EQ(reader.line(), "ab");
    sub->showNormal();
}

TEST_F(LineInput, KeysThatNoReadTakesBeepAndAreLost) {
    const int other = on_calc([] { return ops().open_window("Other"); });
    on_calc([&] { return ops().write_text("o", 1, other, 0); });
    Reader reader(window_, 80);
    ASSERT_TRUE(reader.wait_pending());
    int beeps = host::beep_count();
    type(other, "q");  // typed in another window
    EXPECT_EQ(host::beep_count(), beeps + 1);
    key(window_, Qt::Key_S, Qt::ControlModifier);  // Pause
    ASSERT_TRUE(pump_until([] { return host::state_word() == "Paused"; }));
    beeps = host::beep_count();
    type(window_, "p");  // typed while paused
    EXPECT_EQ(host::beep_count(), beeps + 1);
    key(window_, Qt::Key_Q, Qt::ControlModifier);  // Resume
    ASSERT_TRUE(pump_until([] { return host::state_word() == "Running"; }));
    type(window_, "r");
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), "r");
    EXPECT_EQ(host::window_text(other), "o");
    on_calc([&] { return ops().close_window(other, 0); });
}

TEST_F(LineInput, PastedLinesAnswerReadsOneByOne) {
    QGuiApplication::clipboard()->setText("A\nB\n");
    {
        Reader reader(window_, 80);
        ASSERT_TRUE(reader.wait_pending());
        key(window_, Qt::Key_Insert, Qt::ShiftModifier);  // Paste
        EXPECT_EQ(reader.line(), "A");
    }
    EXPECT_TRUE(pump_until([] { return host::status_message() == "Paste input pending"; }));
    Reader second(window_, 80);
    EXPECT_EQ(second.line(), "B");  // no key pressed
    EXPECT_TRUE(pump_until([] { return host::status_message().empty(); }));
}

TEST_F(LineInput, PastedTextWithoutLineFeedWaitsForEnter) {
    QGuiApplication::clipboard()->setText("xy\tz");
    Reader reader(window_, 80);
    ASSERT_TRUE(reader.wait_pending());
    key(window_, Qt::Key_Insert, Qt::ShiftModifier);
    pump_for(50);
    EXPECT_TRUE(host::read_pending(window_));
    type(window_, "!");
    key(window_, Qt::Key_Return);
    EXPECT_EQ(reader.line(), "xy        z!");
}

}  // namespace

namespace {

// Sends a key press as the display delivers it: Ctrl+@ comes as the key @
// with the text NUL, a lone surrogate from a broken input method as itself.
void deliver(int window, Qt::Key k, Qt::KeyboardModifiers m, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, k, m, text);
    QApplication::sendEvent(view(window), &press);
}

}  // namespace

// Control characters are typed as they are (Escape is not typed at all),
// and what the window shows is what the line holds: a NUL takes a blank
// cell, so that Backspace after it removes it from the line and from the
// window alike.  A character that is
// not valid text (a lone surrogate) is typed as the replacement character.
TEST_F(LineInput, TypedControlCharactersAndTheirEcho) {
    struct Row {
        const char* label;
        std::function<void(int)> keys;
        std::string line;
        std::string shown;
    };
    const QString nul(QChar(0));
    const Row rows[] = {
        {"NUL inside", [&](int w) { type(w, "qu"); deliver(w, Qt::Key_At, Qt::ControlModifier, nul); type(w, "x"); },
         std::string("qu\0x", 4), "qu x"},
        {"NUL then Backspace",
         [&](int w) {
             type(w, "qu");
             deliver(w, Qt::Key_At, Qt::ControlModifier, nul);
             key(w, Qt::Key_Backspace);
             type(w, "artz");
         },
         "quartz", "quartz"},
        {"Ctrl+Z", [](int w) { type(w, "a"); key(w, Qt::Key_Z, Qt::ControlModifier); }, "a\x1a", "a\x1a"},
        // Escape is a command key (Resume), never part of the line.
        {"Escape", [](int w) { type(w, "qua"); key(w, Qt::Key_Escape); type(w, "rtz"); }, "quartz", "quartz"},
        {"lone surrogate", [&](int w) { deliver(w, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0xD800))); },
         "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
    };
    on_calc([] { return ops().set_code_page(65001); });  // a UTF-8 locale
    for (const Row& row : rows) {
        const int w = on_calc([] { return ops().open_window("Typed"); });
        Reader reader(w, 80);
        ASSERT_TRUE(reader.wait_pending()) << row.label;
        row.keys(w);
        key(w, Qt::Key_Return);
        EXPECT_EQ(reader.line(), row.line) << row.label;
        EXPECT_EQ(host::window_text(w), row.shown) << row.label;
        on_calc([w] { return ops().close_window(w, 0); });
    }
    on_calc([] { return ops().set_code_page(1252); });
}

// Pasted text: CR LF (the line end of the host's own Copy) ends a line as LF
// does, in the read that waits and in the reads it answers later; a NUL
// ends the text; a very long text without line feeds fills a waiting read
// with 126 characters (capacity - 2), of which a caller of 80 gets 80 and
// the next read the kept rest, and stays pending for later reads.
TEST_F(LineInput, PastedLineEndsNulAndLongText) {
    struct Row {
        const char* label;
        QString clipboard;
        std::vector<std::string> lines;
        bool used_up;
    };
    const Row rows[] = {
        {"CR LF", "quartz\r\nB\r\n", {"quartz", "B"}, true},
        {"NUL ends the text", QString("ab") + QChar(0) + "cd\n", {"ab"}, true},
        {"very long text", QString(1 << 20, QLatin1Char('x')), {std::string(80, 'x'), std::string(46, 'x')}, false},
    };
    for (const Row& row : rows) {
        QGuiApplication::clipboard()->setText(row.clipboard);
        for (std::size_t i = 0; i < row.lines.size(); ++i) {
            Reader reader(window_, 80);
            if (i == 0) {
                ASSERT_TRUE(reader.wait_pending()) << row.label;
                key(window_, Qt::Key_Insert, Qt::ShiftModifier);
            }
            // A paste without its line feed waits for Enter.
            pump_for(20);
            if (host::read_pending(window_)) key(window_, Qt::Key_Return);
            EXPECT_EQ(reader.line(), row.lines[i]) << row.label << " line " << i;
        }
        if (row.used_up) {
            EXPECT_TRUE(pump_until([] { return host::status_message().empty(); })) << row.label;
        } else {
            EXPECT_TRUE(host::paste_pending()) << row.label;
            host::clear_paste_command();  // Clear Paste
        }
    }
}
