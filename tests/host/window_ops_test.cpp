// Text windows through the host operations the run-time calls: numbers,
// titles, the 40-window table, closed windows, the default window, and the
// view (showing, scrolling, size limit).
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QMdiSubWindow>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>

#include "host_state.h"
#include "host_test_support.h"
#include "text_render.h"

namespace {

using namespace hosttest;

TEST(WindowOps, NumbersOutsideTheTableAreRefused) {
    for (int bad : {1023, 1064, -1, 0, 2000}) {
        char line[8];
        const auto results = on_calc([&] {
            return std::vector<int>{write(bad, "x"), ops().read_line(line, 8, bad), ops().activate_window(bad),
                                    ops().keep_window_current(bad), ops().close_window(bad, 1)};
        });
        EXPECT_EQ(results, (std::vector<int>{-1, -1, -1, 0, -1})) << bad;
        if (bad != -1) {
            EXPECT_EQ(on_calc([&] { return ops().select_window(bad); }), 0) << bad;
        }
    }
}

TEST(WindowOps, FortyWindowsAtMostThenSlotsAreReused) {
    std::vector<int> opened;
    on_calc([&] {
        for (int i = 0; i < 45; ++i) {
            const int w = ops().open_window(nullptr);
            if (w < 0) break;
            opened.push_back(w);
        }
        return 0;
    });
    // Together with the windows already open, exactly 40 slots: the next
    // one is refused, and every number lies in 1024..1063.
    int open_count = 0;
    for (int w = 1024; w < 1064; ++w) open_count += host::window_title(w).empty() ? 0 : 1;
    EXPECT_EQ(open_count, 40);
    EXPECT_EQ(on_calc([] { return ops().open_window("one too many"); }), -1);
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(host::window_title(opened.front()), "Graphic" + std::to_string(opened.front() - 1024 + 1));
    // Closed without keeping: the slots empty and are found again.
    on_calc([&] {
        for (int w : opened) ops().close_window(w, 0);
        return 0;
    });
    EXPECT_EQ(host::window_title(opened.front()), "");
    const int again = on_calc([] { return ops().open_window("Unit 7"); });
    EXPECT_EQ(again, opened.front());
    EXPECT_EQ(host::window_title(again), "Unit 7");
    on_calc([&] { return ops().close_window(again, 0); });
}

TEST(WindowOps, ClosedAndKeptWindowRefusesOutput) {
    const int w = on_calc([] { return ops().open_window("Unit 9"); });
    EXPECT_EQ(on_calc([&] { return write(w, "abc\r\n"); }), 5);
    EXPECT_EQ(on_calc([&] { return ops().close_window(w, 1); }), 0);
    EXPECT_EQ(host::window_title(w), "Unit 9-Closed");
    EXPECT_EQ(on_calc([&] { return write(w, "more"); }), -1);
    EXPECT_EQ(on_calc([&] { return ops().select_window(w); }), 0);
    EXPECT_EQ(host::window_text(w), "abc");
    // The user may now close it (Ctrl+F4): the slot empties.
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    key(w, Qt::Key_F4, Qt::ControlModifier);
    EXPECT_TRUE(pump_until([&] { return host::window_title(w).empty(); }));
}

// The title bar of `sub` as its style draws it: the picture of the close
// button's place, and what a click at its middle hits.
struct CloseButton {
    QImage picture;
    QStyle::SubControl hit;
};
CloseButton close_button(QMdiSubWindow* sub) {
    QStyleOptionTitleBar option;
    option.initFrom(sub);
    option.subControls = QStyle::SC_All;
    option.titleBarFlags = sub->windowFlags();
    option.text = sub->windowTitle();
    option.rect = QRect(0, 0, sub->width(), sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, sub));
    const QRect place = sub->style()->subControlRect(QStyle::CC_TitleBar, &option, QStyle::SC_TitleBarCloseButton, sub);
    QImage bar(option.rect.size(), QImage::Format_RGB32);
    bar.fill(Qt::white);
    QPainter painter(&bar);
    sub->style()->drawComplexControl(QStyle::CC_TitleBar, &option, &painter, sub);
    painter.end();
    return {bar.copy(place), sub->style()->hitTestComplexControl(QStyle::CC_TitleBar, &option, place.center(), sub)};
}

bool has_close_item(QMdiSubWindow* sub) {
    for (const QAction* item : sub->systemMenu()->actions()) {
        if (item->text().contains(QStringLiteral("Close"))) return true;
    }
    return false;
}

// While its unit is open the user cannot close the window: no Close in its
// system menu, no close button drawn on its title bar (a click there is on
// the title), and closing it is refused.  Once the unit is closed and the
// window kept, all three come back.
TEST(WindowOps, OpenUnitsWindowCannotBeClosedByTheUser) {
    const int w = on_calc([] { return ops().open_window("Unit 11"); });
    on_calc([&] { return write(w, "x"); });
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    auto* sub = qobject_cast<QMdiSubWindow*>(host::window_view(w)->parentWidget());
    ASSERT_NE(sub, nullptr);
    EXPECT_FALSE(has_close_item(sub));
    const CloseButton open = close_button(sub);
    EXPECT_EQ(open.hit, QStyle::SC_TitleBarLabel);
    sub->close();
    pump_for(50);
    EXPECT_TRUE(host::window_shown(w));

    on_calc([&] { return ops().close_window(w, 1); });
    ASSERT_TRUE(pump_until([&] { return has_close_item(sub); }));
    const CloseButton closed = close_button(sub);
    EXPECT_EQ(closed.hit, QStyle::SC_TitleBarCloseButton);
    EXPECT_NE(closed.picture, open.picture);  // the button is drawn now
    sub->close();
    EXPECT_TRUE(pump_until([&] { return host::window_title(w).empty(); }));
}

// The frame, every text window and the boxes carry the program's icon
// (not the toolkit's), and the windows name the desktop entry.
TEST(WindowOps, EveryWindowCarriesTheProgramsIcon) {
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.pixmap(32).isNull());
    const int w = on_calc([] { return ops().open_window("Unit 14"); });
    on_calc([&] { return write(w, "x"); });
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    EXPECT_EQ(host::window_view(w)->parentWidget()->windowIcon().cacheKey(), icon.cacheKey());
    EXPECT_EQ(host::ui_frame_widget()->windowIcon().cacheKey(), icon.cacheKey());
    EXPECT_EQ(QGuiApplication::desktopFileName(), "loxnar");
    on_calc([&] { return ops().close_window(w, 0); });
}

// A text window's scroll bar shows at a glance where the view stands: its
// thumb is clearly darker than its track.
TEST(WindowOps, ScrollBarThumbStandsOutFromItsTrack) {
    const int w = on_calc([] { return ops().open_window("Unit 13"); });
    on_calc([&] { return write(w, "x"); });
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    auto* view = qobject_cast<QAbstractScrollArea*>(host::window_view(w));
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_TRUE(pump_until([&] { return bar->isVisible() && bar->maximum() > 0; }));
    bar->setValue(0);
    const QImage picture = bar->grab().toImage();
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    const QRect track = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddPage, bar);
    ASSERT_FALSE(thumb.isEmpty());
    ASSERT_FALSE(track.isEmpty());
    const int thumb_grey = qGray(picture.pixel(thumb.center()));
    const int track_grey = qGray(picture.pixel(track.center()));
    EXPECT_GE(track_grey - thumb_grey, 50) << "thumb " << thumb_grey << ", track " << track_grey;
    on_calc([&] { return ops().close_window(w, 0); });
}

TEST(WindowOps, ClosingTheCurrentWindowKeptOpensANewDefaultWindow) {
    std::vector<int> r = on_calc([] {
        const int before = ops().current_window();
        write(before, "last words\r\n");
        ops().close_window(before, 1);
        const int after = ops().current_window();
        return std::vector<int>{before, after, write(after, "more\r\n")};
    });
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NE(r[1], r[0]);
    EXPECT_EQ(host::window_title(r[0]).substr(host::window_title(r[0]).size() - 7), "-Closed");
    EXPECT_EQ(host::window_title(r[1]), "Graphic" + std::to_string(r[1] - 1024 + 1));
    EXPECT_EQ(r[2], 6);
    EXPECT_EQ(host::window_text(r[1]), "more");
}

TEST(WindowOps, ViewScrollsWithoutMovingTheCursorAndStaysWithinTheVirtualScreen) {
    const int w = on_calc([] { return ops().open_window("Unit 12"); });
    on_calc([&] {
        for (int i = 0; i < 100; ++i) write(w, "line " + std::to_string(i) + "\r\n");
        return 0;
    });
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    auto* area = qobject_cast<QAbstractScrollArea*>(host::window_view(w));
    ASSERT_NE(area, nullptr);
    int column = 0, row = 0;
    host::window_cursor(w, &column, &row);
    const int v0 = area->verticalScrollBar()->value();
    key(w, Qt::Key_Down);
    key(w, Qt::Key_PageDown);
    EXPECT_GT(area->verticalScrollBar()->value(), v0);
    key(w, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(area->verticalScrollBar()->value(), area->verticalScrollBar()->maximum());
    key(w, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(area->verticalScrollBar()->value(), 0);
    int column2 = 0, row2 = 0;
    host::window_cursor(w, &column2, &row2);
    EXPECT_EQ(column2, column);
    EXPECT_EQ(row2, row);
    // A child cannot grow beyond its virtual screen.
    auto* sub = qobject_cast<QMdiSubWindow*>(area->parentWidget());
    sub->resize(20000, 20000);
    pump_for(20);
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_LE(area->viewport()->width(), screen->size().width());
    EXPECT_LE(area->viewport()->height(), screen->size().height());
    on_calc([&] { return ops().close_window(w, 0); });
}

// The picture of the whole virtual screen (for Save, Print and a graphics
// Copy) is rendered from the cells: the display's size, white text on black.
TEST(WindowOps, PictureOfTheVirtualScreenIsRenderedFromTheCells) {
    const int w = on_calc([] { return ops().open_window("Unit 14"); });
    on_calc([&] { return write(w, "\r\n    M"); });  // M in column 5 of row 2
    const host::WindowPtr record = host::window_for(w);
    ASSERT_NE(record, nullptr);
    QImage image;
    {
        std::lock_guard lock(record->output_lock);
        image = host::render_screen(*record, host::CellFont::make());
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(image.size(), screen->size());
    auto lit = [&](int column, int row) {  // pixels of the cell that are not black
        const host::CellFont font = host::CellFont::make();
        int n = 0;
        for (int y = 0; y < font.cell_height; ++y) {
            for (int x = 0; x < font.cell_width; ++x) {
                n += image.pixel((column - 1) * font.cell_width + x, (row - 1) * font.cell_height + y) != qRgb(0, 0, 0);
            }
        }
        return n;
    };
    EXPECT_GT(lit(5, 2), 10);
    EXPECT_EQ(lit(4, 2), 0);
    EXPECT_EQ(lit(6, 2), 0);
    EXPECT_EQ(lit(5, 1), 0);
    on_calc([&] { return ops().close_window(w, 0); });
}

TEST(WindowOps, RepaintsAreCoalesced) {
    const int w = on_calc([] { return ops().open_window("Unit 13"); });
    on_calc([&] { return write(w, "x"); });
    ASSERT_TRUE(pump_until([&] { return host::window_shown(w); }));
    QWidget* viewport = qobject_cast<QAbstractScrollArea*>(host::window_view(w))->viewport();
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    viewport->installEventFilter(&counter);
    CalcThread writer([&] {
        for (int i = 0; i < 20000; ++i) write(w, "record " + std::to_string(i) + "\r\n");
    });
    ASSERT_TRUE(writer.join());
    pump_for(50);
    viewport->removeEventFilter(&counter);
    EXPECT_GE(counter.paints, 1);
    EXPECT_LT(counter.paints, 2000);  // far fewer than the records
    on_calc([&] { return ops().close_window(w, 0); });
}

}  // namespace
