// The console's line state when standard input is a terminal: a line typed
// after a dollar prompt stays on the prompt's line of the terminal, and the
// next record starts right after it; when standard output is a file, the
// terminal's echo never reaches it, so the next record there starts on a line
// of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "for_exit_handler.h"
#include "for_lub.h"
#include "for_stmt.h"
#include "stmt_items.h"
#include "test_files.h"

using namespace forrtl;
using stmt_test::Items;

namespace {

using testfiles::read_file;

const std::uint32_t kFlags = kCalculatorFlags | SF_FORMAT_TEXT;

int write_text(int unit, const char* format) {
    Items none;
    none.end();
    return format_write_begin(unit, kFlags, reinterpret_cast<const std::uint8_t*>(format),
                              static_cast<std::int32_t>(std::strlen(format)), none.l(), none.a());
}

// In a child process: standard input is the slave side of a new terminal
// holding one typed line, standard output is `out` (a file, or the terminal
// itself); prompt, read the name, write one more record.
[[noreturn]] void prompt_and_answer(const std::string& out, bool output_to_terminal) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::_Exit(90);
    if (write(master, "quartz\n", 7) != 7) std::_Exit(91);
    // The terminal echoes typed input asynchronously; take the echo off the
    // master side before the prompt is written, so what is read there later
    // is the program's output alone, in a fixed order.
    std::string echo;
    while (echo.find('\n') == std::string::npos) {
        pollfd p{master, POLLIN, 0};
        char buf[64];
        if (poll(&p, 1, 5000) <= 0) std::_Exit(93);
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) std::_Exit(94);
        echo.append(buf, std::size_t(n));
    }
    dup2(slave, 0);
    if (output_to_terminal) {
        dup2(slave, 1);
    } else {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
    }
    write_text(6, "('  name ?\?',$)");
    char name[20];
    Items item;
    item.chars(name, 20).end();
    const char* a20 = "(A20)";
    format_read_begin(5, kFlags, reinterpret_cast<const std::uint8_t*>(a20), 5, item.l(), item.a());
    write_text(6, "(' next')");
    if (output_to_terminal) {
        // What the terminal shows, as the master side reads it.
        std::string shown;
        char buf[256];
        pollfd p{master, POLLIN, 0};
        while (poll(&p, 1, 200) > 0) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            shown.append(buf, std::size_t(n));
        }
        std::ofstream(out, std::ios::binary) << shown;
    }
    for_exit_handler();
    std::_Exit(std::string(name, 6) == "quartz" ? 0 : 92);
}

}  // namespace

TEST(ConsoleLine, TypedAnswerAndTheNextRecord) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    const std::string out = ::testing::TempDir() + "console_line_out.txt";
    // Output to a file: the next record begins on a new line.
    EXPECT_EXIT(prompt_and_answer(out, false), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(out), "  name ??\n next\r\n");
    // Output to the same terminal: the typed line, echoed by the terminal,
    // ends the prompt's line, so the run-time writes no line feed of its own
    // after the prompt (the echo itself was taken off before the prompt).
    EXPECT_EXIT(prompt_and_answer(out, true), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(out), "  name ?? next\r\r\n");
    std::remove(out.c_str());
}
