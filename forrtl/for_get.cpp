// Input records: bytes are read in buffer-sized blocks and split into
// records in memory; the bytes after a record stay as read-ahead for the
// next one.  Also the device read (host window or file descriptor), and
// the preset answer to the first console read.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "for_host.h"
#include "for_io.h"
#include "for_reentrancy.h"
#include "for_startup.h"
#include "for_wbuf.h"

namespace forrtl {

namespace {

constexpr int kInitialInputBuffer = 1024;
// A disk file is read in larger blocks: each read(2) brings many records.
constexpr int kDiskInputBuffer = 64 * 1024;
constexpr char kControlZ = 26;
// How often a wait for input under the host passes the transfer gate.
constexpr int kGatePassMs = 100;

// The preset answer to the first console read (for_preset_console_answer):
// set before the program starts, taken once on the thread that reads.
constexpr int kPresetCapacity = 128;
char g_preset[kPresetCapacity];
int g_preset_length = -1;  // -1: none, or taken

// Takes the preset answer into `buffer` (at most `capacity` bytes), or -1
// when there is none left.
int take_preset(char* buffer, int capacity) {
    if (g_preset_length < 0) return -1;
    const int n = g_preset_length < capacity ? g_preset_length : capacity;
    std::memcpy(buffer, g_preset, static_cast<std::size_t>(n));
    g_preset_length = -1;
    return n;
}

// The preset answer shown on the console as a terminal shows a typed line:
// the text and a line end, after the prompt whose line is open.  Written
// through the console output unit that owns the open line (or the first
// one connected), so that it follows the prompt in its buffer.
void echo_on_console(const char* text, int length) {
    for (int unit : {6, -2, -1}) {
        Lub* lub = for_peek_unit(unit);
        if (!lub || !lub->connected || !lub->std_handle || lub->handle != STDOUT_FILENO) continue;
        Lub* writer = lub;
        if (DeviceNode* node = lub->device) {
            if ((node->open_after_cr || node->open_after_prompt) && node->line_open_owner) writer = node->line_open_owner;
            node->open_after_cr = false;
            node->open_after_prompt = false;
            node->line_open_owner = nullptr;
        }
        // Only for show: a console that cannot be written fails with the
        // next record the program writes.
        if (for_device_write(writer, text, length) == length) for_device_write(writer, "\n", 1);
        return;
    }
}

std::uint32_t get_u32(const char* p, bool big_endian) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        int shift = big_endian ? 24 - 8 * i : 8 * i;
        v |= std::uint32_t(static_cast<unsigned char>(p[i])) << shift;
    }
    return v;
}

std::uint32_t get_u16(const char* p, bool big_endian) {
    unsigned lo = static_cast<unsigned char>(p[big_endian ? 1 : 0]);
    unsigned hi = static_cast<unsigned char>(p[big_endian ? 0 : 1]);
    return lo | (hi << 8);
}

bool ensure_buffer(RecordBuffer& r, std::int64_t capacity) {
    if (r.buffer && r.capacity >= capacity) return true;
    if (capacity > INT32_MAX) return false;
    char* p = static_cast<char*>(std::realloc(r.buffer, static_cast<std::size_t>(capacity)));
    if (!p) return false;
    r.buffer = p;
    r.capacity = static_cast<std::int32_t>(capacity);
    return true;
}

// Moves the read-ahead to the start of the buffer.
void compact(RecordBuffer& r) {
    if (r.ahead_pos > 0 && r.ahead_count > 0)
        std::memmove(r.buffer, r.buffer + r.ahead_pos, static_cast<std::size_t>(r.ahead_count));
    r.ahead_pos = 0;
}

// Makes at least `need` bytes available as read-ahead.  Returns the bytes
// available (fewer at end of file), -1 on a failed read, -2 without memory.
std::int64_t fill_ahead(Lub* lub, std::int64_t need) {
    RecordBuffer& r = lub->rec;
    if (r.ahead_count >= need) return r.ahead_count;
    compact(r);
    if (!ensure_buffer(r, need)) return -2;
    while (r.ahead_count < need) {
        int n = for_device_read(lub, r.buffer + r.ahead_count, r.capacity - r.ahead_count);
        if (n < 0) return -1;
        if (n == 0) break;
        r.ahead_count += n;
    }
    return r.ahead_count;
}

// Takes `length` bytes of read-ahead as the record.
void take_record(RecordBuffer& r, std::int32_t skip, std::int32_t length, std::int32_t consumed) {
    r.start = r.ahead_pos + skip;
    r.end = r.start + length;
    r.ahead_pos += consumed;
    r.ahead_count -= consumed;
}

Status fixed_length_record(Lub* lub, std::int32_t skip, std::int64_t length, std::int32_t trailer) {
    std::int64_t total = skip + length + trailer;
    std::int64_t got = fill_ahead(lub, total);
    if (got == -2) return status_of(MSG_RECORD_TOO_LONG);
    if (got < 0) return status_of(MSG_READ_ERROR);
    if (got < total) return status_of(MSG_READ_ERROR);
    take_record(lub->rec, skip, static_cast<std::int32_t>(length), static_cast<std::int32_t>(total));
    return 0;
}

Status terminated_record(Lub* lub, char terminator) {
    RecordBuffer& r = lub->rec;
    std::int32_t scanned = 0;
    for (;;) {
        const char* base = r.buffer + r.ahead_pos;
        const void* hit = r.ahead_count > scanned
                              ? std::memchr(base + scanned, terminator, static_cast<std::size_t>(r.ahead_count - scanned))
                              : nullptr;
        if (hit) {
            std::int32_t length = static_cast<std::int32_t>(static_cast<const char*>(hit) - base);
            take_record(r, 0, length, length + 1);
            return 0;
        }
        scanned = r.ahead_count;
        compact(r);
        if (r.ahead_count == r.capacity && !ensure_buffer(r, std::int64_t(r.capacity) * 2))
            return status_of(MSG_RECORD_TOO_LONG);
        int n = for_device_read(lub, r.buffer + r.ahead_count, r.capacity - r.ahead_count);
        if (n < 0) return status_of(MSG_READ_ERROR);
        if (n == 0) {
            if (lub->compat_numbering && r.ahead_count > 0) {
                // An unterminated last line is a record of its own.
                take_record(r, 0, r.ahead_count, r.ahead_count);
                return 0;
            }
            r.ahead_count = 0;
            return status_of(MSG_END_OF_FILE);
        }
        // Short reads (pipes, terminals) go on until the terminator or the
        // end of the file.
        r.ahead_count += n;
    }
}

}  // namespace

Status for_get_record(Lub* lub) {
    RecordBuffer& r = lub->rec;
    if (Status s = for_wbuf_flush(lub)) return s;
    if (DeviceNode* node = lub->device) {
        if (node->open_after_cr) {
            Lub* owner = node->line_open_owner ? node->line_open_owner : lub;
            node->open_after_cr = false;
            node->line_open_owner = nullptr;
            for_device_write(owner, "\n", 1);
        }
        node->open_after_prompt = false;
        node->console_continuation = false;
    }
    const int initial = lub->seekable && !lub->char_device ? kDiskInputBuffer : kInitialInputBuffer;
    if (!ensure_buffer(r, initial < r.capacity ? r.capacity : initial))
        return status_of(MSG_NO_MEMORY);
    r.end_mark = -1;
    const bool big = lub->conversion == 1;
    Status s = 0;
    switch (lub->record_type) {
        case RT_STREAM: {
            if (r.ahead_count == 0) {
                r.ahead_pos = 0;
                int n = for_device_read(lub, r.buffer, r.capacity);
                if (n < 0) return status_of(MSG_READ_ERROR);
                if (n == 0) return status_of(MSG_END_OF_FILE);
                r.ahead_count = n;
            }
            take_record(r, 0, r.ahead_count, r.ahead_count);
            break;
        }
        case RT_VARIABLE:
        case RT_LENGTH_WORD: {
            std::int64_t got = fill_ahead(lub, 4);
            if (got == 0) return status_of(MSG_END_OF_FILE);
            if (got < 4) return status_of(MSG_READ_ERROR);
            std::uint32_t length = get_u32(r.buffer + r.ahead_pos, big);
            s = fixed_length_record(lub, 4, length, 4);
            break;
        }
        case RT_SEGMENTED: {
            std::int64_t got = fill_ahead(lub, 2);
            if (got == 0) return status_of(MSG_END_OF_FILE);
            if (got < 2) return status_of(MSG_READ_ERROR);
            std::uint32_t length = get_u16(r.buffer + r.ahead_pos, big);
            s = fixed_length_record(lub, 2, length, static_cast<std::int32_t>(length & 1));
            if (s == 0 && length == 1 && r.buffer[r.start] == kControlZ) return status_of(MSG_END_OF_FILE);
            break;
        }
        case RT_FIXED: {
            std::int64_t length = lub->form == FORM_FORMATTED ? r.recl : std::int64_t(r.recl) * 4;
            std::int64_t got = fill_ahead(lub, length);
            if (got == 0) return status_of(MSG_END_OF_FILE);
            s = fixed_length_record(lub, 0, length, 0);
            break;
        }
        default: {
            s = terminated_record(lub, lub->record_type == RT_STREAM_CR ? '\r' : '\n');
            if (s == 0 && lub->record_type == RT_STREAM_LF && r.end > r.start && r.buffer[r.end - 1] == '\r')
                --r.end;
            break;
        }
    }
    if (s != 0) return s;
    if (lub->device) lub->device->ahead_pending = r.ahead_count > 0;
    r.pos = r.start;
    ++lub->records;
    if (lub->form == FORM_FORMATTED && r.end - r.start == 1 && r.buffer[r.start] == kControlZ)
        return status_of(MSG_END_OF_FILE);
    return 0;
}

Status for_seek_back(Lub* lub) {
    RecordBuffer& r = lub->rec;
    if (r.ahead_count <= 0) return 0;
    if (Status s = for_wbuf_flush(lub)) return s;
    if (lseek(lub->handle, -static_cast<off_t>(r.ahead_count), SEEK_CUR) < 0) {
        lub->system_error = errno;
        return status_of(MSG_WRITE_ERROR);
    }
    r.ahead_count = 0;
    r.ahead_pos = 0;
    r.ahead_valid = false;
    return 0;
}

namespace {
// Whether a read of `fd` would return at once (bytes, end of file or an error).
bool input_ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}
}  // namespace

void for_wait_for_input(int fd) {
    const bool gated = g_host && g_host->transfer_gate;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        for_input_wait_begin();
        const int r = poll(&p, 1, gated ? kGatePassMs : -1);
        const int err = errno;
        for_input_wait_end();  // parks when the run's end was claimed meanwhile
        if (r == 0) {
            g_host->transfer_gate();
            continue;
        }
        if (r > 0 || err != EINTR) return;
    }
}

void for_preset_console_answer(const char* text, int length) {
    if (!text || length < 0) {
        g_preset_length = -1;
        return;
    }
    g_preset_length = length < kPresetCapacity ? length : kPresetCapacity;
    std::memcpy(g_preset, text, static_cast<std::size_t>(g_preset_length));
}

int for_device_read(Lub* lub, char* buffer, int capacity) {
    // The first console read may have its answer given beforehand.
    const bool console_input = lub->device_code == 0;
    if (lub->window_unit && g_host) {
        if (lub->device_code == 1 || lub->device_code == 2) return -1;  // output consoles
        if (capacity < 2) return -1;
        int window = lub->device_code == -6 ? lub->handle : g_host->current_window();
        if (lub->focus_on_write && lub->device_code == -6) {
            g_host->select_window(window);
            g_host->activate_window(window);
        }
        for_wbuf_flush_all();  // the user may wait: every record written so far is in its file
        int n = console_input ? take_preset(buffer, capacity - 1) : -1;
        if (n >= 0) {
            g_host->write_text(buffer, n, window, 0);  // echoed as typing echoes it
        } else {
            n = g_host->read_line(buffer, capacity - 1, window);
        }
        if (n < 0) return -1;
        g_host->write_text("\r\n", 2, window, 0);
        buffer[n] = '\n';
        return n + 1;
    }
    if (g_host && g_host->transfer_gate) g_host->transfer_gate();
    if (console_input && capacity >= 2) {
        const int n = take_preset(buffer, capacity - 1);
        if (n >= 0) {
            echo_on_console(buffer, n);
            buffer[n] = '\n';
            return n + 1;
        }
    }
    // The console's records (the prompt) are out before the program reads
    // the answer, and every record before it waits on a terminal or pipe.
    const bool may_wait = lub->char_device || !lub->seekable;
    if (lub->std_input || lub->device_code == 0 || (may_wait && !input_ready(lub->handle))) for_wbuf_flush_all();
    // A terminal or a pipe may keep the statement waiting for ever: the wait
    // is one the end of the run may cut short.
    if (may_wait) for_wait_for_input(lub->handle);
    for (;;) {
        ssize_t n = read(lub->handle, buffer, static_cast<std::size_t>(capacity));
        if (n < 0) {
            if (errno == EINTR) continue;
            lub->system_error = errno;
            return -1;
        }
        return static_cast<int>(n);
    }
}

}  // namespace forrtl
