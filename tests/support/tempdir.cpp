#include "tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrun-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string &relative) const {
    return path_ + "/" + relative;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    // In one piece: a character at a time is slow under the sanitizers.
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> ListTree(const std::string &root) {
    std::vector<std::string> paths;
    for (const auto &item : fs::recursive_directory_iterator(root)) {
        std::string relative = fs::relative(item.path(), root).generic_string();
        paths.push_back(item.is_directory() && !item.is_symlink() ? relative + "/" : relative);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}
