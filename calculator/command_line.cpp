#include "command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace calculator {

const char kUsage[] =
    "Usage: loxnar [--console] [ENTRY]\n"
    "Lists the lattice planes (hkl) of a unit cell whose spacing d lies in a\n"
    "window, with each plane's Bragg angle 2-theta.\n"
    "\n"
    "The program asks for an entry name NAME, reads the cases of NAME.dat and\n"
    "writes the stamped listing to NAME.imp.dat (an old one is deleted after\n"
    "a warning). The banner, stamps and plane table also go to the console.\n"
    "\n"
    "ENTRY answers that question: an entry name, or the path of an entry data\n"
    "file (path/to/NAME.dat or path/to/NAME). The program then works in the\n"
    "file's folder, so the listing lands beside it, and shows NAME after the\n"
    "prompt as if it had been typed. A folder that does not exist, or a NAME\n"
    "that the answer cannot hold (more than 20 characters, a blank at its\n"
    "end), ends the program with status 2 before anything is opened.\n"
    "\n"
    "When a display is available (DISPLAY or WAYLAND_DISPLAY is set, or\n"
    "QT_QPA_PLATFORM names a platform) the console is a window: type the entry\n"
    "name there, or choose File > Open Entry File..., or drop the file on the\n"
    "window; at the end the program asks whether to close the window.\n"
    "Without a display, or with --console, it runs on standard input and\n"
    "output.\n"
    "\n"
    "Exit status: 0 when every case was listed; after a run-time error the\n"
    "low 8 bits of its status code (29: the entry data file was not found);\n"
    "2 for a command line it cannot follow.\n"
    "\n"
    "  --console   run on standard input and output, even with a display\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

namespace {

constexpr std::string_view kEntryExtension = ".dat";

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

EntryPath entry_path(std::string_view path) {
    EntryPath entry;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) entry.folder = std::string(path.substr(0, slash == 0 ? 1 : slash));
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() > kEntryExtension.size() && name.substr(name.size() - kEntryExtension.size()) == kEntryExtension) {
        name.remove_suffix(kEntryExtension.size());
    }
    entry.name = std::string(name);
    if (name.empty() || name == kEntryExtension) {
        entry.error = quoted(path) + " names no entry data file";
    } else if (name.size() > kEntryNameLength) {
        entry.error = "the entry name " + quoted(name) + " has " + std::to_string(name.size()) +
                      " characters; the program takes at most " + std::to_string(kEntryNameLength);
    } else if (name.back() == ' ') {
        entry.error = "the entry name " + quoted(name) + " ends in a blank, which the program drops";
    } else {
        for (const char c : name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                entry.error = "the entry name " + quoted(name) + " holds a control character";
                break;
            }
        }
    }
    return entry;
}

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine line;
    auto fail = [&line](std::string error) {
        line.action = Action::Error;
        line.error = std::move(error);
        return line;
    };
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--help") {
            line.action = Action::Help;
            return line;
        } else if (options && arg == "--version") {
            line.action = Action::Version;
            return line;
        } else if (options && arg == "--console") {
            line.console = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + quoted(arg));
        } else if (!line.entry_given.empty()) {
            return fail("one entry at a time: " + quoted(line.entry_given) + " and " + quoted(arg));
        } else {
            line.entry_given = std::string(arg);
            line.entry = entry_path(arg);
            if (!line.entry.error.empty()) return fail(line.entry.error);
        }
    }
    return line;
}

std::string enter_entry_folder(const std::string& given, const EntryPath& entry) {
    struct stat st;
    if (stat(given.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return quoted(given) + " is a folder, not an entry data file";
    if (entry.folder.empty() || chdir(entry.folder.c_str()) == 0) return std::string();
    return "cannot work in the folder " + quoted(entry.folder) + ": " + std::strerror(errno);
}

std::string enter_entry_folder(const CommandLine& line) {
    return line.entry_given.empty() ? std::string() : enter_entry_folder(line.entry_given, line.entry);
}

bool accept_entry_file(const char* path, std::string* line, std::string* error) {
    const EntryPath entry = entry_path(path);
    *error = entry.error.empty() ? enter_entry_folder(path, entry) : entry.error;
    if (error->empty()) {
        *line = entry.name;
        return true;
    }
    if ((*error)[0] >= 'a' && (*error)[0] <= 'z') (*error)[0] = static_cast<char>((*error)[0] - 'a' + 'A');
    *error += ".";
    return false;
}

}  // namespace calculator
