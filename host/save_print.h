// File > Save and File > Print of a text window: a picture of its whole
// virtual screen (rendered from the cells under the window's output lock),
// written as a Windows bitmap file or stretched over the printable width of
// one page.  Interface thread only.
#pragma once

#include <QImage>

#include <string>
#include <vector>

#include "host_state.h"

class QPrinter;

namespace host {

// ---------------------------------------------------------------------------
// Bitmap files.

// The layout of a bitmap file of one colour depth: colour table entries,
// bytes of the headers with the table, bytes of one pixel row.
struct BmpLayout {
    int bits_per_pixel;
    int colour_entries;
    int header_bytes;
    int row_bytes;
};
// False for a depth the file format does not take here (other than 1, 4,
// 8, 16, 24 and 32 bits per pixel).
bool bmp_layout(int bits_per_pixel, int width, BmpLayout* layout);

// The whole file for `image` at `bits_per_pixel`: the 14-byte file header,
// the 40-byte info header, the colour table (1, 4 and 8 bits: the window
// palette's colours, nearest colour per pixel) and the rows, bottom row
// first.  Empty for a depth that is refused.
std::vector<unsigned char> bmp_file(const QImage& image, int bits_per_pixel);

// Writes `bytes` to `path` as a whole or not at all: the bytes go to a
// temporary file beside it, which replaces `path` only once every byte is
// written; on failure `path` is left as it was.  False on failure.
bool write_file_whole(const std::string& path, const std::vector<unsigned char>& bytes);

// The depth Save writes: the display's, when the file format takes it,
// else 24 bits.
int save_depth();

// ---------------------------------------------------------------------------
// The commands.

// Save (1020): the save dialog, then the picture as a bitmap file; a file
// that cannot be written shows the error box with code 5.
void save_window(const WindowPtr& window);
// Print (1019): the printer dialog, then one page; failures show the
// numbered print messages, at most one per job.
void print_window(const WindowPtr& window);

// The numbered print messages.
enum PrintMessage {
    kPrintAborted = 0,
    kPrintDriver = 1,
    kPrintNoDefault = 2,
    kPrintNoDevices = 3,
    kPrintPrintingError = 4,
    kPrintCancel = 5,
    kPrintInProgress = 6,
    kPrintCaption = 7,
    kPrintInternalError = 9,
};
const char* print_message(int number);

// ---------------------------------------------------------------------------
// Replaceable parts, for tests.

struct SavePrintHooks {
    // The save dialog: the chosen path, or empty when cancelled.
    std::string (*save_dialog)();
    // How many printers are installed, and whether one is the default.
    int (*printer_count)();
    bool (*has_default_printer)();
    // The printer dialog: true when the user chose to print (the printer
    // set up as chosen).
    bool (*print_dialog)(QPrinter& printer);
    // Called between the steps of a print job (where the job takes the
    // waiting events), with the progress dialog shown.
    void (*between_steps)();
};
// nullptr restores the standard dialogs and the system's printers.
void set_save_print_hooks(const SavePrintHooks* hooks);

}  // namespace host
