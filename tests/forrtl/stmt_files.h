// Files for statement tests: a scratch folder per test, a unit connected to
// a file of it through the FORTn variable (the unit's first statement opens
// it), closing the unit, and the bytes of a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "for_io.h"
#include "for_units.h"
#include "for_lub.h"

namespace stmt_test {

class FileTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char pattern[] = "/tmp/loxnar_stmt_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (int unit : used) close_unit(unit);
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
    }
    // Unit `unit` will open dir/name on its first statement.
    std::string connect(int unit, const std::string& name) {
        std::string path = dir + "/" + name;
        std::string var = "FORT" + std::to_string(unit);
        ::setenv(var.c_str(), path.c_str(), 1);
        used.push_back(unit);
        return path;
    }
    static void close_unit(int unit) {
        std::int32_t control[4] = {0, 0, 0, 0};
        const std::uint8_t keywords[4] = {forrtl::ITEM_END_OF_LIST, 0, 0, 0};
        forrtl::for_close(control, unit, forrtl::SF_ERROR_BRANCH, keywords, nullptr);
    }
    static std::string bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static void put(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    std::vector<int> used;
};

}  // namespace stmt_test
