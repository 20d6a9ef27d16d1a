// Scratch directories and file-tree helpers for tests.
#pragma once

#include <string>
#include <vector>

// A fresh, empty directory that is removed with everything in it when the
// object goes out of scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const {
        return path_;
    }
    // path() + "/" + relative
    std::string operator/(const std::string &relative) const;

  private:
    std::string path_;
};

std::string ReadFile(const std::string &path);

// Every file and directory under `root`, as sorted paths relative to it;
// directories end in "/".
std::vector<std::string> ListTree(const std::string &root);
