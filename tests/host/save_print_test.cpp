// Save and Print of a text window: the bitmap file's headers, row sizes and
// pixels for every depth, Save of a known window (running, paused, closed),
// a save that cannot be written, Print to a PDF file checked as a page, the
// print messages, and Cancel in the progress dialog.
#include <gtest/gtest.h>

#include <QDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "host_state.h"
#include "host_test_support.h"
#include "save_print.h"
#include "text_render.h"
#include "test_files.h"

namespace {

using testfiles::read_file;
using testfiles::fresh_dir;

using namespace hosttest;
namespace fs = std::filesystem;

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}
unsigned le16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// The hooks the tests steer.
struct Steering {
    std::string save_path;
    int printers = 1;
    bool has_default = true;
    std::function<bool(QPrinter&)> dialog;
    std::function<void()> between_steps;
};
Steering& steering() {
    static Steering s;
    return s;
}
const host::SavePrintHooks kHooks = {
    [] { return steering().save_path; },
    [] { return steering().printers; },
    [] { return steering().has_default; },
    [](QPrinter& printer) { return steering().dialog ? steering().dialog(printer) : false; },
    [] {
        if (steering().between_steps) steering().between_steps();
    },
};

QDialog* progress_dialog() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == QStringLiteral("Printing ")) return qobject_cast<QDialog*>(w);
    }
    return nullptr;
}

class SavePrint : public testing::Test {
protected:
    void SetUp() override {
        steering() = Steering{};
        host::set_save_print_hooks(&kHooks);
        dir_ = fresh_dir(testing::UnitTest::GetInstance()->current_test_info()->name());
        window_ = on_calc([] { return ops().open_window("Saved"); });
        on_calc([this] { return write(window_, "\r\n    M\r\nSecond row"); });  // M in column 5 of row 2
        ASSERT_TRUE(pump_until([this] { return host::window_shown(window_); }));
        boxes_before_ = boxes().size();
    }
    void TearDown() override {
        host::set_save_print_hooks(nullptr);
        on_calc([this] { return ops().close_window(window_, 0); });
        fs::remove_all(dir_);
    }
    host::WindowPtr record() const { return host::window_for(window_); }
    std::vector<Box> new_boxes() const {
        const std::vector<Box> all = boxes();
        return std::vector<Box>(all.begin() + static_cast<long>(boxes_before_), all.end());
    }
    QImage picture() const {
        const host::WindowPtr r = record();
        std::lock_guard lock(r->output_lock);
        return host::render_screen(*r, host::CellFont::make());
    }

    fs::path dir_;
    int window_ = -1;
    std::size_t boxes_before_ = 0;
};

// The file layout by depth for a 13 x 3 picture of four palette colours:
// header and colour table bytes, padded row bytes, and the colours read
// back by Qt's own bitmap reader.
TEST(BitmapFile, HeadersRowsAndPixelsForEveryDepth) {
    QImage image(13, 3, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 0));
    image.setPixel(0, 0, qRgb(255, 255, 255));
    image.setPixel(12, 0, qRgb(255, 0, 0));
    image.setPixel(5, 2, qRgb(0, 0, 255));
    image.setPixel(6, 1, qRgb(255, 255, 255));
    struct Row {
        int depth, header_bytes, row_bytes;
        bool colours_kept;  // false: only black and white (1 bit)
        int tolerance;      // per channel (16 bits keep 5 bits a channel)
    };
    const Row rows[] = {
        {1, 62, 4, false, 0}, {4, 118, 8, true, 0}, {8, 1078, 16, true, 0},
        {16, 54, 28, true, 8}, {24, 54, 40, true, 0}, {32, 54, 52, true, 0},
    };
    for (const Row& row : rows) {
        const std::vector<unsigned char> file = host::bmp_file(image, row.depth);
        const std::string bytes(file.begin(), file.end());
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(row.header_bytes + 3 * row.row_bytes)) << row.depth;
        EXPECT_EQ(bytes.substr(0, 2), "BM") << row.depth;
        EXPECT_EQ(le32(bytes, 2), bytes.size()) << row.depth;
        EXPECT_EQ(le32(bytes, 10), static_cast<std::uint32_t>(row.header_bytes)) << row.depth;
        EXPECT_EQ(le32(bytes, 14), 40u) << row.depth;
        EXPECT_EQ(le32(bytes, 18), 13u) << row.depth;
        EXPECT_EQ(le32(bytes, 22), 3u) << row.depth;
        EXPECT_EQ(le16(bytes, 26), 1u) << row.depth;
        EXPECT_EQ(le16(bytes, 28), static_cast<unsigned>(row.depth)) << row.depth;
        EXPECT_EQ(le32(bytes, 30), 0u) << row.depth;
        EXPECT_EQ(le32(bytes, 34), static_cast<std::uint32_t>(3 * row.row_bytes)) << row.depth;

        const QImage back = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "BMP");
        ASSERT_FALSE(back.isNull()) << row.depth;
        ASSERT_EQ(back.size(), image.size()) << row.depth;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 13; ++x) {
                QRgb want = image.pixel(x, y);
                if (!row.colours_kept) want = qRed(want) && qGreen(want) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
                const QRgb got = back.pixel(x, y);
                EXPECT_LE(std::abs(qRed(got) - qRed(want)), row.tolerance) << row.depth << " at " << x << "," << y;
                EXPECT_LE(std::abs(qGreen(got) - qGreen(want)), row.tolerance) << row.depth << " at " << x << "," << y;
                EXPECT_LE(std::abs(qBlue(got) - qBlue(want)), row.tolerance) << row.depth << " at " << x << "," << y;
            }
        }
    }
    for (int refused : {0, 2, 15, 64}) EXPECT_TRUE(host::bmp_file(image, refused).empty()) << refused;
}

// Save of a known window writes the whole virtual screen (the display's
// size, whatever part is visible) at the display's depth, while the
// program writes, while it is paused, and after the window was closed and
// kept.
TEST_F(SavePrint, SaveWritesTheWholeVirtualScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int depth = host::save_depth();
    EXPECT_EQ(depth, QGuiApplication::primaryScreen()->depth());
    host::BmpLayout layout;
    ASSERT_TRUE(host::bmp_layout(depth, screen.width(), &layout));
    const QImage expected = picture();

    auto check = [&](const fs::path& path, const char* when, bool exact) {
        const std::string bytes = read_file(path);
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(layout.header_bytes) + static_cast<std::size_t>(layout.row_bytes) * screen.height())
            << when;
        EXPECT_EQ(bytes.substr(0, 2), "BM") << when;
        EXPECT_EQ(le32(bytes, 2), bytes.size()) << when;
        EXPECT_EQ(le32(bytes, 18), static_cast<std::uint32_t>(screen.width())) << when;
        EXPECT_EQ(le32(bytes, 22), static_cast<std::uint32_t>(screen.height())) << when;
        EXPECT_EQ(le16(bytes, 28), static_cast<unsigned>(depth)) << when;
        const QImage back(QString::fromStdString(path.string()));
        ASSERT_EQ(back.size(), screen) << when;
        if (exact) {
            EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), expected) << when;
        }
    };

    // While a calculation thread writes into another window.
    const int other = on_calc([] { return ops().open_window("Busy"); });
    std::atomic<bool> stop{false};
    CalcThread writer([&] {
        for (int i = 0; !stop.load(); ++i) write(other, "busy " + std::to_string(i) + "\r\n");
    });
    steering().save_path = (dir_ / "running.bmp").string();
    host::run_window_command(1020, record());
    stop.store(true);
    ASSERT_TRUE(writer.join());
    on_calc([&] { return ops().close_window(other, 0); });
    check(dir_ / "running.bmp", "running", true);

    host::pause_program();
    steering().save_path = (dir_ / "paused.bmp").string();
    host::run_window_command(1020, record());
    host::resume_program();
    check(dir_ / "paused.bmp", "paused", true);

    on_calc([this] { return ops().close_window(window_, 1); });
    steering().save_path = (dir_ / "closed.bmp").string();
    host::run_window_command(1020, record());
    check(dir_ / "closed.bmp", "closed", true);

    steering().save_path.clear();  // the dialog cancelled: nothing written
    host::run_window_command(1020, record());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
    EXPECT_TRUE(new_boxes().empty());
}

// A file that cannot be created, or that cannot be written to its end:
// the error box with code 5, and no partial file (an older file of that
// name stays as it was).
TEST_F(SavePrint, SaveThatCannotBeWrittenShowsErrorFiveAndLeavesNoPartialFile) {
    steering().save_path = (dir_ / "no such folder" / "x.bmp").string();
    host::run_window_command(1020, record());

    const fs::path old_file = dir_ / "old.bmp";
    std::ofstream(old_file) << "old contents";
    steering().save_path = old_file.string();
    // Writes beyond 4 KiB fail (EFBIG) for the moment.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    host::run_window_command(1020, record());
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    const std::vector<Box> shown = new_boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const Box& box : shown) {
        EXPECT_EQ(box.title, "PaneShell Error");
        EXPECT_EQ(box.text.rfind("Internal Error - unexpected error\nfile \"save_print.cpp\", line ", 0), 0u) << box.text;
    }
    EXPECT_EQ(read_file(old_file), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no temporary left
}

// Print to a PDF file: one page; the picture (black, on white paper) spans
// the printable width from the printable area's top left corner, as high
// as the picture's proportions give; the frame is disabled while the
// progress dialog is up, and enabled after.
TEST_F(SavePrint, PrintToPdfIsOnePageWithThePictureAcrossThePrintableWidth) {
    if (std::system("command -v pdfinfo >/dev/null && command -v pdftoppm >/dev/null") != 0) {
        GTEST_SKIP() << "poppler-utils missing";
    }
    const fs::path pdf = dir_ / "page.pdf";
    QRectF printable;  // points
    steering().dialog = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf.string()));
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(QPageLayout::Portrait);
        printer.setPageMargins(QMarginsF(36, 54, 36, 54), QPageLayout::Point);
        printable = printer.pageLayout().paintRect(QPageLayout::Point);
        return true;
    };
    std::vector<std::pair<bool, bool>> during;  // frame enabled, progress dialog shown
    steering().between_steps = [&] { during.emplace_back(host::ui_frame_widget()->isEnabled(), progress_dialog() != nullptr); };
    const QImage shown = picture();
    host::run_window_command(1019, record());

    EXPECT_TRUE(new_boxes().empty());
    ASSERT_FALSE(during.empty());
    for (const auto& [enabled, dialog] : during) {
        EXPECT_FALSE(enabled);
        EXPECT_TRUE(dialog);
    }
    pump_for(20);
    EXPECT_TRUE(host::ui_frame_widget()->isEnabled());
    EXPECT_EQ(progress_dialog(), nullptr);

    const std::string info_command = "pdfinfo '" + pdf.string() + "' > '" + (dir_ / "info.txt").string() + "'";
    ASSERT_EQ(std::system(info_command.c_str()), 0);
    EXPECT_NE(read_file(dir_ / "info.txt").find("Pages:           1\n"), std::string::npos) << read_file(dir_ / "info.txt");
    // At 72 pixels an inch one pixel is one point.
    const std::string raster = "pdftoppm -r 72 -png -singlefile '" + pdf.string() + "' '" + (dir_ / "page").string() + "'";
    ASSERT_EQ(std::system(raster.c_str()), 0);
    const QImage page((dir_ / "page.png").c_str());
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(page.width(), 595, 1);
    QRect dark;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(page.pixel(x, y)) < 64) dark |= QRect(x, y, 1, 1);
        }
    }
    const double height = printable.width() * shown.height() / shown.width();
    EXPECT_NEAR(dark.left(), printable.left(), 1.5);
    EXPECT_NEAR(dark.top(), printable.top(), 1.5);
    EXPECT_NEAR(dark.width(), printable.width(), 2);
    EXPECT_NEAR(dark.height(), height, 2);
    // The M of row 2, column 5 is printed: light pixels inside the picture.
    const double scale = printable.width() / shown.width();
    const host::CellFont font = host::CellFont::make();
    const QRect cell(static_cast<int>(printable.left() + 4 * font.cell_width * scale),
                     static_cast<int>(printable.top() + font.cell_height * scale),
                     static_cast<int>(font.cell_width * scale) + 1, static_cast<int>(font.cell_height * scale) + 1);
    int light = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) light += qGray(page.pixel(x, y)) > 96;
    }
    EXPECT_GT(light, 0);
}

// The print messages, one per job at most, titled with the application
// name: no printer installed, printers without a default, the dialog
// cancelled (no message), a job that cannot start.
TEST_F(SavePrint, PrintMessages) {
    struct Row {
        const char* label;
        int printers;
        bool has_default;
        int dialog;  // 0 cancelled, 1 a PDF file that cannot be created
        const char* message;  // nullptr: none
    };
    const Row rows[] = {
        {"no printer installed", 0, false, 1, "No Printer Driver"},
        {"printers but no default", 2, false, 1, "No Default Printer"},
        {"printer dialog cancelled", 1, true, 0, nullptr},
        {"job cannot start", 1, true, 1, "Print: Internal Error"},
    };
    for (const Row& row : rows) {
        steering().printers = row.printers;
        steering().has_default = row.has_default;
        bool dialog_shown = false;
        steering().dialog = [&](QPrinter& printer) {
            dialog_shown = true;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString((dir_ / "no such folder" / "x.pdf").string()));
            return row.dialog == 1;
        };
        const std::size_t before = boxes().size();
        host::run_window_command(1019, record());
        const std::vector<Box> all = boxes();
        const std::vector<Box> shown(all.begin() + static_cast<long>(before), all.end());
        EXPECT_EQ(dialog_shown, row.printers > 0 && row.has_default) << row.label;
        if (row.message) {
            ASSERT_EQ(shown.size(), 1u) << row.label;
            EXPECT_EQ(shown[0].text, row.message) << row.label;
            EXPECT_EQ(shown[0].title, host::facts().app_name) << row.label;
            EXPECT_EQ(shown[0].style, 0x40u) << row.label;  // information
        } else {
            EXPECT_TRUE(shown.empty()) << row.label;
        }
        EXPECT_TRUE(host::ui_frame_widget()->isEnabled()) << row.label;
        EXPECT_EQ(progress_dialog(), nullptr) << row.label;
    }
}

// Cancel in the progress dialog ends the job: the frame is enabled and the
// dialog closed at once, and no message follows.
TEST_F(SavePrint, CancelEndsTheJob) {
    steering().dialog = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString((dir_ / "cancelled.pdf").string()));
        return true;
    };
    int steps = 0;
    bool enabled_after_cancel = false, dialog_after_cancel = true;
    steering().between_steps = [&] {
        if (steps++ != 0) return;
        QDialog* dialog = progress_dialog();
        ASSERT_NE(dialog, nullptr);
        QPushButton* cancel = dialog->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
        cancel->click();
        enabled_after_cancel = host::ui_frame_widget()->isEnabled();
        dialog_after_cancel = progress_dialog() != nullptr;
    };
    host::run_window_command(1019, record());
    EXPECT_EQ(steps, 1);  // the job stopped at its next step
    EXPECT_TRUE(enabled_after_cancel);
    EXPECT_FALSE(dialog_after_cancel);
    EXPECT_TRUE(host::ui_frame_widget()->isEnabled());
    EXPECT_TRUE(new_boxes().empty());
}

}  // namespace
