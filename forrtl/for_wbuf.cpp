// Write-behind blocks of output records: a fixed table of blocks, one per
// open regular file that is written (and one for standard output when it
// is not a terminal), shared by the units on one descriptor (units 6 and *
// on standard output).  Every regular-file connection is entered in the
// table, buffered or not, so that a file connected twice (written on one
// unit and read on another) is seen and written through.
//
// A WRITE whose record cannot be stored must fail itself, not thousands of
// records later: before a block is filled, the space its bytes will take
// in the file is reserved (fallocate without changing the size), and a
// block fills only as far as the file size limit allows.  Once a
// reservation fails (a full disk, a quota, the limit) the file is written
// record by record, so that the record that does not fit is the one that
// reports.  Space reserved and not used is given back when the file is
// closed.  A pipe or device on standard output has no space to reserve:
// its block fills without, and a failed write is reported by the next
// statement on the unit or at its close.
//
// Each block has a lock of its own, held while a record is added and while
// the block is written.  A statement waits for it as long as it takes (the
// holder is the background writer, in a write(2) that a slow reader may
// hold up), so the lock never fails a WRITE.
//
// The background writer sleeps on a futex word while every block is empty.
// The first record stored in an empty block notes the time and, when the
// writer is idle, wakes it; the writer then sleeps until the oldest record
// of any block is kWriteBehindAgeNs old and writes that block out.
#include "for_wbuf.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "for_lub.h"
#include "for_reentrancy.h"

namespace forrtl {

namespace {

struct Block {
    std::atomic<std::int32_t> lock;    // held while a record is added or the block written
    std::atomic<long> holder;          // for_thread_id of the lock's holder, 0 none
    std::atomic<int> refs;             // units attached, 0 when free
    std::atomic<int> fd;
    std::atomic<std::int32_t> length;  // bytes held; the signal flush reads it
    std::atomic<std::int64_t> first_at;  // monotonic time of the oldest record held, 0 when empty
    char* data;                        // kWriteBehindSize bytes, kept for reuse; null when unbuffered
    dev_t dev;
    ino_t ino;
    bool through;       // write record by record: another connection, or no space to reserve
    bool stream;        // standard output on a pipe or device: no file space to reserve
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

// The thread's flushes give up on a block another thread holds (see
// for_wbuf_bound_waits_of_this_thread).
thread_local bool t_bounded_waits = false;

std::int64_t now_ns() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void pause_ns(long ns) {
    struct timespec t {0, ns};
    nanosleep(&t, nullptr);
}

// ---- block locks ---------------------------------------------------------

bool try_lock_block(Block& b) {
    if (b.lock.exchange(1, std::memory_order_acquire) != 0) return false;
    b.holder.store(for_thread_id(), std::memory_order_relaxed);
    return true;
}

// Waits for the block's lock: spinning briefly, then yielding, then
// sleeping in short steps (the holder may be in a write(2) to a slow
// reader).  With a bound (`limit_ns` >= 0) it gives up after that long.
bool lock_block(Block& b, std::int64_t limit_ns = -1) {
    std::int64_t deadline = -1;
    for (int attempt = 0;; ++attempt) {
        if (try_lock_block(b)) return true;
        if (attempt < 100) continue;
        if (attempt < 1000) {
            sched_yield();
            continue;
        }
        if (limit_ns >= 0) {
            const std::int64_t now = now_ns();
            if (deadline < 0) deadline = now + limit_ns;
            else if (now >= deadline) return false;
        }
        pause_ns(100 * 1000);
    }
}

void unlock_block(Block& b) {
    b.holder.store(0, std::memory_order_relaxed);
    b.lock.store(0, std::memory_order_release);
}

// A flush on behalf of someone other than the unit's own statement: an
// event that ends the run does not wait for ever on a stuck writer.
constexpr std::int64_t kBoundedWaitNs = 250 * 1000 * 1000;
bool lock_block_for_flush(Block& b) { return lock_block(b, t_bounded_waits ? kBoundedWaitNs : -1); }

// ---- the background writer -----------------------------------------------

std::atomic<std::uint32_t> g_wake{0};        // futex word, bumped to wake the writer
std::atomic<bool> g_writer_idle{true};       // the writer waits for a first record
std::atomic<bool> g_writer_started{false};
std::atomic<long> g_writer_thread{0};        // for_thread_id of the writer

void futex_wait(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::int64_t timeout_ns) {
    struct timespec t {};
    struct timespec* limit = nullptr;
    if (timeout_ns >= 0) {
        t.tv_sec = static_cast<time_t>(timeout_ns / 1000000000);
        t.tv_nsec = static_cast<long>(timeout_ns % 1000000000);
        limit = &t;
    }
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, seen, limit, nullptr, 0);
}

void wake_writer() {
    g_writer_idle.store(false);
    g_wake.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&g_wake), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void start_writer();

// A block that was empty got its first record.
void note_first_record(Block& b) {
    b.first_at.store(now_ns());
    if (!g_writer_started.load(std::memory_order_relaxed)) start_writer();
    if (g_writer_idle.load()) wake_writer();
}

bool flush_locked(Block& b, int& err);

// Writes out every block whose oldest record is due.  Returns the time the
// next block falls due, or -1 when every block is empty.
std::int64_t write_out_due_blocks() {
    const std::int64_t now = now_ns();
    std::int64_t next = -1;
    auto sooner = [&](std::int64_t at) {
        if (next < 0 || at < next) next = at;
    };
    for (Block& b : g_blocks) {
        const std::int64_t first = b.first_at.load();
        if (first == 0) continue;
        if (first + kWriteBehindAgeNs > now) {
            sooner(first + kWriteBehindAgeNs);
            continue;
        }
        if (!try_lock_block(b)) {
            sooner(now + 5 * 1000 * 1000);  // a statement is at it: look again shortly
            continue;
        }
        int err = 0;
        if (b.refs.load(std::memory_order_relaxed) > 0 && b.data) {
            if (!flush_locked(b, err) && b.pending_error == 0) b.pending_error = err;
        } else {
            b.first_at.store(0);
        }
        unlock_block(b);
    }
    return next;
}

extern "C" void* background_writer(void*) {
    g_writer_thread.store(for_thread_id());
    for (;;) {
        const std::uint32_t seen = g_wake.load();
        std::int64_t next = write_out_due_blocks();
        if (next < 0) {
            g_writer_idle.store(true);
            // A first record stored before the writer said it was idle did
            // not wake it: look once more.
            next = write_out_due_blocks();
            if (next < 0) {
                futex_wait(g_wake, seen, -1);
                continue;
            }
            g_writer_idle.store(false);
        }
        const std::int64_t wait = next - now_ns();
        if (wait > 0) futex_wait(g_wake, seen, wait);
    }
}

// In the child of a fork: the writer did not come along.  A block it held
// is released (its bytes are the parent's to write), and the next first
// record starts a writer of the child's own.
void writer_gone_in_child() {
    const long writer = g_writer_thread.load();
    for (Block& b : g_blocks) {
        if (writer != 0 && b.lock.load() != 0 && b.holder.load() == writer) unlock_block(b);
    }
    g_writer_thread.store(0);
    g_writer_idle.store(true);
    g_writer_started.store(false);
}

void start_writer() {
    static std::atomic<bool> fork_handler{false};
    if (!fork_handler.exchange(true)) pthread_atfork(nullptr, nullptr, writer_gone_in_child);
    if (g_writer_started.exchange(true)) return;
    // Without the writer the blocks are still written at every other point.
    (void)for_start_signal_free_thread(background_writer);
}

// ---- writing ---------------------------------------------------------------

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
    b.first_at.store(0);
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
    if (b.stream) {
        b.room = kWriteBehindSize;
        return true;
    }
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

void flush_at_exit() { for_wbuf_flush_all(); }

// Turns a buffered block into a write-through one, emptying it first.
void write_through(Block& b) {
    if (!lock_block_for_flush(b)) return;
    int err = 0;
    if (b.data && !flush_locked(b, err) && b.pending_error == 0) b.pending_error = err;
    b.through = true;
    unlock_block(b);
}

}  // namespace

bool for_wbuf_buffered(const Lub* lub) {
    const Block* b = block_of(lub);
    return b && b->data && !b->through;
}

void for_wbuf_set_enabled(bool on) { g_enabled.store(on); }
bool for_wbuf_enabled() { return g_enabled.load(); }

void for_wbuf_attach(Lub* lub) {
    if (lub->write_behind || lub->window_unit || lub->handle < 0 || lub->handle == STDERR_FILENO ||
        lub->device_code == 0)
        return;
    struct stat st;
    if (fstat(lub->handle, &st) != 0) return;
    // Standard output that is no terminal is buffered like a file; every
    // other pipe and device is written record by record.
    const bool stream = !S_ISREG(st.st_mode);
    if (stream && (lub->handle != STDOUT_FILENO || !lub->std_handle || isatty(STDOUT_FILENO))) return;
    bool buffered = g_enabled.load() && !lub->read_only;

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
        // The background writer may still be looking at the slot's last file.
        lock_block(b);
        if (buffered && !twice && !g_table_full && !g_spare[free_slot])
            g_spare[free_slot] = static_cast<char*>(std::malloc(kWriteBehindSize));
        b.data = buffered && !twice && !g_table_full ? g_spare[free_slot] : nullptr;
        b.fd.store(lub->handle, std::memory_order_relaxed);
        b.length.store(0, std::memory_order_relaxed);
        b.first_at.store(0);
        b.dev = st.st_dev;
        b.ino = st.st_ino;
        b.through = twice || !b.data;
        b.stream = stream;
        b.pending_error = 0;
        b.room = 0;
        const int status_flags = fcntl(lub->handle, F_GETFL);
        b.appending = status_flags >= 0 && (status_flags & O_APPEND) != 0;
        b.unreserved = false;
        b.reserved = false;
        unlock_block(b);
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
    if (!try_lock_block(b)) lock_block(b);
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
                note_first_record(b);
            } else if (!write_record(b.fd.load(std::memory_order_relaxed), bytes, count, err)) {
                lub->system_error = err;
                result = -1;
            }
        }
    }
    unlock_block(b);
    return result;
}

Status for_wbuf_flush(Lub* lub) {
    Block* b = block_of(lub);
    if (!b || !b->data) return 0;  // written through: nothing is ever held
    if (!lock_block_for_flush(*b)) {
        lub->system_error = EDEADLK;
        return status_of(MSG_WRITE_ERROR);
    }
    int err = b->pending_error;
    b->pending_error = 0;
    if (err == 0 && b->data) flush_locked(*b, err);
    unlock_block(*b);
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
        if (!lock_block_for_flush(b)) continue;
        int err = 0;
        if (b.refs.load(std::memory_order_relaxed) > 0 && !flush_locked(b, err) && b.pending_error == 0)
            b.pending_error = err;
        unlock_block(b);
    }
}

void for_wbuf_bound_waits_of_this_thread() { t_bounded_waits = true; }

void for_wbuf_flush_in_signal() {
    int saved = errno;
    const long me = for_thread_id();
    for (Block& b : g_blocks) {
        if (b.refs.load(std::memory_order_acquire) == 0 || !b.data) continue;
        // The holder is this thread (interrupted while adding a record: the
        // length still counts whole records only), or another thread that
        // is about to let go (the background writer in its write).  One
        // that does not let go is not waited for.
        for (int wait = 0; wait < 500; ++wait) {
            if (b.lock.exchange(1, std::memory_order_acquire) == 0) break;
            if (b.holder.load(std::memory_order_relaxed) == me) break;
            pause_ns(1000 * 1000);
        }
        std::int32_t n = b.length.exchange(0, std::memory_order_acquire);
        if (n > 0) write_all(b.fd.load(std::memory_order_relaxed), b.data, n);
    }
    errno = saved;
}

}  // namespace forrtl
