// Shared pieces of the unit and record tests: a fresh temporary folder per
// test, compiled keyword lists, a minimal writer of literal records and
// file helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "for_io.h"
#include "for_units.h"

namespace unit_test {

using namespace forrtl;

// Every test runs in its own empty folder; the unit table is emptied after
// it.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/loxnar_units_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        for_close_all_units();
        g_exit_running = false;
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
        unsetenv("TMPDIR");
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
    std::filesystem::path old_;
};

// A compiled keyword list with its values.
struct Keywords {
    std::vector<std::uint8_t> list;
    std::vector<ArgWord> args;
    std::vector<std::shared_ptr<std::string>> texts;  // stable storage for the character values

    Keywords& text(std::uint8_t code, const std::string& value) {
        texts.push_back(std::make_shared<std::string>(value));
        list.insert(list.end(), {56, 4, code, 0});
        args.push_back(texts.back()->size());
        args.push_back(reinterpret_cast<ArgWord>(texts.back()->data()));
        return *this;
    }
    Keywords& inline_int(std::uint8_t code, std::int32_t value) {
        list.insert(list.end(), {9, 1, code, 0});
        args.push_back(static_cast<std::uint32_t>(value));
        return *this;
    }
    Keywords& by_address(std::uint8_t type, std::uint8_t code, void* address) {
        list.insert(list.end(), {type, 3, code, 0});
        args.push_back(reinterpret_cast<ArgWord>(address));
        return *this;
    }
    Keywords& out_text(std::uint8_t code, char* buffer, std::size_t length) {
        list.insert(list.end(), {56, 4, code, 0});
        args.push_back(length);
        args.push_back(reinterpret_cast<ArgWord>(buffer));
        return *this;
    }
    const std::uint8_t* done() {
        list.insert(list.end(), {1, 0, 0, 0});
        return list.data();
    }
};

inline int open_unit(std::int32_t unit, Keywords kw, std::uint32_t flags = SF_ERROR_BRANCH) {
    std::int32_t control = 0;
    const std::uint8_t* list = kw.done();
    return for_open(&control, unit, flags, list, kw.args.data());
}

inline int close_unit(std::int32_t unit, Keywords kw = {}, std::uint32_t flags = SF_ERROR_BRANCH) {
    std::int32_t control = 0;
    const std::uint8_t* list = kw.done();
    return for_close(&control, unit, flags, list, kw.args.data());
}

inline int inquire(std::int32_t unit, Keywords kw, std::uint32_t flags = SF_ERROR_BRANCH) {
    std::int32_t control = 0;
    const std::uint8_t* list = kw.done();
    return for_inquire(&control, unit, flags, list, kw.args.data());
}

// A minimal WRITE of literal records: the unit is looked up, connected
// implicitly when needed, and each text becomes one record.
inline Status write_records(std::int32_t unit, const std::vector<std::string>& records, bool dollar_last = false,
                            std::uint32_t flags = SF_ERROR_BRANCH) {
    Lub* lub = nullptr;
    Status s = for_lookup_unit(unit, SK_WRITE, &lub);
    if (s != 0) return s;
    for_copy_statement_options(lub, flags);
    if (!lub->connected) s = for_implicit_open(lub, ACC_SEQUENTIAL, 4, FORM_FORMATTED);
    if (s == 0) for_writable_on_first_write(lub);
    for (std::size_t i = 0; s == 0 && i < records.size(); ++i) {
        s = for_begin_output_record(lub);
        if (s == 0) s = for_record_room(lub, static_cast<std::int32_t>(records[i].size()));
        if (s != 0) break;
        std::memcpy(lub->rec.buffer + lub->rec.pos, records[i].data(), records[i].size());
        lub->rec.pos += static_cast<std::int32_t>(records[i].size());
        if (dollar_last && i + 1 == records.size()) lub->rec.dollar = true;
        s = for_put_record(lub);
    }
    if (s != 0) {
        for_clear_connection(lub);
        for_release_unit(lub);
        return s;
    }
    for_release_unit(lub);
    return 0;
}

// A minimal READ of `count` records (fewer at a failure, whose status is
// returned).
inline Status read_records(std::int32_t unit, int count, std::vector<std::string>& out,
                           std::uint32_t flags = SF_ERROR_BRANCH) {
    Lub* lub = nullptr;
    Status s = for_lookup_unit(unit, SK_READ, &lub);
    if (s != 0) return s;
    for_copy_statement_options(lub, flags);
    if (!lub->connected) s = for_implicit_open(lub, ACC_SEQUENTIAL, 4, FORM_FORMATTED);
    for (int i = 0; s == 0 && i < count; ++i) {
        s = for_get_record(lub);
        if (s == 0) out.emplace_back(lub->rec.buffer + lub->rec.start, lub->rec.buffer + lub->rec.end);
    }
    if (s != 0 && !lub->connected) for_clear_connection(lub);
    for_release_unit(lub);
    return s;
}

inline std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void spit(const std::string& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

inline bool exists(const std::string& file) { return access(file.c_str(), F_OK) == 0; }

// Shows control bytes so that a failing comparison can be read.
inline std::string visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "<CR>";
        else if (c == '\n') out += "<LF>";
        else if (c == '\f') out += "<FF>";
        else if (c < 32) out += "<" + std::to_string(c) + ">";
        else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace unit_test
