// Files for the tests: whole files read and written as bytes, and a fresh
// scratch folder per test process.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testfiles {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// An empty folder under the temporary folder, its name made unique to this
// process, so that test programs running side by side never share one.
inline std::filesystem::path fresh_dir(const std::string& name) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("loxnar_test_" + name + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace testfiles
