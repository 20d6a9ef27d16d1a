#include "safe_name.h"

#include <cstring>

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool IsSafeName(const char *name) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    if (std::strpbrk(name, "/\\") != nullptr) {
        return false;
    }
    // "C:" and "C:name" are drive-relative paths on Windows.
    if (IsAsciiLetter(name[0]) && name[1] == ':') {
        return false;
    }
    return true;
}
