// Run state: Pause and Resume with the explicit-pause flag, the gate that
// holds the calculation thread, the status bar, and the calculation
// drawing while the interface thread paints, scrolls, pauses and resumes.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMdiArea>
#include <QScrollBar>

#include "host_state.h"
#include "host_test_support.h"

namespace {

using namespace hosttest;

// Chooses the item of the frame's menu bar that has `text`.
void trigger_item(QMainWindow* frame, const QString& text) {
    for (QAction* a : frame->menuBar()->actions()) {
        if (!a->menu()) continue;
        for (QAction* item : a->menu()->actions()) {
            if (item->text() == text) item->trigger();
        }
    }
}

class RunState : public testing::Test {
protected:
    void SetUp() override {
        window_ = on_calc([] { return ops().open_window("Run"); });
        on_calc([this] { return write(window_, "ready\r\n"); });
        ASSERT_TRUE(pump_until([this] { return host::window_shown(window_); }));
    }
    void TearDown() override {
        while (host::state_word() == "Paused") key(window_, Qt::Key_Q, Qt::ControlModifier);
        on_calc([this] { return ops().close_window(window_, 0); });
    }
    int window_ = -1;
};

TEST_F(RunState, PauseAndResumeWithTheExplicitPauseFlag) {
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* state;
    };
    const Step steps[] = {
        {Qt::Key_Q, Qt::ControlModifier, "Running"},  // Resume while running: nothing
        {Qt::Key_S, Qt::ControlModifier, "Paused"},   // Pause
        {Qt::Key_S, Qt::ControlModifier, "Paused"},   // Pause while paused: explicit
        {Qt::Key_Q, Qt::ControlModifier, "Paused"},   // Resume clears the flag only
        {Qt::Key_Escape, Qt::NoModifier, "Running"},  // Escape resumes
        {Qt::Key_S, Qt::ControlModifier, "Paused"},
        {Qt::Key_Q, Qt::ControlModifier, "Running"},
    };
    int n = 0;
    for (const Step& s : steps) {
        key(window_, s.key, s.modifiers);
        EXPECT_TRUE(pump_until([&] { return host::state_word() == s.state; }, 2000)) << "step " << n;
        ++n;
    }
}

TEST_F(RunState, PausedCalculationStopsAtItsNextStep) {
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    CalcThread writer([&] {
        while (!stop.load()) {
            write(window_, "record\r\n");
            written.fetch_add(1);
        }
    });
    ASSERT_TRUE(pump_until([&] { return written.load() > 100; }));
    key(window_, Qt::Key_S, Qt::ControlModifier);
    const std::string frozen = host::window_text(window_);
    const int count = written.load();
    pump_for(100);
    EXPECT_LE(written.load(), count + 1);  // one record may have passed its last check
    EXPECT_EQ(host::window_text(window_), frozen);
    // A record transfer to a file stops at the gate too.
    std::atomic<bool> transferred{false};
    CalcThread disk([&] {
        ops().transfer_gate();
        transferred.store(true);
    });
    pump_for(50);
    EXPECT_FALSE(transferred.load());
    stop.store(true);
    key(window_, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(writer.join());
    EXPECT_TRUE(disk.join());
    EXPECT_TRUE(transferred.load());
    EXPECT_GT(written.load(), count);
}

TEST_F(RunState, StatusBarToggleGivesItsHeightToTheWindows) {
    auto* frame = qobject_cast<QMainWindow*>(host::window_view(window_)->window());
    ASSERT_NE(frame, nullptr);
    QMdiArea* mdi = frame->findChild<QMdiArea*>();
    ASSERT_NE(mdi, nullptr);
    const int with_bar = mdi->height();
    QWidget* status = nullptr;
    for (QWidget* w : frame->centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w != mdi) status = w;
    }
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(status->isVisible());
    trigger_item(frame, "&Status Bar");
    pump_for(20);
    EXPECT_FALSE(status->isVisible());
    EXPECT_GT(mdi->height(), with_bar);
    trigger_item(frame, "&Status Bar");
    pump_for(20);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(mdi->height(), with_bar);
}

// The calculation draws while the interface thread paints, scrolls, pauses
// and resumes (for the thread sanitizer).
TEST_F(RunState, DrawingWhilePaintingScrollingPausing) {
    std::atomic<bool> stop{false};
    CalcThread writer([&] {
        for (int i = 0; i < 20000 && !stop.load(); ++i) {
            write(window_, "line " + std::to_string(i) + " of the listing, long enough to fill a row or so\r\n");
        }
    });
    auto* area = qobject_cast<QAbstractScrollArea*>(host::window_view(window_));
    int round = 0;
    while (!writer.done() && round < 400) {
        area->verticalScrollBar()->setValue((round * 37) % (area->verticalScrollBar()->maximum() + 1));
        area->viewport()->repaint();
        if (round % 7 == 3) key(window_, Qt::Key_S, Qt::ControlModifier);
        if (round % 7 == 5) key(window_, Qt::Key_Q, Qt::ControlModifier);
        pump_for(2);
        ++round;
    }
    while (host::state_word() == "Paused") key(window_, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(writer.join());
}

TEST(ErrorBoxes, TextsAndTitles) {
    struct Row {
        void (*box)(int, const char*, int);
        int code;
        const char* text;
        const char* title;
        unsigned style;
    };
    const Row rows[] = {
        {host::warning_box, 6, "Possible internal inconsistency\nfile \"frame.cpp\", line 12", "PaneShell Warning", 0x2030},
        {host::error_box, 4, "Out of Memory\nfile \"frame.cpp\", line 12", "PaneShell Error", 0x2010},
        {host::error_box, 5, "Internal Error - unexpected error\nfile \"frame.cpp\", line 12", "PaneShell Error", 0x2010},
        {host::error_box, 7, "INITIALMENU failed\nfile \"frame.cpp\", line 12", "PaneShell Error", 0x2010},
    };
    for (const Row& r : rows) {
        const std::size_t before = boxes().size();
        r.box(r.code, "frame.cpp", 12);
        const std::vector<Box> shown = boxes();
        ASSERT_EQ(shown.size(), before + 1) << r.text;
        EXPECT_EQ(shown.back().text, r.text);
        EXPECT_EQ(shown.back().title, r.title);
        EXPECT_EQ(shown.back().style, r.style) << r.text;
    }
}

}  // namespace
