// End-to-end runs of the loxnar program: each test runs build/loxnar in a
// fresh temporary folder with an entry data file and a typed name on
// standard input, then compares the results file and the console output
// byte for byte with the date and time stamps masked.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// Replaces the digits of every stamp with letters, so that listings taken at
// different times compare equal.
std::string mask_stamps(const std::string& text) {
    static const std::regex date(R"( DATE : \d{4}/\d{2}/\d{2})");
    static const std::regex time(R"(TIME (.{3}):  \d{2}h\d{2}mn\d{2}s)");
    std::string s = std::regex_replace(text, date, " DATE : YYYY/MM/DD");
    return std::regex_replace(s, time, "TIME $1:  HHhMMmnSSs");
}

struct Run {
    int exit_status = -1;
    std::string out, err;
};

class LoxnarRun : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/loxnar-run-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void entry(const std::string& name, const std::string& text) { write_file(dir_ / (name + ".dat"), text); }

    Run run(const std::string& typed, const std::string& env = "") {
        write_file(dir_ / "stdin.txt", typed);
        std::string cmd = "cd '" + dir_.string() + "' && " + env + " '" LOXNAR_BINARY_DIR "/loxnar' --console" +
                          " < stdin.txt > stdout.txt 2> stderr.txt";
        int status = std::system(cmd.c_str());
        Run r;
        r.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = read_file(dir_ / "stdout.txt");
        r.err = read_file(dir_ / "stderr.txt");
        return r;
    }

    std::string results(const std::string& name) { return read_file(dir_ / name); }

    fs::path dir_;
};

}  // namespace
