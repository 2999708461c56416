// The system layer of OPEN: file names (defaults, environment overrides,
// prompting), the reserved device names and their Linux counterparts, full
// paths, temporary files, and opening with POSIX calls.
//
// Devices on Linux: CON and CONOUT$ are standard output, CONIN$ standard
// input, ERR standard error, NUL /dev/null, COM1 to COM4 /dev/ttyS0 to
// /dev/ttyS3 (AUX and LINE /dev/ttyS0), PRN and LPT1 to LPT4 a spool file
// handed to the default printer with lp when the unit is closed, USER a host
// window (standard output without the host).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "for_host.h"
#include "for_open_params.h"
#include "for_reentrancy.h"
#include "for_startup.h"
#include "for_wbuf.h"

namespace forrtl {

namespace {

constexpr int kMaxName = 256;

struct DeviceEntry {
    const char* name;
    int code;
    const char* path;  // Linux device, nullptr for standard handles and spooled printers
};

const DeviceEntry kDevices[] = {
    {"CON", 1, nullptr},      {"USER", -6, nullptr},          {"PRN", -2, nullptr},
    {"COM1", -4, "/dev/ttyS0"}, {"COM2", -2, "/dev/ttyS1"},   {"COM3", -2, "/dev/ttyS2"},
    {"COM4", -2, "/dev/ttyS3"}, {"LPT1", -2, nullptr},        {"LPT2", -2, nullptr},
    {"LPT3", -2, nullptr},    {"LPT4", -2, nullptr},          {"NUL", -3, "/dev/null"},
    {"AUX", -4, "/dev/ttyS0"}, {"ERR", 2, nullptr},           {"LINE", -4, "/dev/ttyS0"},
    {"CONOUT$", 1, nullptr},  {"CONIN$", 0, nullptr},
};

const DeviceEntry* device_entry(const char* stored) {
    for (const DeviceEntry& d : kDevices)
        if (std::strcmp(d.name, stored) == 0) return &d;
    return nullptr;
}

bool is_printer(const char* stored) { return std::strcmp(stored, "PRN") == 0 || std::strncmp(stored, "LPT", 3) == 0; }

// Command-line arguments that supply missing names, each used once.
int g_argc = 0;
char** g_argv = nullptr;
int g_next_arg = 1;

bool has_nul(const char* text, int length) {
    return length > 0 && std::memchr(text, '\0', static_cast<std::size_t>(length)) != nullptr;
}

void trim(char* text, int& length) {
    int start = 0;
    while (start < length && (text[start] == ' ' || text[start] == '\t')) ++start;
    int end = length;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\0' || text[end - 1] == '\t')) --end;
    if (start > 0) std::memmove(text, text + start, static_cast<std::size_t>(end - start));
    length = end - start;
    text[length] = '\0';
}

// Reads one line from standard input byte by byte, so that nothing beyond
// the line is taken from a unit that reads the console later.  False at end
// of input with nothing read.
bool read_console_line(char* buffer, int capacity, int& length) {
    length = 0;
    bool any = false;
    for (;;) {
        char c;
        for_wait_for_input(STDIN_FILENO);
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return any;
        any = true;
        if (c == '\n') break;
        if (c != '\r' && length < capacity - 1) buffer[length++] = c;
    }
    buffer[length] = '\0';
    return true;
}

void prompt_for_name(const Lub* lub, char* name, int& length) {
    while (g_argv && g_next_arg < g_argc) {
        const char* arg = g_argv[g_next_arg++];
        int n = static_cast<int>(std::strlen(arg));
        if (n > kMaxName) n = kMaxName;
        std::memcpy(name, arg, static_cast<std::size_t>(n));
        length = n;
        trim(name, length);
        if (length > 0) return;
    }
    if (g_host) {
        char title[64];
        std::snprintf(title, sizeof title, "%s%d", "Open: Select File for Unit ", lub->unit);
        for (;;) {
            char chosen[kMaxName + 1] = {};
            if (g_host->choose_file(chosen, kMaxName, title) > 0) {
                int n = static_cast<int>(strnlen(chosen, kMaxName));
                std::memcpy(name, chosen, static_cast<std::size_t>(n));
                length = n;
                trim(name, length);
                if (length > 0) return;
                continue;
            }
            int answer = g_host->message_box("A File Must be Selected\r\rTerminate Program?", "File Open Error",
                                             MB_YESNO_BUTTONS | MB_DEFAULT_BUTTON2 | MB_ICON_EXCLAMATION |
                                                 MB_TASK_MODAL);
            if (answer == MB_ANSWER_YES) {
                g_host->program_exit(1);
                std::exit(1);
            }
        }
    }
    char prompt[96];
    int n = std::snprintf(prompt, sizeof prompt, "File name missing or blank - please enter file name\r\nUNIT %d? ",
                          lub->unit);
    for (;;) {
        for_wbuf_flush_all();  // standard output's records before the prompt
        if (write(STDOUT_FILENO, prompt, static_cast<std::size_t>(n)) < 0) return;
        if (!read_console_line(name, kMaxName + 1, length)) {
            length = 0;  // end of input: the name stays empty and the open fails
            name[0] = '\0';
            return;
        }
        trim(name, length);
        if (length > 0) return;
    }
}

bool is_directory(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

// A directory opened where a file is expected is refused as the system
// refuses to create a file over one: closed, errno EISDIR, -1.
int close_as_directory(int fd) {
    close(fd);
    errno = EISDIR;
    return -1;
}

// A FIFO, or a device that is no terminal, connected without ACTION is
// opened for reading only (a first statement that writes opens it for
// writing too, for_writable_on_first_write): opened for reading and
// writing the program would be the FIFO's own writer and never see its
// end.  The open does not wait for a writer to come; the first read waits
// instead (poll), where the end of the run can cut the wait short.  -1 for
// a regular file, a directory, a terminal or a name that cannot be opened
// so: the caller opens it as any other file.
int open_for_reading_only(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat opened;
    if (isatty(fd) || fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Status make_scratch(const OpenParams& params, ResolvedName& out) {
    char dir[kMaxName + 1];
    int dir_length = 0;
    if (params.defaultfile && params.defaultfile_length > 0) {
        dir_length = params.defaultfile_length > kMaxName ? kMaxName : params.defaultfile_length;
        std::memcpy(dir, params.defaultfile, static_cast<std::size_t>(dir_length));
        trim(dir, dir_length);
        if (has_nul(dir, dir_length)) return status_of(MSG_FILE_NAME_ERROR);
    }
    if (dir_length == 0) {
        const char* tmp = std::getenv("TMPDIR");
        if (!tmp || !*tmp) tmp = "/tmp";
        std::snprintf(dir, sizeof dir, "%s", tmp);
        dir_length = static_cast<int>(std::strlen(dir));
    }
    char path[kMaxName * 2];
    int n = std::snprintf(path, sizeof path, "%s%sFORXXXXXX", dir, dir[dir_length - 1] == '/' ? "" : "/");
    if (n >= kMaxName) return status_of(MSG_FILE_NAME_ERROR);
    int fd = mkostemp(path, O_CLOEXEC);
    if (fd < 0) return open_errno_status(errno, false, false);
    if (!full_path(path, out.name, sizeof out.name)) std::snprintf(out.name, sizeof out.name, "%s", path);
    out.length = static_cast<int>(std::strlen(out.name));
    out.scratch_fd = fd;
    return 0;
}

}  // namespace

void for_set_command_line(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    g_next_arg = 1;
}

int device_lookup(const char* name, int length, char* stored) {
    int dot = -1;
    for (int i = length - 1; i >= 0; --i) {
        if (name[i] == '.') {
            dot = i;
            break;
        }
    }
    int base = dot < 0 ? length : dot;
    if (base != 3 && base != 4 && base != 6 && base != 7) return -1;
    // On Linux a name with an extension is an ordinary file whatever its
    // base: only the bare reserved names (an empty extension counts as
    // none, as in "COM1.") stand for devices.  Taking AUX.dat or COM1.dat
    // for the serial line would hang the first READ.
    if (dot >= 0 && dot + 1 < length) return -1;
    for (const DeviceEntry& d : kDevices) {
        if (static_cast<int>(std::strlen(d.name)) != base) continue;
        if (strncasecmp(d.name, name, static_cast<std::size_t>(base)) != 0) continue;
        std::strcpy(stored, d.name);
        return d.code;
    }
    return -1;
}

bool full_path(const char* name, char* out, std::size_t capacity) {
    char joined[4 * kMaxName + 8];
    if (name[0] == '/') {
        if (std::snprintf(joined, sizeof joined, "%s", name) >= static_cast<int>(sizeof joined)) return false;
    } else {
        char cwd[2 * kMaxName + 2];
        if (!getcwd(cwd, sizeof cwd)) return false;
        if (std::snprintf(joined, sizeof joined, "%s/%s", cwd, name) >= static_cast<int>(sizeof joined)) return false;
    }
    // Collapse "//", "/./" and "/x/../" without touching the file system.
    char result[sizeof joined];
    std::size_t len = 0;
    const char* p = joined;
    while (*p) {
        while (*p == '/') ++p;
        if (!*p) break;
        const char* seg = p;
        while (*p && *p != '/') ++p;
        std::size_t seg_len = static_cast<std::size_t>(p - seg);
        if (seg_len == 1 && seg[0] == '.') continue;
        if (seg_len == 2 && seg[0] == '.' && seg[1] == '.') {
            while (len > 0 && result[len - 1] != '/') --len;
            if (len > 0) --len;
            continue;
        }
        result[len++] = '/';
        std::memcpy(result + len, seg, seg_len);
        len += seg_len;
    }
    if (len == 0) result[len++] = '/';
    result[len] = '\0';
    if (len >= static_cast<std::size_t>(kMaxName) || len + 1 > capacity) return false;
    std::memcpy(out, result, len + 1);
    return true;
}

Status resolve_file_name(Lub* lub, const OpenParams& params, ResolvedName& out) {
    out.length = 0;
    out.device_code = -1;
    out.std_fd = -1;
    out.scratch_fd = -1;
    out.name[0] = '\0';
    if (params.status == ST_SCRATCH) return make_scratch(params, out);

    char name[4 * kMaxName + 2];
    int length = 0;
    const int unit = lub->unit;
    auto take = [&](const char* text, std::size_t n) {
        if (n > 4 * kMaxName) n = 4 * kMaxName;
        std::memcpy(name, text, n);
        length = static_cast<int>(n);
        name[length] = '\0';
    };
    bool default_unit = unit >= -4 && unit <= -1 && !(lub->prompt_names && !lub->alt_defaults);
    if (default_unit) {
        static const char* const kVars[] = {"FOR_PRINT", "FOR_TYPE", "FOR_ACCEPT", "FOR_READ"};
        const char* value = std::getenv(kVars[-unit - 1]);
        if (value) {
            take(value, std::strlen(value));
        } else if (unit <= -3) {
            take("CONIN$", 6);
        } else {
            take("CONOUT$", 7);
        }
    } else if (params.file) {
        take(params.file, static_cast<std::size_t>(params.file_length > kMaxName ? kMaxName : params.file_length));
    } else {
        char var[32];
        std::snprintf(var, sizeof var, "FORT%d", unit);
        const char* value = std::getenv(var);
        if (value) {
            take(value, std::strlen(value));
        } else if (unit == 0) {
            take("CONOUT$", 7);
            out.std_fd = STDERR_FILENO;
            out.device_code = 2;
        } else if (unit == 5) {
            take("CONIN$", 6);
        } else if (unit == 6) {
            take("CONOUT$", 7);
        } else if (lub->prompt_names) {
            length = 0;
        } else {
            length = std::snprintf(name, sizeof name, "fort.%d", unit);
        }
    }
    trim(name, length);
    if (length == 0 && lub->prompt_names) prompt_for_name(lub, name, length);
    // A NUL inside the name would cut it short for the system: the file
    // reached would be another one.
    if (length > kMaxName || has_nul(name, length)) return status_of(MSG_FILE_NAME_ERROR);

    if (out.std_fd == STDERR_FILENO) {  // unit 0's default: standard error under the console name
        std::memcpy(out.name, name, static_cast<std::size_t>(length) + 1);
        out.length = length;
        return 0;
    }
    char stored[8] = {};
    int code = device_lookup(name, length, stored);
    if (code != -1) {
        std::strcpy(out.name, stored);
        out.length = static_cast<int>(std::strlen(stored));
        out.device_code = code;
        if (code == 0) out.std_fd = STDIN_FILENO;
        else if (code == 1) out.std_fd = STDOUT_FILENO;
        else if (code == 2) out.std_fd = STDERR_FILENO;
        else if (code == -6 && !g_host) out.std_fd = STDOUT_FILENO;
        return 0;
    }
    char path[6 * kMaxName];
    const char* source = name;
    if (params.defaultfile && params.defaultfile_length > 0 && name[0] != '/') {
        char dir[kMaxName + 2];
        int dir_length = params.defaultfile_length > kMaxName ? kMaxName : params.defaultfile_length;
        std::memcpy(dir, params.defaultfile, static_cast<std::size_t>(dir_length));
        trim(dir, dir_length);
        if (has_nul(dir, dir_length)) return status_of(MSG_FILE_NAME_ERROR);
        std::snprintf(path, sizeof path, "%s%s%s", dir, dir_length > 0 && dir[dir_length - 1] != '/' ? "/" : "",
                      name);
        source = path;
        if (static_cast<int>(std::strlen(path)) > kMaxName) return status_of(MSG_FILE_NAME_ERROR);
    }
    if (length == 0) {
        out.name[0] = '\0';
        out.length = 0;
        return 0;
    }
    if (!full_path(source, out.name, sizeof out.name)) {
        std::size_t n = std::strlen(source);
        if (n >= sizeof out.name) return status_of(MSG_FILE_NAME_ERROR);
        std::memcpy(out.name, source, n + 1);
    }
    out.length = static_cast<int>(std::strlen(out.name));
    return 0;
}

Status open_errno_status(int err, bool compat, bool device) {
    switch (err) {
        case EIO:
            if (device) return status_of(MSG_NO_SUCH_DEVICE);
            return status_of(MSG_OPEN_FAILURE);
        case ENOENT:
        case ENOTDIR:
            if (device) return status_of(MSG_NO_SUCH_DEVICE);
            return status_of(compat ? 602u : unsigned(MSG_FILE_NOT_FOUND));
        case EMFILE:
        case ENFILE:
            return status_of(compat ? 603u : unsigned(MSG_OPEN_FAILURE));
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:  // a directory cannot be opened as a file: access denied
            return status_of(compat ? 600u : unsigned(MSG_PERMISSION_DENIED));
        case ENXIO:
        case ENODEV:
            return status_of(MSG_NO_SUCH_DEVICE);
        case EEXIST:
            return status_of(compat ? 601u : unsigned(MSG_CANNOT_OVERWRITE));
        case ENAMETOOLONG:
        case EINVAL:
            return status_of(MSG_FILE_NAME_ERROR);
        default:
            return status_of(MSG_OPEN_FAILURE);
    }
}

Status open_connection(Lub* lub, const OpenParams& params, const ResolvedName& name) {
    const int code = name.device_code;
    const bool compat = lub->compat_numbering;
    lub->device_code = static_cast<std::int8_t>(code);

    int access_code = params.action ? params.action : params.mode;
    if (access_code == 1) lub->read_only = true;
    if (access_code == 3) lub->write_only = true;
    lub->action = static_cast<std::uint8_t>(access_code);

    // TITLE and IOFOCUS belong to window units: without the host no unit
    // is one.
    if (params.title && (!g_host || (code != -6 && code != 1))) return status_of(564);
    if (params.iofocus_given && params.iofocus && (!g_host || (code != -6 && code != 1))) return status_of(562);

    if (g_host && (code == -6 || ((code == 0 || code == 1 || code == 2) && lub->form == FORM_FORMATTED &&
                                  !lub->direct && !lub->keyed))) {
        lub->window_unit = true;
        if (code == -6) {
            char title[kMaxName + 16];
            if (params.title) {
                int n = params.title_length > kMaxName ? kMaxName : params.title_length;
                std::memcpy(title, params.title, static_cast<std::size_t>(n));
                title[n] = '\0';
            } else {
                std::snprintf(title, sizeof title, "Unit %i", lub->unit);
            }
            int window = g_host->open_window(title);
            if (window < 0) return status_of(MSG_PERMISSION_DENIED);
            lub->handle = window;
            if (params.iofocus) {
                lub->focus_on_write = true;
                if (g_host->select_window(window) == 0) return status_of(654);
            }
        } else {
            lub->handle = -1;  // the current window at each transfer
        }
        return 0;
    }

    if (name.std_fd >= 0) {
        lub->handle = name.std_fd;
        lub->std_handle = true;
        lub->std_input = name.std_fd == STDIN_FILENO;
        lub->char_device = isatty(name.std_fd) != 0;
        if (!lub->char_device) {
            struct stat st;
            lub->char_device = fstat(name.std_fd, &st) == 0 && S_ISCHR(st.st_mode);
        }
        lub->seekable = lseek(name.std_fd, 0, SEEK_CUR) >= 0;
        return 0;
    }

    int st = params.status;
    if ((st == ST_NEW || st == ST_SCRATCH || st == ST_REPLACE) && (lub->read_only || params.access == ACC_APPEND))
        return status_of(MSG_INCONSISTENT_OPEN_CLOSE);

    int fd = -1;
    if (name.scratch_fd >= 0) {
        fd = name.scratch_fd;
        lub->scratch = true;
    } else if (code != -1 && is_printer(name.name)) {
        // Printer output is spooled and handed to lp when the unit closes.
        ResolvedName spool{};
        OpenParams none{};
        none.status = ST_SCRATCH;
        if (Status s = make_scratch(none, spool)) return s;
        fd = spool.scratch_fd;
        lub->spool_path = strdup(spool.name);
        if (!lub->spool_path) {
            close(fd);
            unlink(spool.name);
            return status_of(MSG_NO_MEMORY);
        }
    } else {
        const DeviceEntry* entry = code != -1 ? device_entry(name.name) : nullptr;
        const char* path = entry && entry->path ? entry->path : name.name;
        int flags = O_CLOEXEC | O_NOCTTY;
        int acc = lub->read_only ? O_RDONLY : lub->write_only ? O_WRONLY : O_RDWR;
        if (code == -1) {
            if (st == ST_NEW) flags |= O_CREAT | O_EXCL;
            else if (st == ST_REPLACE) flags |= O_CREAT;
            else if (st != ST_OLD && !lub->read_only) flags |= O_CREAT;
        }
        if (st == ST_OLD) lub->must_exist = true;
        if (code == -1 && access_code == 0 && !lub->read_only && (st == 0 || st == ST_OLD || st == ST_UNKNOWN)) {
            fd = open_for_reading_only(path);
            if (fd >= 0) {
                lub->read_only = true;
                lub->read_only_by_kind = true;
            }
        }
        // A serial line would wait for its carrier: open without waiting,
        // then make the descriptor blocking for the transfers.
        if (code != -1) flags |= O_NONBLOCK;
        if (fd < 0) fd = open(path, flags | acc, 0666);
        if (fd >= 0 && is_directory(fd)) fd = close_as_directory(fd);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == EISDIR) && access_code == 0 &&
            !lub->read_only) {
            int saved = errno;
            fd = open(path, flags | O_RDONLY, 0666);
            if (fd >= 0 && is_directory(fd)) fd = close_as_directory(fd);
            if (fd >= 0) {
                lub->read_only = true;
            } else if (compat) {
                fd = open(path, flags | O_WRONLY, 0666);
                if (fd >= 0) lub->write_only = true;
            }
            if (fd < 0) errno = saved;
        }
        if (fd < 0) {
            lub->system_error = errno;
            return open_errno_status(errno, compat, code != -1);
        }
        if (code != -1) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // Nothing of the file changes before it is known to be the unit's.
        if (Status s = for_share_file(lub, params, fd)) {
            close(fd);
            return s;
        }
        if (st == ST_REPLACE && code == -1 && ftruncate(fd, 0) != 0) {
            lub->system_error = errno;
            close(fd);
            return status_of(MSG_WRITE_ERROR);
        }
    }
    lub->handle = fd;
    struct stat info;
    if (fstat(fd, &info) == 0) lub->char_device = S_ISCHR(info.st_mode);
    lub->seekable = !lub->char_device && lseek(fd, 0, SEEK_CUR) >= 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Sharing with other processes.  A unit that writes a disk file without
// SHARED lets other processes only read it, and a unit that reads lets
// them read; a lock of the kernel's (flock) that every run of the program
// takes says so, and it goes with the process however the process ends.
// An exclusive lock stops another process's OPEN of the file for reading
// or writing, and so its deleting the file too (a delete needs the file
// connected for writing); shared locks stop writers only.  The units of
// one process that reach the same file share one lock, held on a
// duplicate of the first unit's descriptor and made exclusive while any of
// them needs it.

struct FileShare {
    dev_t device;
    ino_t inode;
    int fd;        // holds the lock
    int writers;   // units holding it exclusively
    int others;    // units content with a shared lock
    FileShare* next;
};

namespace {

FileShare* g_shares = nullptr;
std::atomic<std::int32_t> g_shares_lock{0};

enum ShareLock { LOCK_NONE, LOCK_SHARED, LOCK_EXCLUSIVE };

// The lock the unit needs: exclusive when it writes and lets nobody else
// write, none when it only reads and lets others write; SHARE narrows what
// others may do, SHARED and compatibility numbering let them write too.
ShareLock lock_needed(const Lub* lub, const OpenParams& params) {
    enum { kDenyNone = 2, kDenyRead = 3, kDenyReadWrite = 4, kCompat = 1 };
    if (params.share == kDenyReadWrite || params.share == kDenyRead) return LOCK_EXCLUSIVE;
    const bool others_write =
        params.share == kDenyNone || params.share == kCompat || params.shared || lub->compat_numbering;
    if (!others_write) return lub->read_only ? LOCK_SHARED : LOCK_EXCLUSIVE;
    return lub->read_only ? LOCK_NONE : LOCK_SHARED;
}

bool set_lock(int fd, bool exclusive) {
    for (;;) {
        if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
        if (errno != EINTR) return errno != EWOULDBLOCK;  // a file system without locks shares freely
    }
}

}  // namespace

Status for_share_file(Lub* lub, const OpenParams& params, int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    const ShareLock needed = lock_needed(lub, params);
    if (needed == LOCK_NONE) return 0;
    const bool exclusive = needed == LOCK_EXCLUSIVE;
    if (Status s = for_take_lock(g_shares_lock)) return s;
    FileShare* share = g_shares;
    while (share && (share->device != st.st_dev || share->inode != st.st_ino)) share = share->next;
    Status result = 0;
    if (!share) {
        share = static_cast<FileShare*>(std::calloc(1, sizeof(FileShare)));
        const int held = share ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
        if (held < 0) {
            std::free(share);
            share = nullptr;
            result = status_of(MSG_NO_MEMORY);
        } else if (!set_lock(held, exclusive)) {
            close(held);
            std::free(share);
            share = nullptr;
            result = status_of(MSG_OPEN_FAILURE);
        } else {
            *share = FileShare{st.st_dev, st.st_ino, held, 0, 0, g_shares};
            g_shares = share;
        }
    } else if (exclusive && share->writers == 0 && !set_lock(share->fd, true)) {
        // The conversion gave the shared lock up: it is taken again.
        set_lock(share->fd, false);
        share = nullptr;
        result = status_of(MSG_OPEN_FAILURE);
    }
    if (share) {
        ++(exclusive ? share->writers : share->others);
        lub->file_share = share;
        lub->share_exclusive = exclusive;
    } else if (status_number(result) == MSG_OPEN_FAILURE) {
        lub->system_error = EBUSY;  // the file is in use by another process
    }
    for_release_lock(g_shares_lock);
    return result;
}

void for_unshare_file(Lub* lub) {
    FileShare* share = lub->file_share;
    if (!share) return;
    lub->file_share = nullptr;
    // Without the table's lock the share stays as it is: a lock held a
    // little longer, never one given up under another unit.
    if (for_take_lock(g_shares_lock) != 0) return;
    --(lub->share_exclusive ? share->writers : share->others);
    if (share->writers == 0 && share->others == 0) {
        FileShare** link = &g_shares;
        while (*link != share) link = &(*link)->next;
        *link = share->next;
        close(share->fd);
        std::free(share);
    } else if (lub->share_exclusive && share->writers == 0) {
        set_lock(share->fd, false);
    }
    for_release_lock(g_shares_lock);
}

void for_writable_on_first_write(Lub* lub) {
    if (!lub->read_only_by_kind || lub->records > 1 || lub->rec.ahead_count > 0) return;
    int fd = open(lub->name, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (dup3(fd, lub->handle, O_CLOEXEC) >= 0) {
        lub->read_only = false;
        lub->read_only_by_kind = false;
    }
    close(fd);
}

bool same_connection(const Lub* lub, const ResolvedName& name) {
    if (!lub->name) return false;
    auto console = [](const char* n) {
        return std::strcmp(n, "CON") == 0 || std::strcmp(n, "CONOUT$") == 0 || std::strcmp(n, "USER") == 0;
    };
    if (console(lub->name) && console(name.name)) return true;
    if (name.device_code != -1 || lub->device_code != -1 || lub->window_unit || lub->std_handle)
        return std::strcmp(lub->name, name.name) == 0;
    struct stat a, b;
    if (fstat(lub->handle, &a) != 0 || stat(name.name, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int run_command(const char* const argv[], bool wait, bool lower_priority) {
    // The command may write to the same standard output and error.
    for_wbuf_flush_all();
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (!wait) {
            // Detach: the grandchild runs the command, nobody waits for it.
            pid_t grandchild = fork();
            if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
            setsid();
        }
        if (lower_priority) setpriority(PRIO_PROCESS, 0, 10);
        for_default_signals_for_child();
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace forrtl
