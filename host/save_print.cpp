// Save and Print of a text window.  Both take a picture of the window's
// whole virtual screen, rendered from its cells under the output lock (so
// that the calculation thread cannot change the cells meanwhile) and never
// while a dialog is open: the lock is held only for the rendering.
//
// What the original did with the system's own services:
//   GetSaveFileNameA         QFileDialog (save mode, default suffix "bmp")
//   CreateFileA, WriteFile   POSIX open, write, rename: the bitmap goes to a
//                            temporary file beside the target and replaces
//                            it only when complete, so a failed save leaves
//                            no partial file and an old file unchanged
//   PrintDlgA                QPrintDialog on the system's CUPS printers;
//                            one QPrinter kept for the process, so the
//                            chosen printer and its settings come back
//   StartDocA .. EndDoc      QPainter on the QPrinter: begin, the page, end
//   abort procedure          the job takes the waiting events between its
//                            steps; Cancel calls QPrinter::abort
//   StretchDIBits            QPainter::drawImage into the page rectangle
#include "save_print.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "text_render.h"

namespace host {

namespace {

const SavePrintHooks* g_hooks = nullptr;

constexpr unsigned kIconInformation = 0x40;

// Little-endian fields of the headers.
void put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}
void put32(std::vector<unsigned char>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// The colour table of a palette depth: black and white for 1 bit, the 16
// standard colours for 4 bits, the window's 256-entry palette for 8 bits.
std::vector<QRgb> colour_table(int entries) {
    std::vector<QRgb> table;
    if (entries == 2) return {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    for (int i = 0; i < entries; ++i) table.push_back(palette_colour(i).rgb());
    return table;
}

// Nearest entry of the table for each colour met (kept, since a picture of
// text has few colours).
class NearestColour {
public:
    explicit NearestColour(const std::vector<QRgb>& table) : table_(table) {}
    unsigned index(QRgb colour) {
        colour &= 0xFFFFFF;
        const auto found = cache_.find(colour);
        if (found != cache_.end()) return found->second;
        unsigned best = 0;
        long best_distance = -1;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            const long dr = qRed(colour) - qRed(table_[i]);
            const long dg = qGreen(colour) - qGreen(table_[i]);
            const long db = qBlue(colour) - qBlue(table_[i]);
            const long distance = dr * dr + dg * dg + db * db;
            if (best_distance < 0 || distance < best_distance) {
                best_distance = distance;
                best = static_cast<unsigned>(i);
            }
        }
        cache_.emplace(colour, best);
        return best;
    }

private:
    const std::vector<QRgb>& table_;
    std::unordered_map<QRgb, unsigned> cache_;
};

// ---------------------------------------------------------------------------
// The print job.

struct PrintJob {
    bool message_shown = false;
    bool aborted = false;
    bool done = false;  // the job has ended (its dialog may still be closing)

    // At most one message per job, titled with the application name.
    void message(int number) {
        if (message_shown) return;
        message_shown = true;
        show_message_box(print_message(number), facts().app_name.c_str(), kIconInformation);
    }
};

// The progress dialog: caption "Printing ", the centred text "Printing In
// Progress..." and a Cancel button, 100 x 60 dialog units placed at a
// fifth of the free screen space.
QDialog* progress_dialog(PrintJob& job, QPrinter& printer) {
    auto* dialog = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QString::fromLatin1(print_message(kPrintCaption)));
    const QFontMetrics metrics(dialog->font());
    const double unit_x = metrics.averageCharWidth() / 4.0;
    const double unit_y = metrics.height() / 8.0;
    auto ux = [&](int units) { return static_cast<int>(std::lround(units * unit_x)); };
    auto uy = [&](int units) { return static_cast<int>(std::lround(units * unit_y)); };
    dialog->setFixedSize(ux(100), uy(60));
    auto* text = new QLabel(QString::fromLatin1(print_message(kPrintInProgress)), dialog);
    text->setAlignment(Qt::AlignCenter);
    text->setGeometry(0, uy(15), ux(100), uy(20));
    auto* cancel = new QPushButton(QString::fromLatin1(print_message(kPrintCancel)), dialog);
    cancel->setGeometry(ux(30), uy(40), ux(40), uy(14));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize s = screen->size();
        dialog->move((s.width() - ux(100)) / 5, (s.height() - uy(60)) / 5);
    }
    // Cancel: the job is aborted, the frame enabled and the dialog closed.
    auto cancel_job = [&job, &printer, dialog] {
        if (job.aborted || job.done) return;
        job.aborted = true;
        printer.abort();
        if (QWidget* frame = ui_frame_widget()) frame->setEnabled(true);
        dialog->close();
    };
    QObject::connect(cancel, &QPushButton::clicked, dialog, cancel_job);
    QObject::connect(dialog, &QDialog::rejected, dialog, cancel_job);  // Escape, the close box
    dialog->show();
    return dialog;
}

// The abort procedure: the waiting events are taken (the progress
// dialog's among them); false once the job was aborted.
bool job_goes_on(const PrintJob& job) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (g_hooks && g_hooks->between_steps) g_hooks->between_steps();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !job.aborted;
}

QImage window_picture(const WindowPtr& window) {
    const CellFont font = CellFont::make();
    std::lock_guard lock(window->output_lock);
    return render_screen(*window, font);
}

std::string window_title_now(const WindowPtr& window) {
    std::lock_guard lock(window->output_lock);
    return window->title;
}

// The page: the picture stretched over the printable width, as high as
// keeps its proportions on paper, cut at the page's end.
bool draw_page(QPainter& painter, QPrinter& printer, const QImage& picture) {
    const int width = printer.width();  // printable width in device pixels
    const int page_height = printer.height();
    const int dpi_x = printer.logicalDpiX();
    const int dpi_y = printer.logicalDpiY();
    if (width <= 0 || page_height <= 0 || dpi_x <= 0 || picture.isNull() || picture.width() <= 0) return false;
    const double height = static_cast<double>(dpi_y) / dpi_x * picture.height() / picture.width() * width;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setClipRect(QRect(0, 0, width, page_height));
    painter.drawImage(QRect(0, 0, width, static_cast<int>(std::lround(height))), picture);
    return painter.isActive() && printer.printerState() != QPrinter::Error;
}

std::string standard_save_dialog() {
    QFileDialog dialog(ui_frame_widget());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Bitmap Files(*.bmp)"), QStringLiteral("All Files(*.*)")});
    dialog.selectNameFilter(QStringLiteral("Bitmap Files(*.bmp)"));
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    // The overwrite prompt is the dialog's own (on unless turned off).
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
    return dialog.selectedFiles().first().toLocal8Bit().toStdString();
}

bool standard_print_dialog(QPrinter& printer) {
    QPrintDialog dialog(&printer, ui_frame_widget());
    // No selection, no page numbers, no printing to a file.
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

// ---------------------------------------------------------------------------
// Bitmap files.

bool bmp_layout(int bits_per_pixel, int width, BmpLayout* layout) {
    constexpr int kHeaders = 14 + 40;
    const int w = width;
    BmpLayout l{bits_per_pixel, 0, kHeaders, 0};
    switch (bits_per_pixel) {
    case 1: l.colour_entries = 2; l.row_bytes = ((w + 31) / 8) & ~3; break;
    case 4: l.colour_entries = 16; l.row_bytes = ((4 * w + 7) / 8 + 3) & ~3; break;
    case 8: l.colour_entries = 256; l.row_bytes = ((8 * w + 31) / 8) & ~3; break;
    case 16: l.row_bytes = (2 * w + 3) & ~3; break;
    case 24: l.row_bytes = (3 * w + 3) & ~3; break;
    case 32: l.row_bytes = 4 * w; break;
    default: return false;
    }
    l.header_bytes = kHeaders + 4 * l.colour_entries;
    *layout = l;
    return true;
}

std::vector<unsigned char> bmp_file(const QImage& picture, int bits_per_pixel) {
    BmpLayout layout;
    if (picture.isNull() || !bmp_layout(bits_per_pixel, picture.width(), &layout)) return {};
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    const std::uint64_t pixel_bytes = static_cast<std::uint64_t>(layout.row_bytes) * height;
    const std::uint64_t file_bytes = layout.header_bytes + pixel_bytes;
    if (file_bytes > 0x7FFFFFFF) return {};

    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(file_bytes));
    // File header.
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<std::uint32_t>(file_bytes));
    put16(out, 0);
    put16(out, 0);
    put32(out, static_cast<std::uint32_t>(layout.header_bytes));
    // Info header: rows bottom-up, no compression.
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);
    put16(out, static_cast<unsigned>(bits_per_pixel));
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(pixel_bytes));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    // Colour table: blue, green, red, 0.
    const std::vector<QRgb> table = colour_table(layout.colour_entries);
    for (const QRgb c : table) {
        out.push_back(static_cast<unsigned char>(qBlue(c)));
        out.push_back(static_cast<unsigned char>(qGreen(c)));
        out.push_back(static_cast<unsigned char>(qRed(c)));
        out.push_back(0);
    }
    // Pixel rows, bottom row first, each padded to its row size.
    NearestColour nearest(table);
    std::vector<unsigned char> row(static_cast<std::size_t>(layout.row_bytes));
    for (int y = height - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels[x];
            switch (bits_per_pixel) {
            case 1: row[x / 8] |= static_cast<unsigned char>(nearest.index(p) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<unsigned char>(nearest.index(p) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = static_cast<unsigned char>(nearest.index(p)); break;
            case 16: {
                const unsigned v = (qRed(p) >> 3) << 10 | (qGreen(p) >> 3) << 5 | (qBlue(p) >> 3);
                row[2 * x] = static_cast<unsigned char>(v & 0xFF);
                row[2 * x + 1] = static_cast<unsigned char>(v >> 8);
                break;
            }
            case 24:
            case 32: {
                const int step = bits_per_pixel / 8;
                row[step * x] = static_cast<unsigned char>(qBlue(p));
                row[step * x + 1] = static_cast<unsigned char>(qGreen(p));
                row[step * x + 2] = static_cast<unsigned char>(qRed(p));
                break;
            }
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool write_file_whole(const std::string& path, const std::vector<unsigned char>& bytes) {
    if (path.empty()) return false;
    // A new name beside the target (same file system, so the rename is
    // atomic); the mode is the usual one for a new file, less the umask.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (close(fd) != 0) ok = false;
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

int save_depth() {
    int depth = 24;
    if (QScreen* screen = QGuiApplication::primaryScreen()) depth = screen->depth();
    BmpLayout layout;
    return bmp_layout(depth, 1, &layout) ? depth : 24;
}

// ---------------------------------------------------------------------------
// The commands.

void save_window(const WindowPtr& window) {
    if (!window) return;
    const std::string path = g_hooks && g_hooks->save_dialog ? g_hooks->save_dialog() : standard_save_dialog();
    if (path.empty()) return;
    const std::vector<unsigned char> bytes = bmp_file(window_picture(window), save_depth());
    if (bytes.empty() || !write_file_whole(path, bytes)) error_box(kErrInternal, HOST_MODULE, __LINE__);
}

void print_window(const WindowPtr& window) {
    if (!window) return;
    PrintJob job;
    const int printers = g_hooks && g_hooks->printer_count ? g_hooks->printer_count()
                                                           : static_cast<int>(QPrinterInfo::availablePrinterNames().size());
    if (printers <= 0) {
        job.message(kPrintNoDevices);
        return;
    }
    const bool has_default = g_hooks && g_hooks->has_default_printer ? g_hooks->has_default_printer()
                                                                     : !QPrinterInfo::defaultPrinterName().isEmpty();
    if (!has_default) {
        job.message(kPrintNoDefault);
        return;
    }
    // Kept for the life of the process: the next Print offers the same
    // printer and settings.
    static QPrinter* printer = new QPrinter(QPrinter::HighResolution);
    const bool chosen = g_hooks && g_hooks->print_dialog ? g_hooks->print_dialog(*printer) : standard_print_dialog(*printer);
    if (!chosen) return;  // cancelled: no message
    if (!printer->isValid()) {
        job.message(kPrintDriver);
        return;
    }
    printer->setDocName(QString::fromStdString(window_title_now(window)));
    printer->setCopyCount(1);

    QPainter painter;
    if (!painter.begin(printer)) {
        job.message(kPrintInternalError);
        return;
    }
    QWidget* frame = ui_frame_widget();
    QPointer<QDialog> progress = progress_dialog(job, *printer);
    if (frame) frame->setEnabled(false);
    const auto finish = [&] {
        if (painter.isActive()) painter.end();
        job.done = true;
        if (!job.aborted) {
            if (frame) frame->setEnabled(true);
            if (progress) progress->close();
        }
    };
    if (!job_goes_on(job)) return finish();
    if (!draw_page(painter, *printer, window_picture(window))) {
        job.message(kPrintPrintingError);
        return finish();
    }
    // The page is done; the document ends with it (one page, one copy).
    if (!job_goes_on(job)) return finish();
    if (!painter.end() || printer->printerState() == QPrinter::Error) job.message(kPrintPrintingError);
    finish();
}

const char* print_message(int number) {
    static const char* const kMessages[] = {
        "Error! Printing Aborted", "Error! Loading printer driver", "No Default Printer", "No Printer Driver",
        "Print: Printing Error",   "Cancel",                        "Printing In Progress...",
        "Printing ",               "Error! Loading printer driver", "Print: Internal Error",
    };
    return number >= 0 && number < 10 ? kMessages[number] : "";
}

void set_save_print_hooks(const SavePrintHooks* hooks) { g_hooks = hooks; }

}  // namespace host
