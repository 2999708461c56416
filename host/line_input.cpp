// Line reading: host_read_line with its wait between the calculation thread
// and the interface thread, the routing of typed characters, the line
// editor, the kept rest of a long line, and paste input.
//
// The line-input state is one for the whole host (one read waits at a
// time) and lives under the input lock.  While a read waits, only the
// interface thread changes the line; the window's event (line_ready under
// the input lock) hands it to the reader.
#include <QEventLoop>
#include <QString>

#include <algorithm>
#include <cstring>

#include "for_reentrancy.h"
#include "host_state.h"
#include "platform.h"

namespace host {

namespace {

constexpr int kLineCapacity = 128;
constexpr int kTabWidth = 8;

struct LineInput {
    char line[kLineCapacity];
    int length = 0;
    WindowPtr pending;        // the window whose read waits for its line
    bool ui_waiting = false;  // a read issued on the interface thread pumps events
    std::string rest;         // the kept rest of a line longer than its reader's buffer
    std::size_t rest_pos = 0;
    std::string paste;        // paste input: the clipboard text and the position in it
    std::size_t paste_pos = 0;
    bool paste_pending = false;
};

std::mutex g_input_lock;
std::condition_variable g_input_cv;
LineInput g_in;

struct PastePiece {
    bool taken = false;     // paste input was pending
    bool complete = false;  // a whole line (it reached the count or ended with a line feed)
    bool ended = false;     // the paste text is used up
    std::string text;       // without the line feed
};

// Under the input lock: the next piece of the paste text, at most `count`
// bytes or through the next line feed.
PastePiece take_piece(std::size_t count) {
    PastePiece piece;
    if (!g_in.paste_pending) return piece;
    piece.taken = true;
    const std::string& text = g_in.paste;
    std::size_t& pos = g_in.paste_pos;
    bool line_feed = false;
    const bool utf8 = current_encoding() == Encoding::Utf8;
    while (pos < text.size() && piece.text.size() < count) {
        const auto b = static_cast<unsigned char>(text[pos]);
        if (b == '\n') {
            ++pos;
            line_feed = true;
            break;
        }
        // A multibyte character stays whole.
        std::size_t length = utf8 && b >= 0x80 ? static_cast<std::size_t>(utf8_sequence_length(b)) : 1;
        length = std::min(length, text.size() - pos);
        if (piece.text.size() + length > count) break;
        piece.text.append(text, pos, length);
        pos += length;
    }
    // CR LF, the line end of the host's own Copy and of text from other
    // systems, ends the line as LF does: the CR is not part of the line
    // (a piece handed over whole would otherwise keep it).
    if (line_feed && !piece.text.empty() && piece.text.back() == '\r') piece.text.pop_back();
    piece.complete = line_feed || piece.text.size() >= count;
    if (pos >= text.size()) {
        g_in.paste_pending = false;
        g_in.paste.clear();
        g_in.paste_pos = 0;
        piece.ended = true;
    }
    return piece;
}

// A piece taken into a line that is being typed: tabs become blanks, NUL a
// blank, CR goes back to the start of the piece (what follows overwrites).
std::string convert_piece(const std::string& piece) {
    std::string out;
    std::size_t at = 0;
    auto put = [&](char c) {
        if (at < out.size()) {
            out[at] = c;
        } else {
            out += c;
        }
        ++at;
    };
    for (char c : piece) {
        if (c == '\t') {
            for (int k = 0; k < kTabWidth; ++k) put(' ');
        } else if (c == '\r') {
            at = 0;
        } else {
            put(c == '\0' ? ' ' : c);
        }
    }
    return out;
}

void announce_paste_end() {
    ui_post([] {
        ui_clear_status_message();
        ui_set_paste_pending(false);
    });
}

void echo(const WindowPtr& window, const std::string& text) {
    if (!text.empty()) draw_text(window, text.data(), static_cast<int>(text.size()));
}

// The line is finished: hands it to the reader.
void finish_line_locked(const WindowPtr& window) {
    if (g_in.ui_waiting) {
        g_in.ui_waiting = false;
    } else {
        window->line_ready = true;
        g_input_cv.notify_all();
    }
}

// Bytes of the last character of the line (a UTF-8 sequence stays whole).
int last_character_length() {
    if (current_encoding() != Encoding::Utf8) return 1;
    int k = g_in.length - 1;
    while (k > 0 && (static_cast<unsigned char>(g_in.line[k]) & 0xC0) == 0x80) --k;
    return g_in.length - k;
}

void line_editor(const WindowPtr& window, const std::string& key) {
    const unsigned char c = static_cast<unsigned char>(key[0]);
    if (key.size() == 1 && c == 8) {  // Backspace
        int column = 1, row = 1;
        {
            std::lock_guard lock(g_input_lock);
            if (g_in.length == 0) return;
        }
        {
            std::lock_guard lock(window->output_lock);
            column = window->screen.cursor_column();
            row = window->screen.cursor_row();
        }
        if (column == 1 && row == 1) {
            platform_beep();
            return;
        }
        {
            std::lock_guard lock(g_input_lock);
            const int n = last_character_length();
            g_in.length -= n;
            std::memset(g_in.line + g_in.length, ' ', static_cast<std::size_t>(n));
        }
        {
            std::lock_guard lock(window->output_lock);
            window->screen.erase_left();
        }
        request_repaint(window);
        return;
    }
    if (key.size() == 1 && c == 9) {  // Tab: blanks, while below capacity - 2
        int added = 0;
        {
            std::lock_guard lock(g_input_lock);
            while (added < kTabWidth && g_in.length < kLineCapacity - 2) {
                g_in.line[g_in.length++] = ' ';
                ++added;
            }
        }
        if (added < kTabWidth) platform_beep();
        echo(window, std::string(static_cast<std::size_t>(added), ' '));
        return;
    }
    if (key.size() == 1 && (c == 13 || c == 10)) {  // Enter, Ctrl+J
        std::lock_guard lock(g_input_lock);
        finish_line_locked(window);
        return;
    }
    {
        std::lock_guard lock(g_input_lock);
        if (g_in.length + static_cast<int>(key.size()) > kLineCapacity) {
            platform_beep();
            return;
        }
        std::memcpy(g_in.line + g_in.length, key.data(), key.size());
        g_in.length += static_cast<int>(key.size());
    }
    // A typed NUL is kept in the line and takes a blank cell: drawn as NUL
    // it would end the echo and leave no cell, and Backspace would then
    // erase a character the line still holds.
    echo(window, key == std::string(1, '\0') ? std::string(" ") : key);
}

}  // namespace

// ---------------------------------------------------------------------------

int host_read_line(char* buffer, int capacity, int window) {
    gate_pass();
    const WindowPtr record = window_for(window);
    if (!record || record->closed.load() || !buffer || capacity < 0) return -1;
    {
        std::lock_guard lock(g_input_lock);
        record->reading = true;
    }
    auto done = [&record](int result) {
        std::lock_guard lock(g_input_lock);
        record->reading = false;
        return result;
    };

    // A read before any output shows a proper window.
    configure_window(record);

    const bool on_interface = is_interface_thread();
    std::unique_lock<std::mutex> read_lock;
    if (!on_interface) read_lock = std::unique_lock(record->read_lock);

    // The rest of a line that did not fit: delivered at once, no echo.
    {
        std::lock_guard lock(g_input_lock);
        if (g_in.rest_pos < g_in.rest.size()) {
            const std::size_t n = std::min(g_in.rest.size() - g_in.rest_pos, static_cast<std::size_t>(capacity));
            std::memcpy(buffer, g_in.rest.data() + g_in.rest_pos, n);
            g_in.rest_pos += n;
            if (g_in.rest_pos >= g_in.rest.size()) {
                g_in.rest.clear();
                g_in.rest_pos = 0;
            }
            record->reading = false;
            return static_cast<int>(n);
        }
    }

    // Paste input at the start: a whole pasted line is the answer at once.
    PastePiece start;
    {
        std::lock_guard lock(g_input_lock);
        start = take_piece(static_cast<std::size_t>(capacity));
        std::memset(g_in.line, ' ', sizeof g_in.line);
        g_in.length = 0;
        if (start.taken && !start.complete) {
            g_in.length = static_cast<int>(std::min<std::size_t>(start.text.size(), kLineCapacity));
            std::memcpy(g_in.line, start.text.data(), static_cast<std::size_t>(g_in.length));
        }
    }
    if (start.ended) announce_paste_end();
    if (start.taken) {
        if (start.complete) {
            echo(record, start.text);
            std::memcpy(buffer, start.text.data(), start.text.size());
            return done(static_cast<int>(start.text.size()));
        }
        echo(record, start.text.substr(0, kLineCapacity));
    }

    for (;;) {
        // Wait for the line.
        {
            std::lock_guard lock(g_input_lock);
            g_in.pending = record;
            record->line_ready = false;
        }
        ui_post([record] { ui_input_pending(record); });
        if (!on_interface) {
            std::unique_lock lock(g_input_lock);
            forrtl::for_input_wait_begin();
            g_input_cv.wait(lock, [&record] { return record->line_ready || shutting_down(); });
            const bool ready = record->line_ready;
            lock.unlock();
            // Parks here when another thread has closed the units meanwhile.
            forrtl::for_input_wait_end();
            if (!ready) {
                // The application is closing: this read never returns.
                read_lock.unlock();
                gate_pass();
            }
        } else {
            {
                std::lock_guard lock(g_input_lock);
                if (g_in.ui_waiting) {
                    g_in.pending.reset();
                    record->reading = false;
                    return -1;
                }
                g_in.ui_waiting = true;
            }
            QEventLoop loop;
            for (;;) {
                {
                    std::lock_guard lock(g_input_lock);
                    if (!g_in.ui_waiting) break;
                }
                if (shutting_down()) {
                    std::lock_guard lock(g_input_lock);
                    g_in.ui_waiting = false;
                    g_in.pending.reset();
                    record->reading = false;
                    return -1;
                }
                loop.processEvents(QEventLoop::WaitForMoreEvents);
            }
        }
        {
            std::lock_guard lock(g_input_lock);
            g_in.pending.reset();
        }
        ui_post([] { ui_input_done(); });

        // Pasted text goes on the line as if typed.
        PastePiece piece;
        std::string added;
        {
            std::lock_guard lock(g_input_lock);
            const int room = std::max(0, kLineCapacity - 2 - g_in.length);
            piece = take_piece(static_cast<std::size_t>(room));
            if (piece.taken) {
                added = convert_piece(piece.text);
                const int fits = std::min(static_cast<int>(added.size()), kLineCapacity - g_in.length);
                added.resize(static_cast<std::size_t>(fits));
                std::memcpy(g_in.line + g_in.length, added.data(), added.size());
                g_in.length += fits;
            }
        }
        if (piece.ended) announce_paste_end();
        if (!piece.taken) break;
        echo(record, added);
        if (piece.complete) break;
    }

    int count;
    {
        std::lock_guard lock(g_input_lock);
        count = g_in.length;
        if (count > capacity) {
            g_in.rest.assign(g_in.line + capacity, static_cast<std::size_t>(count - capacity));
            g_in.rest_pos = 0;
            count = capacity;
        }
        std::memcpy(buffer, g_in.line, static_cast<std::size_t>(count));
    }
    return done(count);
}

void route_key(const WindowPtr& window, const std::string& key) {
    if (key.empty()) return;
    const bool paused = run_state() == RunState::Paused;
    {
        std::lock_guard lock(g_input_lock);
        const bool here = g_in.pending == window;
        const bool interface_read = here && g_in.ui_waiting;
        if (!interface_read && (paused || !here)) {
            // No type-ahead: a key that no read takes is lost.
            platform_beep();
            return;
        }
    }
    line_editor(window, key);
}

bool type_answer(const std::string& line) {
    const WindowPtr window = pending_input_window();
    if (!window || run_state() != RunState::Running) return false;
    // What was typed so far goes, as Backspace takes it.
    for (int typed = 0;; ++typed) {
        {
            std::lock_guard lock(g_input_lock);
            if (g_in.length == 0 || typed > kLineCapacity) break;
        }
        line_editor(window, "\b");
    }
    const bool utf8 = current_encoding() == Encoding::Utf8;
    for (std::size_t at = 0; at < line.size();) {
        const auto lead = static_cast<unsigned char>(line[at]);
        const std::size_t n = std::min(line.size() - at, utf8 && lead >= 0x80 ? static_cast<std::size_t>(utf8_sequence_length(lead)) : std::size_t{1});
        line_editor(window, line.substr(at, n));
        at += n;
    }
    line_editor(window, "\r");
    return true;
}

void paste_command(const WindowPtr& window) {
    std::string text = platform_clipboard_text();
    if (current_encoding() != Encoding::Utf8) text = QString::fromStdString(text).toLatin1().toStdString();
    const auto nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    if (text.empty()) return;
    {
        std::lock_guard lock(g_input_lock);
        g_in.paste = std::move(text);
        g_in.paste_pos = 0;
        g_in.paste_pending = true;
    }
    ui_set_status_message("Paste input pending");
    ui_set_paste_pending(true);
    std::lock_guard lock(g_input_lock);
    if (window && g_in.pending == window) finish_line_locked(window);
}

void clear_paste_command() {
    {
        std::lock_guard lock(g_input_lock);
        g_in.paste.clear();
        g_in.paste_pos = 0;
        g_in.paste_pending = false;
    }
    ui_clear_status_message();
    ui_set_paste_pending(false);
}

int set_line_buffer(const char* bytes, int count) {
    std::lock_guard lock(g_input_lock);
    const int n = std::clamp(count, 0, kLineCapacity);
    std::memset(g_in.line, ' ', sizeof g_in.line);
    if (n > 0) std::memcpy(g_in.line, bytes, static_cast<std::size_t>(n));
    g_in.length = n;
    return count;
}

bool paste_pending() {
    std::lock_guard lock(g_input_lock);
    return g_in.paste_pending;
}

WindowPtr pending_input_window() {
    std::lock_guard lock(g_input_lock);
    return g_in.pending;
}

bool read_pending(int window) {
    std::lock_guard lock(g_input_lock);
    return g_in.pending && g_in.pending->number == window;
}

void wake_readers_for_shutdown() {
    std::lock_guard lock(g_input_lock);
    g_in.ui_waiting = false;
    g_input_cv.notify_all();
}

void window_forgotten_for_input(const WindowPtr& window) {
    bool was_pending;
    {
        std::lock_guard lock(g_input_lock);
        was_pending = g_in.pending == window;
    }
    if (was_pending) ui_input_done();
}

}  // namespace host
