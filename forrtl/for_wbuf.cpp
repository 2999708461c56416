// Write-behind blocks of output records: a fixed table of blocks, one per
// open regular file that is written, shared by the units on one descriptor
// (units 6 and * on standard output).  Every regular-file connection is
// entered in the table, buffered or not, so that a file connected twice
// (written on one unit and read on another) is seen and written through.
//
// A WRITE whose record cannot be stored must fail itself, not thousands of
// records later: before a block is filled, the space its bytes will take
// in the file is reserved (fallocate without changing the size), and a
// block fills only as far as the file size limit allows.  Once a
// reservation fails (a full disk, a quota, the limit) the file is written
// record by record, so that the record that does not fit is the one that
// reports.  Space reserved and not used is given back when the file is
// closed.
#include "for_wbuf.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "for_lub.h"

namespace forrtl {

namespace {

struct Block {
    std::atomic<std::int32_t> lock;    // the run-time lock: appends, flushes
    std::atomic<int> refs;             // units attached, 0 when free
    std::atomic<int> fd;
    std::atomic<std::int32_t> length;  // bytes held; the signal flush reads it
    char* data;                        // kWriteBehindSize bytes, kept for reuse; null when unbuffered
    dev_t dev;
    ino_t ino;
    bool through;       // write record by record: another connection, or no space to reserve
    int pending_error;  // errno of a failed flush not yet reported
    std::int32_t room;  // bytes the block may hold before it is written out (its reservation)
    bool appending;     // the descriptor writes at the end of the file (O_APPEND)
    bool unreserved;    // the file system reserves no space: blocks fill without a reservation
    bool reserved;      // space was reserved at least once: what is left is given back at close
};

Block g_blocks[kWriteBehindSlots];
char* g_spare[kWriteBehindSlots];   // blocks' memory, allocated once per slot
std::atomic<std::int32_t> g_table_lock{0};
std::atomic<bool> g_enabled{true};
bool g_table_full = false;          // a file could not be entered: buffer no more
bool g_exit_flush_registered = false;

// write(2) of all `count` bytes; false with errno on failure.
bool write_all(int fd, const char* bytes, std::int32_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, static_cast<std::size_t>(count));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        count -= static_cast<std::int32_t>(n);
    }
    return true;
}

// Empties the block into its file; the caller holds the block's lock.  The
// length is cleared before the write so that the signal flush cannot write
// the same bytes again.  A failed write drops the bytes: `err` gets errno.
// The next fill of the block reserves its space again.
bool flush_locked(Block& b, int& err) {
    b.room = 0;
    std::int32_t n = b.length.load(std::memory_order_relaxed);
    if (n == 0) return true;
    b.length.store(0, std::memory_order_release);
    if (write_all(b.fd.load(std::memory_order_relaxed), b.data, n)) return true;
    err = errno;
    return false;
}

// One record written through to the file.  When only part of it could be
// written (the disk filled up under it, the size limit), the part is taken
// off the end of the file again: the file keeps whole records only.
bool write_record(int fd, const char* bytes, std::int32_t count, int& err) {
    std::int32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n >= 0) {
            done += static_cast<std::int32_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        err = errno;
        struct stat st;
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (done > 0 && at >= done && fstat(fd, &st) == 0 && st.st_size == at && ftruncate(fd, at - done) == 0)
            lseek(fd, at - done, SEEK_SET);
        return false;
    }
    return true;
}

// Reserves the file space of the block's next fill (the block is empty):
// true when the block may take records, with `room` set; false when the
// file must be written record by record from now on.
bool reserve(Block& b) {
    const int fd = b.fd.load(std::memory_order_relaxed);
    off_t at;
    if (b.appending) {
        struct stat st;
        at = fstat(fd, &st) == 0 ? st.st_size : -1;
    } else {
        at = lseek(fd, 0, SEEK_CUR);
    }
    if (at < 0) return false;
    std::int64_t room = kWriteBehindSize;
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // Near the file size limit the records go one by one, so that the
        // one that crosses it fails itself.
        const std::int64_t left = std::int64_t(limit.rlim_cur) - at;
        if (left < room) room = 0;
    }
    if (room > 0 && !b.unreserved) {
        int r;
        do r = fallocate(fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(room));
        while (r != 0 && errno == EINTR);
        if (r == 0) {
            b.reserved = true;
        } else if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
            // Nothing to reserve with: blocks fill as before, and a failed
            // write is reported by the unit's next statement or its close.
            b.unreserved = true;
        } else {
            room = 0;  // no space left, over the quota, or an I/O error
        }
    }
    if (room == 0) {
        b.through = true;
        return false;
    }
    b.room = static_cast<std::int32_t>(room);
    return true;
}

// Gives back the space reserved beyond the end of the file.  Truncating to
// the size the file has does that (ext4 and tmpfs drop the blocks past the
// end); the file's contents do not change.
void give_back_reservation(Block& b) {
    if (!b.reserved) return;
    b.reserved = false;
    const int fd = b.fd.load(std::memory_order_relaxed);
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) (void)ftruncate(fd, st.st_size);
}

Block* block_of(const Lub* lub) { return lub->write_behind > 0 ? &g_blocks[lub->write_behind - 1] : nullptr; }

bool same_file_as_stderr(const struct stat& out) {
    struct stat err;
    return fstat(STDERR_FILENO, &err) == 0 && err.st_dev == out.st_dev && err.st_ino == out.st_ino;
}

void flush_at_exit() { for_wbuf_flush_all(); }

// Turns a buffered block into a write-through one, emptying it first.
void write_through(Block& b) {
    if (for_runtime_lock(b.lock) != 0) return;
    int err = 0;
    if (b.data && !flush_locked(b, err) && b.pending_error == 0) b.pending_error = err;
    b.through = true;
    for_runtime_unlock(b.lock);
}

}  // namespace

bool for_wbuf_buffered(const Lub* lub) {
    const Block* b = block_of(lub);
    return b && b->data && !b->through;
}

void for_wbuf_set_enabled(bool on) { g_enabled.store(on); }
bool for_wbuf_enabled() { return g_enabled.load(); }

void for_wbuf_attach(Lub* lub) {
    if (lub->write_behind || lub->window_unit || lub->char_device || lub->handle < 0 ||
        lub->handle == STDERR_FILENO || lub->device_code == 0)
        return;
    struct stat st;
    if (fstat(lub->handle, &st) != 0 || !S_ISREG(st.st_mode)) return;
    bool buffered = g_enabled.load() && !lub->read_only &&
                    !(lub->handle == STDOUT_FILENO && same_file_as_stderr(st));

    if (for_runtime_lock(g_table_lock) != 0) return;
    int free_slot = -1, shared = -1;
    bool twice = false;
    for (int i = 0; i < kWriteBehindSlots; ++i) {
        Block& b = g_blocks[i];
        if (b.refs.load(std::memory_order_relaxed) == 0) {
            if (free_slot < 0) free_slot = i;
            continue;
        }
        if (b.dev != st.st_dev || b.ino != st.st_ino) continue;
        if (b.fd.load(std::memory_order_relaxed) == lub->handle) {
            shared = i;
        } else {
            twice = true;
            write_through(b);
        }
    }
    if (twice && shared >= 0) write_through(g_blocks[shared]);
    if (shared >= 0) {
        g_blocks[shared].refs.fetch_add(1, std::memory_order_relaxed);
        lub->write_behind = static_cast<std::int8_t>(shared + 1);
    } else if (free_slot < 0) {
        // Untracked from here on: a later connection of the same file would
        // go unseen, so no new file gets a block.
        g_table_full = true;
    } else {
        Block& b = g_blocks[free_slot];
        if (buffered && !twice && !g_table_full && !g_spare[free_slot])
            g_spare[free_slot] = static_cast<char*>(std::malloc(kWriteBehindSize));
        b.data = buffered && !twice && !g_table_full ? g_spare[free_slot] : nullptr;
        b.fd.store(lub->handle, std::memory_order_relaxed);
        b.length.store(0, std::memory_order_relaxed);
        b.dev = st.st_dev;
        b.ino = st.st_ino;
        b.through = twice || !b.data;
        b.pending_error = 0;
        b.room = 0;
        const int status_flags = fcntl(lub->handle, F_GETFL);
        b.appending = status_flags >= 0 && (status_flags & O_APPEND) != 0;
        b.unreserved = false;
        b.reserved = false;
        b.refs.store(1, std::memory_order_release);
        lub->write_behind = static_cast<std::int8_t>(free_slot + 1);
        if (b.data && !g_exit_flush_registered) {
            // A program that ends by returning from main still gets its records.
            g_exit_flush_registered = std::atexit(flush_at_exit) == 0;
        }
    }
    for_runtime_unlock(g_table_lock);
}

int for_wbuf_write(Lub* lub, const char* bytes, int count) {
    Block& b = *block_of(lub);
    if (for_runtime_lock(b.lock) != 0) {
        lub->system_error = EDEADLK;
        return -1;
    }
    int result = count;
    if (b.pending_error) {
        lub->system_error = b.pending_error;
        b.pending_error = 0;
        result = -1;
    } else {
        std::int32_t held = b.length.load(std::memory_order_relaxed);
        if (!b.through && held > 0 && count <= b.room - held) {
            std::memcpy(b.data + held, bytes, static_cast<std::size_t>(count));
            b.length.store(held + count, std::memory_order_release);
        } else {
            int err = 0;
            if (b.data && !flush_locked(b, err)) {
                lub->system_error = err;
                result = -1;
            } else if (!b.through && count <= kWriteBehindSize && reserve(b) && count <= b.room) {
                std::memcpy(b.data, bytes, static_cast<std::size_t>(count));
                b.length.store(count, std::memory_order_release);
            } else if (!write_record(b.fd.load(std::memory_order_relaxed), bytes, count, err)) {
                lub->system_error = err;
                result = -1;
            }
        }
    }
    for_runtime_unlock(b.lock);
    return result;
}

Status for_wbuf_flush(Lub* lub) {
    Block* b = block_of(lub);
    if (!b) return 0;
    if (for_runtime_lock(b->lock) != 0) {
        lub->system_error = EDEADLK;
        return status_of(MSG_WRITE_ERROR);
    }
    int err = b->pending_error;
    b->pending_error = 0;
    if (err == 0 && b->data) flush_locked(*b, err);
    for_runtime_unlock(b->lock);
    if (err == 0) return 0;
    lub->system_error = err;
    return status_of(MSG_WRITE_ERROR);
}

Status for_wbuf_detach(Lub* lub) {
    Block* b = block_of(lub);
    if (!b) return 0;
    Status s = for_wbuf_flush(lub);
    if (for_runtime_lock(g_table_lock) == 0) {
        if (b->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            give_back_reservation(*b);
            b->fd.store(-1, std::memory_order_relaxed);
        }
        for_runtime_unlock(g_table_lock);
    }
    lub->write_behind = 0;
    return s;
}

void for_wbuf_flush_all() {
    for (Block& b : g_blocks) {
        if (b.refs.load(std::memory_order_acquire) == 0 || !b.data) continue;
        if (b.length.load(std::memory_order_relaxed) == 0) continue;
        if (for_runtime_lock(b.lock) != 0) continue;
        int err = 0;
        if (b.refs.load(std::memory_order_relaxed) > 0 && !flush_locked(b, err) && b.pending_error == 0)
            b.pending_error = err;
        for_runtime_unlock(b.lock);
    }
}

void for_wbuf_flush_in_signal() {
    int saved = errno;
    for (Block& b : g_blocks) {
        if (b.refs.load(std::memory_order_acquire) == 0 || !b.data) continue;
        std::int32_t n = b.length.load(std::memory_order_acquire);
        if (n <= 0) continue;
        b.length.store(0, std::memory_order_relaxed);
        write_all(b.fd.load(std::memory_order_relaxed), b.data, n);
    }
    errno = saved;
}

}  // namespace forrtl
