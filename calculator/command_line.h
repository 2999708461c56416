// The program's command line, `loxnar [--console] [ENTRY]` with --help and
// --version, and the rule that turns an entry data file's path into the
// folder to work in and the name to answer the entry-name prompt with.
// Plain functions over strings: no file is opened and nothing is printed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace calculator {

// The longest answer the entry-name prompt keeps: its (A20) read.
constexpr std::size_t kEntryNameLength = 20;

// An entry data file as the program can be given it.
struct EntryPath {
    std::string folder;  // the folder of the file; empty for the current one
    std::string name;    // NAME: the answer to the prompt, without ".dat"
    std::string error;   // why the path cannot be answered; empty when it can
};

// "path/to/NAME.dat", "path/to/NAME" or "NAME": its folder and NAME.  The
// name must come out of the prompt's answer as it went in: at most 20
// bytes, not empty, no control character and no blank at its end (the
// program drops trailing blanks).
EntryPath entry_path(std::string_view path);

enum class Action { Run, Help, Version, Error };

struct CommandLine {
    Action action = Action::Run;
    bool console = false;     // --console: standard input and output, even with a display
    std::string entry_given;  // ENTRY as given; empty when none
    EntryPath entry;          // ENTRY taken apart (when given)
    std::string error;        // Action::Error: what is wrong, for standard error
};

// The arguments after the program name, in order: the first of --help,
// --version or an unknown option decides; "--" ends the options; at most
// one ENTRY.  An ENTRY that cannot be answered is an error.
CommandLine parse_command_line(int argc, const char* const* argv);

// Moves the process into the folder of the entry file `given` (taken
// apart as `entry`).  An empty text, or what is wrong: a folder that
// cannot be entered, or a `given` that is itself a folder.
std::string enter_entry_folder(const std::string& given, const EntryPath& entry);
// The same for the command line's ENTRY (nothing to do without one).
std::string enter_entry_folder(const CommandLine& line);

// An entry data file the user opened or dropped in the window: the process
// moves into its folder and `line` receives the answer to type.  False
// with the reason in `error` (a sentence) when it cannot be answered.
bool accept_entry_file(const char* path, std::string* line, std::string* error);

// The text of --help.
extern const char kUsage[];

}  // namespace calculator
