// Output records: the record buffer set up for each record, its growth, the
// terminators and carriage-control bytes of each record type, the shared
// device nodes that carry the console line state, and the device write.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "for_host.h"
#include "for_io.h"
#include "for_wbuf.h"

namespace forrtl {

namespace {

DeviceNode* g_device_buckets[kDeviceBuckets];
std::atomic<std::int32_t> g_device_locks[kDeviceBuckets];

constexpr int kGrowStep = 512;

bool is_console(const Lub* lub) {
    if (g_host) return lub->window_unit;
    return lub->std_handle && lub->handle == STDOUT_FILENO;
}

void put_u32(char* p, std::uint32_t v, bool big_endian) {
    for (int i = 0; i < 4; ++i) {
        int shift = big_endian ? 24 - 8 * i : 8 * i;
        p[i] = static_cast<char>((v >> shift) & 0xFF);
    }
}

void put_u16(char* p, std::uint32_t v, bool big_endian) {
    p[big_endian ? 1 : 0] = static_cast<char>(v & 0xFF);
    p[big_endian ? 0 : 1] = static_cast<char>((v >> 8) & 0xFF);
}

Status grow_buffer(Lub* lub, std::int32_t bytes) {
    RecordBuffer& r = lub->rec;
    std::int64_t capacity = std::int64_t(r.capacity) + bytes;
    if (capacity > INT32_MAX) return status_of(MSG_NO_MEMORY);
    char* p = static_cast<char*>(std::realloc(r.buffer, static_cast<std::size_t>(capacity)));
    if (!p) return status_of(MSG_NO_MEMORY);
    if (lub->form == FORM_FORMATTED) std::memset(p + r.capacity, ' ', static_cast<std::size_t>(bytes));
    else std::memset(p + r.capacity, 0, static_cast<std::size_t>(bytes));
    r.buffer = p;
    r.capacity = static_cast<std::int32_t>(capacity);
    return 0;
}

// Writes `count` bytes, with the system error kept on failure.
Status write_bytes(Lub* lub, const char* bytes, int count) {
    if (count == 0) return 0;
    if (for_device_write(lub, bytes, count) != count) return status_of(MSG_WRITE_ERROR);
    return 0;
}

// The most common record, a line of a LIST file or console that ends at
// `last`: the text and CR LF, after the LF that closes a line left open;
// the line is closed after it.  (What the general steps of
// put_record_impl do for it.)
bool is_list_line(const Lub* lub, std::int32_t last) {
    return lub->record_type == RT_STREAM_LF && lub->carriage == CC_LIST && !lub->rec.dollar &&
           !lub->truncate_on_write && last + kRecordBack <= lub->rec.capacity;
}

Status put_list_line(Lub* lub, std::int32_t last) {
    RecordBuffer& r = lub->rec;
    DeviceNode* node = lub->device;
    std::int32_t from = r.start;
    if (node && (node->open_after_cr || node->open_after_prompt)) r.buffer[--from] = '\n';
    r.buffer[last] = '\r';
    r.buffer[last + 1] = '\n';
    r.end_mark = -1;
    if (Status s = write_bytes(lub, r.buffer + from, last + 2 - from)) return s;
    if (node) {
        node->open_after_cr = false;
        node->open_after_prompt = false;
        node->line_open_owner = nullptr;
    }
    ++lub->records;
    return 0;
}

std::int32_t record_last(const RecordBuffer& r) {
    const std::int32_t last = r.end_mark >= 0 ? r.end_mark : r.pos;
    return last < r.start ? r.start : last;
}

Status put_record_impl(Lub* lub, bool flushing_pending) {
    RecordBuffer& r = lub->rec;
    DeviceNode* node = lub->device;
    if (!r.buffer) return 0;
    std::int32_t last = record_last(r);
    if (!flushing_pending && is_list_line(lub, last)) return put_list_line(lub, last);
    std::int32_t head = r.start;
    std::int32_t tail = last;
    const bool compat = lub->compat_numbering;
    const bool console_pending = flushing_pending && is_console(lub);
    const bool big = lub->conversion == 1;
    bool fortran = lub->carriage == CC_FORTRAN;

    if (tail + kRecordBack > r.capacity) return status_of(MSG_RECORD_OVERFLOW);

    if (fortran && lub->rec.dollar && tail > head) {
        // No terminator wanted: a blank control character becomes "$" and
        // "+" becomes NUL, so that the line stays open.
        if (r.buffer[head] == ' ') r.buffer[head] = '$';
        else if (r.buffer[head] == '+') r.buffer[head] = '\0';
    }

    switch (lub->record_type) {
        case RT_FIXED: {
            std::int32_t full = head + (lub->form == FORM_FORMATTED ? r.recl : r.recl * 4);
            char fill = lub->form == FORM_FORMATTED ? ' ' : '\0';
            if (full + kRecordBack > r.capacity) return status_of(MSG_RECORD_OVERFLOW);
            while (tail < full) r.buffer[tail++] = fill;
            if (compat && lub->direct && lub->form == FORM_FORMATTED && is_console(lub)) {
                r.buffer[tail++] = '\r';
                r.buffer[tail++] = '\n';
            }
            break;
        }
        case RT_VARIABLE:
        case RT_LENGTH_WORD: {
            std::uint32_t n = static_cast<std::uint32_t>(tail - head);
            put_u32(r.buffer + head - 4, n, big);
            put_u32(r.buffer + tail, n, big);
            head -= 4;
            tail += 4;
            break;
        }
        case RT_SEGMENTED: {
            std::uint32_t n = static_cast<std::uint32_t>(tail - head);
            put_u16(r.buffer + head - 2, n, big);
            head -= 2;
            if (n & 1) r.buffer[tail++] = '\0';
            break;
        }
        case RT_STREAM_LF:
            if (!fortran && !r.dollar && !console_pending) {
                r.buffer[tail++] = '\r';
                r.buffer[tail++] = '\n';
            }
            break;
        case RT_STREAM_CR:
            if (!fortran && !r.dollar && !console_pending) r.buffer[tail++] = '\r';
            break;
        default:
            break;
    }

    bool open = node && (node->open_after_cr || node->open_after_prompt);
    bool leaves_cr = false, leaves_prompt = false;
    if (fortran) {
        char control = tail > head ? r.buffer[head] : ' ';
        std::int32_t text = tail > head ? head + 1 : head;
        char prefix[2];
        int np = 0;
        bool cr = true;
        switch (control) {
            case '+':
                break;
            case '0':
                prefix[np++] = '\n';
                if (open) prefix[np++] = '\n';
                break;
            case '1':
                prefix[np++] = '\f';
                break;
            case '$':
                if (open) prefix[np++] = '\n';
                cr = false;
                break;
            case '\0':
                cr = false;
                break;
            default:
                if (open) prefix[np++] = '\n';
                break;
        }
        head = text - np;
        std::memcpy(r.buffer + head, prefix, static_cast<std::size_t>(np));
        if (cr) r.buffer[tail++] = '\r';
        leaves_cr = cr;
        leaves_prompt = !cr;
    } else {
        if (lub->carriage == CC_LIST) {
            if (open) r.buffer[--head] = '\n';
            bool direct_compat = compat && lub->direct;
            if (lub->record_type != RT_STREAM_LF && !r.dollar && !direct_compat && !console_pending)
                r.buffer[tail++] = '\n';
        }
        leaves_prompt = r.dollar || console_pending;
    }
    r.dollar = false;
    r.end_mark = -1;

    if (Status s = write_bytes(lub, r.buffer + head, tail - head)) return s;

    if (node) {
        node->open_after_cr = leaves_cr;
        node->open_after_prompt = leaves_prompt;
        node->line_open_owner = (leaves_cr || leaves_prompt) ? lub : nullptr;
        if (console_pending) node->console_continuation = true;
    }

    if (lub->truncate_on_write) {
        lub->truncate_on_write = false;
        if (Status s = for_wbuf_flush(lub)) return s;
        off_t at = lseek(lub->handle, 0, SEEK_CUR);
        if (at < 0 || ftruncate(lub->handle, at) != 0) {
            lub->system_error = errno;
            return status_of(MSG_WRITE_ERROR);
        }
    }
    ++lub->records;
    return 0;
}

}  // namespace

int device_hash(const char* name, int length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    int n = length;
    if (n > 16) {
        int skip = n - 16 < 8 ? n - 16 : 8;
        p += skip;
        n -= skip;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < 4 && i < n; ++i) v |= std::uint32_t(p[i]) << (8 * i);
    if (n >= 5) {
        std::uint32_t last = 0;
        for (int i = 0; i < 4; ++i) last |= std::uint32_t(p[n - 4 + i]) << (8 * i);
        v ^= last;
    }
    std::int32_t signed_value = static_cast<std::int32_t>(v);
    int rem = signed_value % kDeviceBuckets;
    return rem < 0 ? -rem : rem;
}

namespace {
// Whether a console input unit reads from the terminal that standard output
// writes to: only then do the two share one line.  With standard output
// redirected to a file, the terminal's echo of a typed line never reaches
// that file, so its line state must stay its own.
bool same_terminal_as_output(const Lub* lub) {
    struct stat in {}, out {};
    if (fstat(lub->handle, &in) != 0 || fstat(STDOUT_FILENO, &out) != 0) return false;
    return S_ISCHR(in.st_mode) && S_ISCHR(out.st_mode) && in.st_rdev == out.st_rdev;
}
}  // namespace

Status for_attach_device(Lub* lub) {
    if (lub->device || !lub->name) return 0;
    const char* key = lub->name;
    if (std::strcmp(key, "CON") == 0) key = "CONOUT$";
    if (std::strcmp(key, "CONIN$") == 0 && (lub->window_unit || (lub->char_device && same_terminal_as_output(lub))))
        key = "CONOUT$";
    int length = static_cast<int>(std::strlen(key));
    int bucket = device_hash(key, length);
    Status s = for_runtime_lock(g_device_locks[bucket]);
    if (s != 0) return s;
    DeviceNode* node = g_device_buckets[bucket];
    while (node && std::strcmp(node->name, key) != 0) node = node->next;
    if (!node) {
        node = static_cast<DeviceNode*>(std::calloc(1, sizeof(DeviceNode)));
        char* name = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
        if (!node || !name) {
            std::free(node);
            std::free(name);
            for_runtime_unlock(g_device_locks[bucket]);
            return status_of(MSG_NO_MEMORY);
        }
        std::memcpy(name, key, static_cast<std::size_t>(length) + 1);
        node->name = name;
        node->bucket = bucket;
        node->next = g_device_buckets[bucket];
        if (node->next) node->next->prev = node;
        g_device_buckets[bucket] = node;
    }
    ++node->refs;
    lub->device = node;
    for_runtime_unlock(g_device_locks[bucket]);
    return 0;
}

void for_detach_device(Lub* lub) {
    DeviceNode* node = lub->device;
    if (!node) return;
    lub->device = nullptr;
    int bucket = node->bucket;
    if (for_runtime_lock(g_device_locks[bucket]) != 0) return;
    if (node->statement_owner == lub) {
        node->statement_owner = nullptr;
        node->record_pending = false;
    }
    if (node->line_open_owner == lub) node->line_open_owner = nullptr;
    if (--node->refs <= 0) {
        if (node->prev) node->prev->next = node->next;
        else g_device_buckets[bucket] = node->next;
        if (node->next) node->next->prev = node->prev;
        std::free(node->name);
        std::free(node);
    }
    for_runtime_unlock(g_device_locks[bucket]);
}

namespace {

// A new record at the front of the buffer, up to the record length limit
// or the room the buffer has; returns that length.
std::int32_t place_record(Lub* lub) {
    RecordBuffer& r = lub->rec;
    r.start = kRecordFront;
    r.pos = r.start;
    std::int32_t limit = lub->form == FORM_FORMATTED ? r.recl : r.recl * 4;
    if (r.start + limit + kRecordBack > r.capacity) limit = r.capacity - r.start - kRecordBack;
    r.end = r.start + limit;
    r.end_mark = -1;
    return limit;
}

}  // namespace

Status for_begin_output_record(Lub* lub) {
    RecordBuffer& r = lub->rec;
    if (r.ahead_count > 0 && lub->seekable && !lub->char_device) {
        if (for_seek_back(lub) != 0) return status_of(MSG_WRITE_ERROR);
    }
    r.ahead_count = 0;
    r.ahead_pos = 0;
    r.ahead_valid = false;
    const std::int32_t limit = place_record(lub);
    if (r.buffer && limit > 0)
        std::memset(r.buffer + r.start, lub->form == FORM_FORMATTED ? ' ' : '\0', static_cast<std::size_t>(limit));
    return 0;
}

char* for_begin_line(Lub* lub, std::int32_t length) {
    RecordBuffer& r = lub->rec;
    if (!r.buffer || r.ahead_count != 0 || lub->form != FORM_FORMATTED || lub->direct || lub->read_only ||
        lub->nonadvancing_open || lub->record_type != RT_STREAM_LF || lub->carriage != CC_LIST ||
        lub->truncate_on_write || (lub->device && lub->device->record_pending))
        return nullptr;
    if (place_record(lub) < length) return nullptr;
    r.ahead_pos = 0;
    r.ahead_valid = false;
    r.dollar = false;
    return r.buffer + r.start;
}

Status for_put_line(Lub* lub, std::int32_t last) { return put_list_line(lub, lub->rec.start + last); }

Status for_record_room(Lub* lub, std::int32_t n) {
    RecordBuffer& r = lub->rec;
    if (n <= 0 || std::int64_t(r.pos) + n <= r.end) return 0;
    bool can_grow = lub->recl_defaulted && lub->record_type != RT_FIXED && lub->record_type != RT_SEGMENTED;
    if (!can_grow) return status_of(MSG_RECORD_OVERFLOW);
    std::int64_t need = std::int64_t(r.pos) + n - r.end;
    std::int64_t grow;
    if (lub->form == FORM_FORMATTED) {
        grow = (need + kGrowStep - 1) / kGrowStep * kGrowStep;
    } else {
        grow = (need + 3) / 4 * 4;
    }
    if (grow > INT32_MAX / 2) return status_of(MSG_NO_MEMORY);
    if (Status s = grow_buffer(lub, static_cast<std::int32_t>(grow))) return s;
    r.end += static_cast<std::int32_t>(grow);
    r.size += static_cast<std::int32_t>(grow);
    r.recl += lub->form == FORM_FORMATTED ? static_cast<std::int32_t>(grow) : static_cast<std::int32_t>(grow / 4);
    return 0;
}

Status for_put_record(Lub* lub) {
    // A line of a LIST file or console goes the short way.
    const std::int32_t last = record_last(lub->rec);
    if (lub->rec.buffer && is_list_line(lub, last)) return put_list_line(lub, last);
    return put_record_impl(lub, false);
}

Status for_put_unformatted_record(Lub* lub) { return put_record_impl(lub, false); }

void for_output_statement_begin(Lub* lub, std::uint32_t flags) {
    DeviceNode* node = lub->device;
    if (!node || lub->form != FORM_FORMATTED) return;
    if (flags & SF_PENDING_RECORDS) {
        node->record_pending = true;
        node->statement_owner = lub;
    }
}

Status for_output_statement_end(Lub* lub) {
    DeviceNode* node = lub->device;
    if (node && node->record_pending && node->statement_owner == lub) return 0;
    return for_put_record(lub);
}

Status for_flush_pending(Lub* lub, int kind) {
    DeviceNode* node = lub->device;
    if (!node || !node->record_pending || !node->statement_owner) return 0;
    if (kind == SK_INQUIRE || kind == SK_RELEASE) return 0;
    Lub* owner = node->statement_owner;
    node->record_pending = false;
    node->statement_owner = nullptr;
    return put_record_impl(owner, true);
}

Status for_close_open_line(Lub* lub) {
    DeviceNode* node = lub->device;
    if (!node || !node->open_after_cr) return 0;
    Lub* owner = node->line_open_owner ? node->line_open_owner : lub;
    node->open_after_cr = false;
    node->line_open_owner = nullptr;
    return write_bytes(owner, "\n", 1);
}

int for_device_write(Lub* lub, const char* bytes, int count) {
    if (lub->window_unit && g_host) {
        if (lub->device_code == 0) return -1;  // console input cannot be written
        int window = lub->device_code == -6 ? lub->handle : g_host->current_window();
        if (lub->focus_on_write && lub->device_code == -6) {
            g_host->select_window(window);
            g_host->activate_window(window);
        }
        return g_host->write_text(bytes, count, window, 0) == count ? count : -1;
    }
    if (lub->device_code == 0) {
        // Console input is no file to write to: the write fails as writing
        // to an input handle does.
        lub->system_error = EBADF;
        return -1;
    }
    if (g_host && g_host->transfer_gate) g_host->transfer_gate();
    if (lub->write_behind) return for_wbuf_write(lub, bytes, count);
    // Standard error may be the same pipe or file as a buffered standard
    // output (2>&1): what was written before goes first.
    if (lub->handle == STDERR_FILENO) for_wbuf_flush_all();
    int done = 0;
    while (done < count) {
        ssize_t n = write(lub->handle, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            lub->system_error = errno;
            return -1;
        }
        done += static_cast<int>(n);
    }
    return done;
}

}  // namespace forrtl
