// What the harnesses share: the statement flag word (every branch present,
// so that a failing statement returns its number and the harness goes on),
// item lists chosen by the input, and the split of an input into lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "for_lub.h"
#include "for_units.h"
#include "forrtl/stmt_items.h"

namespace fuzz {

constexpr std::uint32_t kFlags =
    forrtl::kCalculatorFlags | forrtl::SF_ERROR_BRANCH | forrtl::SF_END_BRANCH | forrtl::SF_EOR_BRANCH;

// The next line of `rest` (without its LF); `rest` moves past it.
inline std::string_view take_line(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return line;
}

// Storage for the items of one statement, with a letter per item:
//   b h i k  signed integers of 1, 2, 4, 8 bytes    u  unsigned 4 bytes
//   l        logical 4 bytes                         r d  reals of 4, 8 bytes
//   c z      complex of 4- and 8-byte parts          a  character of 16
//   I        4 integers                              A  3 characters of 5
// Other letters are skipped; at most 16 items.
struct ItemSet {
    struct Slot {
        char code;
        alignas(8) unsigned char bytes[32];
    };
    std::vector<Slot> slots;
    stmt_test::Items items;

    explicit ItemSet(std::string_view codes) {
        slots.reserve(16);
        for (char c : codes) {
            if (slots.size() == 16) break;
            if (!std::strchr("bhikulrdczaIA", c) || c == 0) continue;
            slots.push_back(Slot{c, {}});
            std::memset(slots.back().bytes, 0, sizeof slots.back().bytes);
        }
        for (Slot& s : slots) {
            void* p = s.bytes;
            switch (s.code) {
                case 'b': items.scalar(5, p); break;
                case 'h': items.scalar(7, p); break;
                case 'i': items.scalar(forrtl::TYPE_INT4, p); break;
                case 'k': items.scalar(11, p); break;
                case 'u': items.scalar(10, p); break;
                case 'l': items.scalar(forrtl::TYPE_LOGICAL4, p); break;
                case 'r': items.scalar(forrtl::TYPE_REAL4, p); break;
                case 'd': items.scalar(forrtl::TYPE_REAL8, p); break;
                case 'c': items.scalar(28, p); break;
                case 'z': items.scalar(40, p); break;
                case 'a': items.chars(reinterpret_cast<char*>(p), 16); break;
                case 'I': items.array(forrtl::TYPE_INT4, p, 16); break;
                case 'A': items.char_array(reinterpret_cast<char*>(p), 15, 5); break;
            }
        }
        items.end();
    }
};

// Records of equal length for an internal file: the lines padded with
// blanks to the longest (at least one record of one character).
struct InternalArea {
    std::string text;
    std::int32_t length = 1;
    std::int32_t records = 1;

    explicit InternalArea(std::string_view rest) {
        std::vector<std::string_view> lines;
        while (!rest.empty() && lines.size() < 64) {
            lines.push_back(take_line(rest));
            if (static_cast<std::int32_t>(lines.back().size()) > length)
                length = static_cast<std::int32_t>(lines.back().size());
        }
        if (lines.empty()) lines.push_back({});
        records = static_cast<std::int32_t>(lines.size());
        for (std::string_view line : lines) {
            text.append(line);
            text.append(static_cast<std::size_t>(length) - line.size(), ' ');
        }
    }
};

// Connects `unit` (through its FORTn variable) to `name` in a scratch
// folder of the harness; its first statement opens the file.
inline std::string file_of_unit(std::int32_t unit, const char* name) {
    static std::string folder;
    if (folder.empty()) {
        char pattern[] = "/tmp/loxnar-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) return {};
        folder = pattern;
    }
    const std::string path = folder + "/" + name;
    setenv(("FORT" + std::to_string(unit)).c_str(), path.c_str(), 1);
    return path;
}

// Writes `bytes` as the whole file `path`.
inline bool put_file(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return written;
}

// CLOSE (unit) with its error branch.
inline void close_unit(std::int32_t unit) {
    std::int32_t control = 0;
    const std::uint8_t keywords[4] = {forrtl::ITEM_END_OF_LIST, 0, 0, 0};
    forrtl::for_close(&control, unit, forrtl::SF_ERROR_BRANCH, keywords, nullptr);
}

}  // namespace fuzz
