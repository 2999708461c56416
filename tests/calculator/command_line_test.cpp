// The command line: the options, the entry data file's path taken apart
// into a folder and the prompt's answer, and what cannot be answered.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "command_line.h"
#include "test_files.h"

namespace {

using calculator::Action;
using calculator::CommandLine;

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "loxnar");
    return calculator::parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, EntryPathsGiveTheFolderAndTheAnswer) {
    struct Row {
        const char* path;
        const char* folder;
        const char* name;
    };
    const Row rows[] = {
        {"quartz", "", "quartz"},
        {"quartz.dat", "", "quartz"},
        {"examples/quartz.dat", "examples", "quartz"},
        {"examples/quartz", "examples", "quartz"},
        {"/data/x/quartz.dat", "/data/x", "quartz"},
        {"/quartz.dat", "/", "quartz"},
        {"./a b.dat", ".", "a b"},
        {"quartz.imp.dat", "", "quartz.imp"},       // the program adds ".dat" to whatever it is given
        {"QUARTZ.DAT", "", "QUARTZ.DAT"},           // only ".dat" is the program's extension
        {"d/abcdefghijklmnopqrst.dat", "d", "abcdefghijklmnopqrst"},  // 20: the answer's full width
        {" lead.dat", "", " lead"},
    };
    for (const Row& row : rows) {
        const calculator::EntryPath entry = calculator::entry_path(row.path);
        EXPECT_EQ(entry.error, "") << row.path;
        EXPECT_EQ(entry.folder, row.folder) << row.path;
        EXPECT_EQ(entry.name, row.name) << row.path;
    }
}

TEST(CommandLine, AnswersThePromptCannotHoldAreErrors) {
    struct Row {
        const char* path;
        const char* error;
    };
    const Row rows[] = {
        {"d/abcdefghijklmnopqrstu.dat", "the entry name 'abcdefghijklmnopqrstu' has 21 characters; the program takes at most 20"},
        {"trail .dat", "the entry name 'trail ' ends in a blank, which the program drops"},
        {"tab\there", "the entry name 'tab\there' holds a control character"},
        {"folder/", "'folder/' names no entry data file"},
        {"", "'' names no entry data file"},
        {"d/.dat", "'d/.dat' names no entry data file"},
    };
    for (const Row& row : rows) {
        const CommandLine line = parse({row.path});
        EXPECT_EQ(line.action, Action::Error) << row.path;
        EXPECT_EQ(line.error, row.error) << row.path;
    }
}

TEST(CommandLine, Options) {
    struct Row {
        std::vector<const char*> args;
        Action action;
        bool console;
        const char* entry;
        const char* error;
    };
    const Row rows[] = {
        {{}, Action::Run, false, "", ""},
        {{"--console"}, Action::Run, true, "", ""},
        {{"--console", "ex/quartz.dat"}, Action::Run, true, "ex/quartz.dat", ""},
        {{"quartz", "--console"}, Action::Run, true, "quartz", ""},
        {{"--", "-odd.dat"}, Action::Run, false, "-odd.dat", ""},
        {{"--help", "--bogus"}, Action::Help, false, "", ""},
        {{"--version"}, Action::Version, false, "", ""},
        {{"--bogus", "--help"}, Action::Error, false, "", "unknown option '--bogus'"},
        {{"-x"}, Action::Error, false, "", "unknown option '-x'"},
        {{"a", "b"}, Action::Error, false, "a", "one entry at a time: 'a' and 'b'"},
    };
    for (const Row& row : rows) {
        const CommandLine line = parse(row.args);
        const std::string label = row.args.empty() ? "(none)" : row.args.front();
        EXPECT_EQ(line.action, row.action) << label;
        EXPECT_EQ(line.console, row.console) << label;
        EXPECT_EQ(line.entry_given, row.entry) << label;
        EXPECT_EQ(line.error, row.error) << label;
    }
}

TEST(CommandLine, EnteringTheFolder) {
    namespace fs = std::filesystem;
    const fs::path dir = testfiles::fresh_dir("command_line");
    fs::create_directories(dir / "sub");
    const fs::path start = fs::current_path();
    fs::current_path(dir);

    EXPECT_EQ(calculator::enter_entry_folder(parse({})), "");
    EXPECT_EQ(fs::current_path(), dir);
    EXPECT_EQ(calculator::enter_entry_folder(parse({"sub"})), "'sub' is a folder, not an entry data file");
    EXPECT_EQ(calculator::enter_entry_folder(parse({"nosuch/quartz.dat"})),
              "cannot work in the folder 'nosuch': No such file or directory");
    EXPECT_EQ(fs::current_path(), dir);
    EXPECT_EQ(calculator::enter_entry_folder(parse({"sub/quartz.dat"})), "");
    EXPECT_EQ(fs::current_path(), dir / "sub");

    fs::current_path(start);
    fs::remove_all(dir);
}

}  // namespace
